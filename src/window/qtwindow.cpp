#include "qtwindow.h"

#include "application.h"
#include "lamp.h"
#include "messagepanel.h"
#include "pictures.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

namespace qmr {

namespace {

// The program icon, compiled in from dist/qmrconfig.svg (see CMakeLists.txt).
const char *const ProgramIconPath = ":/icons/qmrconfig.svg";

// The form speaks UTF-8 std::string; the widgets hold QString.
QString fromUtf8(const std::string &text)
{
    return QString::fromStdString(text);
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The system highlight colour (also standing in for the active caption colour): the style's
// own where it has one, a dark blue otherwise.
QColor highlightColour()
{
    const QColor colour = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    return colour.isValid() && colour.alpha() > 0 ? colour : QColor(0, 0, 128);
}

// Text colour on background colour, for every role a label, a list or a button paints with.
void paint(QWidget *widget, const QColor &background, const QColor &foreground)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::Button, background);
        palette.setColor(group, QPalette::WindowText, foreground);
        palette.setColor(group, QPalette::Text, foreground);
        palette.setColor(group, QPalette::ButtonText, foreground);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QColor qtColour(const Colour &colour, const QPalette &palette)
{
    switch (colour.system) {
    case SystemColour::ButtonFace:
        return palette.color(QPalette::Button);
    case SystemColour::ButtonText:
        return palette.color(QPalette::ButtonText);
    case SystemColour::Highlight:
    case SystemColour::ActiveCaption:
        return highlightColour();
    case SystemColour::Fixed:
        break;
    }
    return QColor(colour.red, colour.green, colour.blue);
}

void paintRole(QWidget *widget, ColourRole role)
{
    if (role == ColourRole::Face)
        return;
    const ColourSpec colours = colourSpec(role);
    if (colours.background.system == SystemColour::ButtonFace) {
        // On the button face only the text takes the role's colour.
        QPalette palette = widget->palette();
        palette.setColor(QPalette::ButtonText, qtColour(colours.text, palette));
        widget->setPalette(palette);
        return;
    }
    paint(widget, qtColour(colours.background, widget->palette()),
          qtColour(colours.text, widget->palette()));
}

QIcon pictureIcon(Picture picture)
{
    switch (picture) {
    case Picture::Magnifier:
        return Pictures::magnifier();
    case Picture::IdCard:
        return Pictures::idCard();
    case Picture::LineSetting:
        return Pictures::lineSetting();
    case Picture::ModeSwitch:
        return Pictures::modeSwitch();
    case Picture::ProgressBar:
        return Pictures::progressBar();
    case Picture::CloseCross:
        return Pictures::closeCross();
    default:
        return {};
    }
}

QLabel *makePanel(QWidget *parent, Control id)
{
    QLabel *label = id == Control::pnMsg ? new MessagePanel(parent) : new QLabel(parent);
    // The message line's bevel is the deeper one.
    label->setFrameStyle(id == Control::pnMsg ? QFrame::WinPanel | QFrame::Sunken
                                              : QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QComboBox *makeList(QWidget *parent, const std::vector<std::string> &items)
{
    auto *combo = new QComboBox(parent);
    combo->setEditable(false);
    for (const std::string &item : items)
        combo->addItem(fromUtf8(item));
    // In the open list the chosen line is shown inverted, so it stands out from the others.
    QPalette popup = combo->view()->palette();
    popup.setColor(QPalette::Highlight, qtColour(colourSpec(ColourRole::Value).text, popup));
    popup.setColor(QPalette::HighlightedText, highlightColour());
    combo->view()->setPalette(popup);
    return combo;
}

QScrollBar *makeScrollBar(QWidget *parent)
{
    auto *bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setRange(MinReaderId, MaxReaderId);
    bar->setSingleStep(IdSmallStep);
    bar->setPageStep(IdLargeStep);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

} // namespace

QtWindow::QtWindow(Link &link, Clock &clock, SettingsStore &store, Beeper &beeper,
                   const LanguageTable &languages, QWidget *parent)
    : QWidget(parent), m_form(link, clock, store, languages, *this), m_beeper(beeper),
      m_errorBox([](QWidget *owner, const QString &title, const QString &text) {
          QMessageBox::critical(owner, title, text);
      })
{
    setObjectName(QLatin1String(controlName(Control::frmModule)));
    setWindowIcon(programIcon());
    QPalette face = palette();
    face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    setFixedSize(FormWidth, FormHeight);
    // No close command anywhere in the title bar or the window menu, and no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);

    m_tick = new QTimer(this);
    m_tick->setObjectName(QStringLiteral("tmrBusy"));
    m_tick->setInterval(TickIntervalMs);
    connect(m_tick, &QTimer::timeout, this, [this] { m_form.tick(); });

    m_form.create();
    applyFonts();

    if (QScreen *desktop = screen())
        move(desktop->availableGeometry().center() - QPoint(FormWidth / 2, FormHeight / 2));
}

QtWindow::~QtWindow()
{
    setWaitCursor(false);
}

QIcon QtWindow::programIcon()
{
    return QIcon(QString::fromLatin1(ProgramIconPath));
}

void QtWindow::createControl(const ControlSpec &entry, const std::vector<std::string> &items)
{
    QWidget *parent = entry.parent == Control::None ? this : widget(entry.parent);
    QWidget *made = makeWidget(entry, parent, items);
    made->setObjectName(QLatin1String(entry.name));
    if (entry.kind != ControlKind::Page)
        made->setGeometry(entry.box.x, entry.box.y, entry.box.width, entry.box.height);
    // The lamp paints itself over the message line it sits on.
    if (entry.kind != ControlKind::Lamp)
        paintRole(made, entry.colour);
    m_widgets[entry.id] = made;
}

QWidget *QtWindow::makeWidget(const ControlSpec &entry, QWidget *parent,
                              const std::vector<std::string> &items)
{
    switch (entry.kind) {
    case ControlKind::Panel:
        return makePanel(parent, entry.id);
    case ControlKind::Lamp: {
        m_lamp = new Lamp(parent);
        // The message line keeps its text clear of the lamp at its right end.
        if (auto *line = qobject_cast<MessagePanel *>(parent))
            line->setReservedRight(line->width() - entry.box.x - 2);
        return m_lamp;
    }
    case ControlKind::Label: {
        auto *label = new QLabel(parent);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ControlKind::Button:
        return makeButton(entry, parent);
    case ControlKind::ScrollBar: {
        QScrollBar *bar = makeScrollBar(parent);
        connect(bar, &QScrollBar::valueChanged, this,
                [this, id = entry.id] { m_form.positionChanged(id); });
        return bar;
    }
    case ControlKind::List:
        return makeList(parent, items);
    case ControlKind::CheckBox:
        return new QCheckBox(parent);
    case ControlKind::GroupBox:
        return new QGroupBox(parent);
    case ControlKind::PageControl: {
        auto *pages = new QTabWidget(parent);
        pages->setDocumentMode(true); // the tab is drawn as a flat button, not a notebook tab
        pages->setFocusPolicy(Qt::NoFocus);
        pages->tabBar()->setFocusPolicy(Qt::NoFocus);
        return pages;
    }
    case ControlKind::Page: {
        auto *page = new QWidget;
        qobject_cast<QTabWidget *>(parent)->addTab(page, QString());
        return page;
    }
    }
    return new QWidget(parent);
}

QWidget *QtWindow::makeButton(const ControlSpec &entry, QWidget *parent)
{
    QAbstractButton *button = nullptr;
    if (entry.picture == Picture::QuickSetting) {
        const QuickPicture picture = quickPicture(entry.id);
        const QPixmap drawn = Pictures::quickSetting(
            fromUtf8(picture.headline), fromUtf8(picture.line1), fromUtf8(picture.line2));
        auto *tall = new QToolButton(parent);
        tall->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        tall->setIcon(QIcon(drawn));
        tall->setIconSize(drawn.size());
        tall->setFocusPolicy(Qt::StrongFocus);
        button = tall;
    } else {
        auto *push = new QPushButton(parent);
        push->setIconSize(QSize(20, 20));
        // Enter is the form's: a focused button passes it on to the window.
        push->setAutoDefault(false);
        push->setDefault(entry.id == DefaultButton);
        if (entry.picture == Picture::LanguageMark) {
            // The characters drawn as a red picture; held as the name a screen reader says.
            const QString characters = fromUtf8(entry.caption.before);
            const QPixmap mark = Pictures::languageMark(characters);
            push->setIcon(QIcon(mark));
            push->setIconSize(mark.size());
        } else {
            push->setIcon(pictureIcon(entry.picture));
        }
        button = push;
    }
    // A quick second click arrives as a click of its own.
    connect(button, &QAbstractButton::clicked, this, [this, id = entry.id] { m_form.click(id); });
    return button;
}

void QtWindow::setTabOrder(std::span<const Control> order)
{
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(widget(order[i - 1]), widget(order[i]));
}

QWidget *QtWindow::widget(Control id) const
{
    if (id == Control::frmModule)
        return const_cast<QtWindow *>(this);
    const auto found = m_widgets.find(id);
    return found == m_widgets.end() ? nullptr : found->second;
}

template <typename T> T *QtWindow::widgetAs(Control id) const
{
    return qobject_cast<T *>(widget(id));
}

void QtWindow::applyFonts()
{
    setFont(Pictures::windowFont(16, true, m_script));
    for (const ControlSpec &entry : formInventory()) {
        const FontSpec font = fontSpec(entry.font);
        if (QWidget *each = widget(entry.id); each && entry.kind != ControlKind::Page)
            each->setFont(Pictures::windowFont(font.pixelHeight, font.bold, m_script));
    }
}

void QtWindow::setScript(Script script)
{
    if (script == m_script)
        return;
    m_script = script;
    applyFonts();
}

void QtWindow::setText(Control id, const std::string &text)
{
    const QString shown = fromUtf8(text);
    if (id == Control::frmModule) {
        // The title row alone: the program never sets an application display name, which Qt
        // on X11 would append to every window title.
        setWindowTitle(shown);
    } else if (id == Control::tsDefault) {
        auto *pages = widgetAs<QTabWidget>(Control::pcDefault);
        pages->setTabText(pages->indexOf(widget(id)), shown);
    } else if (auto *group = widgetAs<QGroupBox>(id)) {
        group->setTitle(shown);
    } else if (controlSpec(id).picture == Picture::LanguageMark) {
        // The picture shows the characters; they are the name a screen reader says.
        widget(id)->setAccessibleName(shown);
    } else if (auto *button = widgetAs<QAbstractButton>(id)) {
        button->setText(shown);
    } else if (auto *label = widgetAs<QLabel>(id)) {
        label->setText(shown);
    }
    if (id == Control::pnMsg) {
        // The message line is what a screen reader user must hear after every step.
        QWidget *line = widget(id);
        line->setAccessibleName(shown);
        line->setAccessibleDescription(shown);
        QAccessibleEvent event(line, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

std::string QtWindow::text(Control id) const
{
    if (id == Control::frmModule)
        return windowTitle().toStdString();
    if (auto *group = widgetAs<QGroupBox>(id))
        return group->title().toStdString();
    if (controlSpec(id).picture == Picture::LanguageMark)
        return widget(id)->accessibleName().toStdString();
    if (auto *button = widgetAs<QAbstractButton>(id))
        return button->text().toStdString();
    if (auto *label = widgetAs<QLabel>(id))
        return label->text().toStdString();
    return {};
}

void QtWindow::setDetail(const std::string &text)
{
    QWidget *line = widget(Control::pnMsg);
    const QString detail = fromUtf8(text);
    // An empty detail removes the tooltip, also one on screen right now, so the reason of an
    // earlier failure does not outlive the operation that succeeded after it.
    if (detail.isEmpty() && QToolTip::isVisible() && QToolTip::text() == line->toolTip())
        QToolTip::hideText();
    line->setToolTip(detail);
}

int QtWindow::selection(Control list) const
{
    return widgetAs<QComboBox>(list)->currentIndex();
}

void QtWindow::select(Control list, int index)
{
    widgetAs<QComboBox>(list)->setCurrentIndex(index);
}

int QtWindow::position(Control bar) const
{
    return widgetAs<QScrollBar>(bar)->value();
}

void QtWindow::setPosition(Control bar, int position)
{
    auto *scrollBar = widgetAs<QScrollBar>(bar);
    const QSignalBlocker quiet(scrollBar);
    scrollBar->setValue(position);
}

bool QtWindow::checked(Control box) const
{
    return widgetAs<QCheckBox>(box)->isChecked();
}

void QtWindow::setChecked(Control box, bool on)
{
    widgetAs<QCheckBox>(box)->setChecked(on);
}

void QtWindow::setEnabled(Control id, bool enabled)
{
    if (QWidget *each = widget(id))
        each->QWidget::setEnabled(enabled);
}

void QtWindow::setLamp(LampColour colour)
{
    m_lamp->setColour(colour == LampColour::Yellow ? Lamp::Yellow : Lamp::Red);
}

Control QtWindow::focus() const
{
    QWidget *focused = QApplication::focusWidget();
    if (!focused || focused == this || !isAncestorOf(focused))
        return Control::None;
    return controlByName(focused->objectName().toStdString());
}

void QtWindow::setFocus(Control id)
{
    if (id == Control::None) {
        if (QWidget *focused = QApplication::focusWidget(); focused && isAncestorOf(focused))
            focused->clearFocus();
        return;
    }
    if (QWidget *target = widget(id))
        target->setFocus(Qt::OtherFocusReason);
}

bool QtWindow::isActive() const
{
    return isActiveWindow();
}

void QtWindow::setTickRunning(bool running)
{
    if (running)
        m_tick->start();
    else
        m_tick->stop();
}

void QtWindow::setWaitCursor(bool on)
{
    // Kept balanced: the override cursor stack never grows beyond the one hourglass.
    if (on == m_waitCursor)
        return;
    m_waitCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void QtWindow::beep(int frequencyHz, int durationMs)
{
    m_beeper.Beep(frequencyHz, durationMs);
}

void QtWindow::pumpEvents()
{
    QCoreApplication::processEvents();
}

void QtWindow::showError(const std::string &text)
{
    m_errorBox(this, Application::programName(), fromUtf8(text));
}

void QtWindow::closeWindow()
{
    QWidget::close();
}

void QtWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        m_form.FormShow();
    }
}

void QtWindow::closeEvent(QCloseEvent *event)
{
    // Title bar, window menu and window manager all ask through here.
    if (m_form.closeRequested())
        event->accept();
    else
        event->ignore();
}

void QtWindow::keyPressEvent(QKeyEvent *event)
{
    // Enter reaches the window when the focused control has no use for it (an open list
    // takes it to close itself and never passes it on).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_form.enter();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QtWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        m_form.activationChanged(isActiveWindow());
}

} // namespace qmr

#include "tfrmmodule.h"

#include "application.h"
#include "lamp.h"
#include "link/linedefinition.h"
#include "messagepanel.h"
#include "operations/processmode.h"
#include "operations/quicksettings.h"
#include "operations/scan.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "pictures.h"
#include "settings/settingsstore.h"

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
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

namespace qmr {

namespace {

constexpr int IdMinimum = 1;
constexpr int IdMaximum = 99;
constexpr int IdPageStep = 10;

const QColor Purple(128, 0, 128);

// The program icon, compiled in from dist/qmrconfig.svg (see CMakeLists.txt).
const char *const ProgramIconPath = ":/icons/qmrconfig.svg";

// The view speaks UTF-8 std::string; the controls hold QString.
QString fromUtf8(const std::string &text)
{
    return QString::fromStdString(text);
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

QLabel *panel(QWidget *parent, const char *name, const QRect &box)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(box);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel *valuePanel(QWidget *parent, const char *name, const QRect &box)
{
    QLabel *label = panel(parent, name, box);
    paint(label, highlightColour(), Qt::yellow);
    return label;
}

QLabel *caption(QWidget *parent, const char *name, const QRect &box)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(box);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    label->setFont(Pictures::windowFont(13, false));
    return label;
}

QPushButton *button(QWidget *parent, const char *name, const QRect &box, const QIcon &icon)
{
    auto *push = new QPushButton(parent);
    push->setObjectName(QLatin1String(name));
    push->setGeometry(box);
    push->setIcon(icon);
    push->setIconSize(QSize(20, 20));
    // As on the system this tool comes from, a focused button takes the Enter key.
    push->setAutoDefault(true);
    return push;
}

QScrollBar *idScrollBar(QWidget *parent, const char *name, const QRect &box)
{
    auto *bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QLatin1String(name));
    bar->setGeometry(box);
    bar->setRange(IdMinimum, IdMaximum);
    bar->setSingleStep(1);
    bar->setPageStep(IdPageStep);
    bar->setValue(IdMinimum);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

QComboBox *list(QWidget *parent, const char *name, const QRect &box, const QStringList &items)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setGeometry(box);
    combo->setEditable(false);
    combo->addItems(items);
    paint(combo, highlightColour(), Qt::yellow);
    // In the open list the chosen line is shown inverted, so it stands out from the others.
    QPalette popup = combo->view()->palette();
    popup.setColor(QPalette::Highlight, Qt::yellow);
    popup.setColor(QPalette::HighlightedText, highlightColour());
    combo->view()->setPalette(popup);
    return combo;
}

QToolButton *quickButton(QWidget *parent, const char *name, const QRect &box,
                         const QPixmap &picture)
{
    auto *tool = new QToolButton(parent);
    tool->setObjectName(QLatin1String(name));
    tool->setGeometry(box);
    tool->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tool->setIcon(QIcon(picture));
    tool->setIconSize(picture.size());
    tool->setFocusPolicy(Qt::StrongFocus);
    tool->setFont(Pictures::windowFont(16, true));
    return tool;
}

QPushButton *languageButton(QWidget *parent, const char *name, const QRect &box,
                            const QString &characters)
{
    const QPixmap mark = Pictures::languageMark(characters);
    QPushButton *push = button(parent, name, box, QIcon(mark));
    push->setIconSize(mark.size());
    push->setAccessibleName(characters);
    return push;
}

} // namespace

TfrmModule::TfrmModule(Link &link, Clock &clock, SettingsStore &store, Beeper &beeper,
                       const LanguageTable &languages, QWidget *parent)
    : QWidget(parent), m_context{link, clock, m_settings, store, *this}, m_beeper(beeper),
      m_languages(languages),
      m_errorBox([](QWidget *owner, const QString &title, const QString &text) {
          QMessageBox::critical(owner, title, text);
      })
{
    setObjectName(QStringLiteral("frmModule"));
    setWindowIcon(programIcon());
    setFont(Pictures::windowFont(16, true));
    QPalette face = palette();
    face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    setFixedSize(ClientWidth, ClientHeight);

    createControls();
    applyTabOrder();
    FormCreate();

    if (QScreen *desktop = screen())
        move(desktop->availableGeometry().center() - QPoint(ClientWidth / 2, ClientHeight / 2));
}

TfrmModule::~TfrmModule()
{
    setWaitCursor(false);
}

void TfrmModule::createControls()
{
    pnMsg = new MessagePanel(this);
    pnMsg->setObjectName(QStringLiteral("pnMsg"));
    pnMsg->setGeometry(8, 4, 345, 40);
    pnMsg->setAlignment(Qt::AlignCenter);
    pnMsg->setTextFormat(Qt::PlainText);
    pnMsg->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    paint(pnMsg, highlightColour(), Qt::white);
    pnMsg->setReservedRight(345 - 310 - 2);
    shComm = new Lamp(pnMsg);
    shComm->setObjectName(QStringLiteral("shComm"));
    shComm->setGeometry(310, 8, 23, 20);
    shComm->setColour(Lamp::Red);

    pnSerial = valuePanel(this, "pnSerial", {8, 48, 169, 28});
    pnVersion = valuePanel(this, "pnVersion", {184, 48, 169, 28});
    btnScan = button(this, "btnScan", {8, 78, 345, 33}, Pictures::magnifier());
    btnScan->setDefault(true);

    lblID = caption(this, "lblID", {8, 125, 57, 22});
    pnID = valuePanel(this, "pnID", {68, 122, 33, 25});
    sbID = idScrollBar(this, "sbID", {104, 123, 73, 23});
    lblID2 = caption(this, "lblID2", {184, 125, 57, 22});
    pnID2 = valuePanel(this, "pnID2", {244, 122, 33, 25});
    sbID2 = idScrollBar(this, "sbID2", {280, 123, 73, 23});
    pnID->setText(QStringLiteral("__"));
    pnID2->setText(QStringLiteral("__"));
    btnID = button(this, "btnID", {8, 150, 345, 33}, Pictures::idCard());

    lblBaudRate = caption(this, "lblBaudRate", {8, 197, 153, 22});
    QStringList lines;
    for (const char *line : BaudRateTable)
        lines << QLatin1String(line);
    cmbBaudRate = list(this, "cmbBaudRate", {168, 192, 161, 28}, lines);
    chkLock = new QCheckBox(this);
    chkLock->setObjectName(QStringLiteral("chkLock"));
    chkLock->setGeometry(336, 196, 17, 17);
    chkLock->setChecked(true);
    btnBaudRate = button(this, "btnBaudRate", {8, 222, 345, 33}, Pictures::lineSetting());

    cmbMode = list(this, "cmbMode", {8, 264, 169, 28},
                   {QStringLiteral("Two Reader"), QStringLiteral("One Reader")});
    QStringList rs485Items;
    for (const int value : Rs485Values)
        rs485Items << QStringLiteral("RS485 %1").arg(value);
    cmbRS485 = list(this, "cmbRS485", {184, 264, 171, 28}, rs485Items);
    btnMode = button(this, "btnMode", {8, 295, 345, 33}, Pictures::modeSwitch());

    pnQMR1 = valuePanel(this, "pnQMR1", {8, 336, 169, 28});
    pnQMR2 = valuePanel(this, "pnQMR2", {184, 336, 169, 28});
    btnProcess = button(this, "btnProcess", {8, 368, 345, 33}, Pictures::progressBar());

    gbDefault = new QGroupBox(this);
    gbDefault->setObjectName(QStringLiteral("gbDefault"));
    gbDefault->setGeometry(360, 4, 193, 325);
    pcDefault = new QTabWidget(gbDefault);
    pcDefault->setObjectName(QStringLiteral("pcDefault"));
    pcDefault->setGeometry(6, 26, 182, 294);
    pcDefault->setDocumentMode(true); // the tab is drawn as a flat button, not a notebook tab
    pcDefault->setFont(Pictures::windowFont(16, false));
    pcDefault->setFocusPolicy(Qt::NoFocus);
    pcDefault->tabBar()->setFocusPolicy(Qt::NoFocus);
    tsDefault = new QWidget;
    tsDefault->setObjectName(QStringLiteral("tsDefault"));
    pcDefault->addTab(tsDefault, QString());
    btnFactory =
        quickButton(tsDefault, "btnFactory", {4, 6, 165, 121},
                    Pictures::quickSetting(QStringLiteral("TAVEX"), QStringLiteral("19200,e,8,1"),
                                           QStringLiteral("TWO ID:1,5")));
    btnOne =
        quickButton(tsDefault, "btnOne", {4, 134, 165, 121},
                    Pictures::quickSetting(QStringLiteral("READER"), QStringLiteral("19200,e,8,1"),
                                           QStringLiteral("ONE ID:01")));

    btnEng = button(this, "btnEng", {359, 336, 62, 24}, QIcon());
    btnEng->setText(QStringLiteral("English"));
    btnEng->setFont(Pictures::windowFont(13, false));
    QPalette red = btnEng->palette();
    red.setColor(QPalette::ButtonText, Qt::red);
    btnEng->setPalette(red);
    btnGB = languageButton(this, "btnGB", {426, 336, 62, 24}, QStringLiteral("簡体"));
    btnBIG5 = languageButton(this, "btnBIG5", {492, 336, 62, 24}, QStringLiteral("繁體"));
    btnExit = button(this, "btnExit", {360, 368, 193, 33}, Pictures::closeCross());

    pnTAVEX = panel(this, "pnTAVEX", {0, 405, 561, 21});
    paint(pnTAVEX, Purple, Qt::white);
    pnTAVEX->setFont(Pictures::windowFont(11, false));

    tmrBusy = new QTimer(this);
    tmrBusy->setObjectName(QStringLiteral("tmrBusy"));
    tmrBusy->setInterval(BlinkIntervalMs);

    connect(tmrBusy, &QTimer::timeout, this, [this] { tmrBusyTimer(); });
    connect(sbID, &QScrollBar::valueChanged, this, [this] { sbIDChange(); });
    connect(sbID2, &QScrollBar::valueChanged, this, [this] { sbID2Change(); });
    const auto onClick = [this](QAbstractButton *source, void (TfrmModule::*handler)()) {
        connect(source, &QAbstractButton::clicked, this, [this, handler] { runGuarded(handler); });
    };
    onClick(btnScan, &TfrmModule::btnScanClick);
    onClick(btnProcess, &TfrmModule::btnProcessClick);
    onClick(btnID, &TfrmModule::btnIDClick);
    onClick(btnBaudRate, &TfrmModule::btnBaudRateClick);
    onClick(btnMode, &TfrmModule::btnModeClick);
    onClick(btnFactory, &TfrmModule::btnFactoryClick);
    onClick(btnOne, &TfrmModule::btnOneClick);
    onClick(btnEng, &TfrmModule::btnEngClick);
    onClick(btnGB, &TfrmModule::btnGBClick);
    onClick(btnBIG5, &TfrmModule::btnBIG5Click);
    onClick(btnExit, &TfrmModule::btnExitClick);
}

void TfrmModule::applyTabOrder()
{
    const QList<QWidget *> chain{btnScan, sbID,       btnID,   cmbBaudRate, btnBaudRate, cmbMode,
                                 btnMode, btnProcess, btnExit, btnFactory,  btnOne,      btnEng,
                                 btnGB,   btnBIG5,    sbID2,   cmbRS485,    chkLock};
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void TfrmModule::FormCreate()
{
    LoadSettings(m_context.store, m_settings);
    // No close command anywhere in the title bar or the window menu: Exit is the only way out.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
    m_context.ProcessActive = false;
    m_context.ScanOk = false;
    // A stored index the list does not have selects the default line setting.
    cmbBaudRate->setCurrentIndex(safeBaudRateNo(m_settings.ScanBaudRateNo));
    cmbMode->setCurrentIndex(0);
    cmbRS485->setCurrentIndex(1);
}

QIcon TfrmModule::programIcon()
{
    return QIcon(QString::fromLatin1(ProgramIconPath));
}

void TfrmModule::FormShow()
{
    ApplyLanguage();
}

void TfrmModule::ApplyLanguage()
{
    // Row 1 alone: the program never sets an application display name, which Qt on X11 would
    // append to every window title.
    setWindowTitle(rowText(TextRow::Title));
    pnTAVEX->setText(rowText(TextRow::Company));
    setMessage(text(TextRow::StartScanModule));
    pnSerial->setText(rowText(TextRow::SN) + QStringLiteral(" : ________-_"));
    pnVersion->setText(rowText(TextRow::Ver) + QStringLiteral(" : __.__-__"));
    lblID->setText(rowText(TextRow::Id) + QStringLiteral(" 1:"));
    lblID2->setText(rowText(TextRow::Id) + QStringLiteral(" 2:"));
    lblBaudRate->setText(rowText(TextRow::BaudRate) + QStringLiteral(":"));
    btnScan->setText(rowText(TextRow::ScanModule));
    btnID->setText(rowText(TextRow::SetModuleId));
    btnBaudRate->setText(rowText(TextRow::SetModuleBaudRateReset));
    btnMode->setText(rowText(TextRow::SetModuleMode));
    btnProcess->setText(rowText(TextRow::ProcessModule));
    gbDefault->setTitle(rowText(TextRow::QuickSetting));
    pcDefault->setTabText(0, rowText(TextRow::Default));
    btnFactory->setText(QStringLiteral("(") + rowText(TextRow::FactoryDefault) +
                        QStringLiteral(")"));
    btnOne->setText(QStringLiteral("(") + rowText(TextRow::OneReader) + QStringLiteral(")"));
    btnExit->setText(rowText(TextRow::Exit));
}

void TfrmModule::SetBusy(bool on)
{
    if (on) {
        tmrBusy->start();
        setEnabled(false);
    } else {
        setEnabled(true);
        tmrBusy->stop();
    }
}

void TfrmModule::tmrBusyTimer()
{
    if (m_blinkPhase == 1) {
        m_blinkPhase = 0;
        shComm->setColour(Lamp::Yellow);
    } else {
        m_blinkPhase = 1;
        shComm->setColour(Lamp::Red);
    }
}

void TfrmModule::sbIDChange()
{
    pnID->setText(QString::asprintf("%02d", sbID->value()));
}

void TfrmModule::sbID2Change()
{
    pnID2->setText(QString::asprintf("%02d", sbID2->value()));
}

void TfrmModule::btnScanClick()
{
    RunScan(m_context);
}

void TfrmModule::btnProcessClick()
{
    // A click while the loop runs is a nested call that only asks the loop to stop.
    RunProcessMode(m_context);
}

void TfrmModule::btnIDClick()
{
    RunSetModuleId(m_context);
}

void TfrmModule::btnBaudRateClick()
{
    RunSetModuleBaudRate(m_context);
}

void TfrmModule::btnModeClick()
{
    RunSetModuleMode(m_context);
}

void TfrmModule::btnFactoryClick()
{
    RunQuickSetting(m_context, QuickSetting::FactoryDefault);
}

void TfrmModule::btnOneClick()
{
    RunQuickSetting(m_context, QuickSetting::OneReader);
}

void TfrmModule::setLanguage(int index)
{
    // Saved and applied also when the language does not change.
    m_settings.selectLanguage(index);
    SaveLanguage(m_context.store, m_settings);
    ApplyLanguage();
}

void TfrmModule::btnEngClick()
{
    setLanguage(0);
}

void TfrmModule::btnGBClick()
{
    setLanguage(1);
}

void TfrmModule::btnBIG5Click()
{
    setLanguage(2);
}

void TfrmModule::btnExitClick()
{
    m_exitRequested = true;
    close();
}

void TfrmModule::runGuarded(void (TfrmModule::*handler)())
{
    ++m_handlerDepth;
    try {
        (this->*handler)();
    } catch (...) {
        // A nested handler (a click during process mode) leaves the outer run to go on.
        if (m_handlerDepth == 1)
            recoverFromFailure();
        --m_handlerDepth;
        throw;
    }
    --m_handlerDepth;
}

void TfrmModule::recoverFromFailure()
{
    if (m_context.link.isOpen())
        m_context.link.ComClose();
    tmrBusy->stop();
    setEnabled(true);
    setWaitCursor(false);
    // The outermost handler has ended, so no polling loop is left behind.
    if (m_context.ProcessRunning || m_context.ProcessActive) {
        m_context.ProcessActive = false;
        m_context.ProcessRunning = false;
        btnProcess->setText(rowText(TextRow::ProcessModule));
    }
    for (Control control : {Control::btnExit, Control::btnScan, Control::btnFactory,
                            Control::btnOne, Control::btnID, Control::btnBaudRate, Control::btnMode,
                            Control::gbDefault, Control::btnEng, Control::btnGB, Control::btnBIG5})
        setControlEnabled(control, true);
}

void TfrmModule::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TfrmModule::closeEvent(QCloseEvent *event)
{
    // Title bar, window menu and window manager all ask through here; only Exit may close.
    if (m_exitRequested)
        event->accept();
    else
        event->ignore();
}

void TfrmModule::keyPressEvent(QKeyEvent *event)
{
    // Enter reaches the window when the focused control has no use for it: it presses the
    // focused tall button, or else the default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto *focused = qobject_cast<QToolButton *>(focusWidget());
        QAbstractButton *target = focused ? static_cast<QAbstractButton *>(focused) : btnScan;
        if (target->isEnabled())
            target->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

QWidget *TfrmModule::controlWidget(Control control) const
{
    switch (control) {
    case Control::btnExit:
        return btnExit;
    case Control::btnScan:
        return btnScan;
    case Control::btnFactory:
        return btnFactory;
    case Control::btnOne:
        return btnOne;
    case Control::btnID:
        return btnID;
    case Control::btnBaudRate:
        return btnBaudRate;
    case Control::btnMode:
        return btnMode;
    case Control::gbDefault:
        return gbDefault;
    case Control::btnEng:
        return btnEng;
    case Control::btnGB:
        return btnGB;
    case Control::btnBIG5:
        return btnBIG5;
    }
    return nullptr;
}

std::string TfrmModule::text(TextRow row) const
{
    return m_languages.text(row, m_settings.LanguageIndex);
}

QString TfrmModule::rowText(TextRow row) const
{
    return fromUtf8(m_languages.text(row, m_settings.LanguageIndex));
}

void TfrmModule::setMessage(const std::string &text)
{
    const QString message = fromUtf8(text);
    pnMsg->setText(message);
    // The message line is what a screen reader user must hear after every step.
    pnMsg->setAccessibleName(message);
    pnMsg->setAccessibleDescription(message);
    QAccessibleEvent event(pnMsg, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void TfrmModule::setMessageDetail(const std::string &text)
{
    const QString detail = fromUtf8(text);
    // An empty detail removes the tooltip, also one on screen right now, so the reason of an
    // earlier failure does not outlive the operation that succeeded after it.
    if (detail.isEmpty() && QToolTip::isVisible() && QToolTip::text() == pnMsg->toolTip())
        QToolTip::hideText();
    pnMsg->setToolTip(detail);
}

void TfrmModule::setSerialText(const std::string &text)
{
    pnSerial->setText(fromUtf8(text));
}

void TfrmModule::setVersionText(const std::string &text)
{
    pnVersion->setText(fromUtf8(text));
}

std::string TfrmModule::id1Text() const
{
    return pnID->text().toStdString();
}

void TfrmModule::setId1Text(const std::string &text)
{
    pnID->setText(fromUtf8(text));
}

std::string TfrmModule::id2Text() const
{
    return pnID2->text().toStdString();
}

void TfrmModule::setId2Text(const std::string &text)
{
    pnID2->setText(fromUtf8(text));
}

int TfrmModule::id1Position() const
{
    return sbID->value();
}

void TfrmModule::setId1Position(int position)
{
    sbID->setValue(qBound(IdMinimum, position, IdMaximum));
}

int TfrmModule::id2Position() const
{
    return sbID2->value();
}

void TfrmModule::setId2Position(int position)
{
    sbID2->setValue(qBound(IdMinimum, position, IdMaximum));
}

int TfrmModule::baudRateIndex() const
{
    return cmbBaudRate->currentIndex();
}

void TfrmModule::selectBaudRate(int index)
{
    cmbBaudRate->setCurrentIndex(index);
}

int TfrmModule::modeIndex() const
{
    return cmbMode->currentIndex();
}

void TfrmModule::selectMode(int index)
{
    cmbMode->setCurrentIndex(index);
}

int TfrmModule::rs485Index() const
{
    return cmbRS485->currentIndex();
}

void TfrmModule::selectRs485(int index)
{
    cmbRS485->setCurrentIndex(index);
}

bool TfrmModule::lockChecked() const
{
    return chkLock->isChecked();
}

void TfrmModule::setReader1Data(const std::string &text)
{
    pnQMR1->setText(fromUtf8(text));
}

void TfrmModule::setReader2Data(const std::string &text)
{
    pnQMR2->setText(fromUtf8(text));
}

std::string TfrmModule::processCaption() const
{
    return btnProcess->text().toStdString();
}

void TfrmModule::setProcessCaption(const std::string &text)
{
    btnProcess->setText(fromUtf8(text));
}

void TfrmModule::setControlEnabled(Control control, bool enabled)
{
    if (QWidget *widget = controlWidget(control))
        widget->setEnabled(enabled);
}

void TfrmModule::setLamp(LampColour colour)
{
    shComm->setColour(colour == LampColour::Yellow ? Lamp::Yellow : Lamp::Red);
}

void TfrmModule::beep(int frequencyHz, int durationMs)
{
    m_beeper.Beep(frequencyHz, durationMs);
}

void TfrmModule::setBusy(bool on)
{
    SetBusy(on);
}

void TfrmModule::setWindowEnabled(bool enabled)
{
    setEnabled(enabled);
}

void TfrmModule::setWaitCursor(bool on)
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

void TfrmModule::processMessages()
{
    QCoreApplication::processEvents();
}

void TfrmModule::showError(const std::string &text)
{
    m_errorBox(this, Application::programName(), fromUtf8(text));
}

} // namespace qmr

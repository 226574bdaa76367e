// The configuration window over the in-memory port, a fake clock and a settings store in
// memory: start-up state, the controls, languages and the title, the icon, busy state, scroll
// bars, the message line's detail, closing, keyboard, failing handlers, and the beeper's tone.

#include "form/inventory.h"
#include "link/link.h"
#include "link/portmap.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"
#include "sim/modulemodel.h"
#include "support/memorysettingsstore.h"
#include "texts/languagetable.h"
#include "window/application.h"
#include "window/audiobeeper.h"
#include "window/lamp.h"
#include "window/qtwindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace qmr;

namespace {

using Names = std::vector<std::string>;

struct RecordingBeeper : Beeper
{
    QList<QPair<int, int>> beeps;
    enum class Throw
    {
        Nothing,
        StdException,
        Other
    } throwNext = Throw::Nothing;

    void Beep(int frequencyHz, int durationMs) override
    {
        const Throw what = std::exchange(throwNext, Throw::Nothing);
        if (what == Throw::StdException)
            throw std::runtime_error("the beeper broke");
        if (what == Throw::Other)
            throw 42;
        beeps.append({frequencyHz, durationMs});
    }
};

// Everything a window works with; the store outlives the windows so a restart can be tried.
struct Rig
{
    FakeClock clock;
    MemoryPort port{clock};
    FixedPortMap ports{{{1, "/dev/ttyTEST1"}}};
    Link link{port, clock, ports};
    MemorySettingsStore store;
    RecordingBeeper beeper;
    LanguageTable languages;
    QStringList errorBoxes;
    std::unique_ptr<QtWindow> window;

    QtWindow &open()
    {
        window = std::make_unique<QtWindow>(link, clock, store, beeper, languages);
        window->setErrorBox(
            [this](QWidget *, const QString &, const QString &text) { errorBoxes << text; });
        window->show();
        return *window;
    }

    template <typename T> T *get(const char *name) const
    {
        T *child = window->findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }
    QString text(std::string_view name) const
    {
        QObject *child =
            window->findChild<QObject *>(QString::fromUtf8(name.data(), qsizetype(name.size())));
        if (auto *label = qobject_cast<QLabel *>(child))
            return label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(child))
            return button->text();
        if (auto *combo = qobject_cast<QComboBox *>(child))
            return combo->currentText();
        if (auto *group = qobject_cast<QGroupBox *>(child))
            return group->title();
        qFatal("no text control %s", std::string(name).c_str());
    }
    Lamp *lamp() const { return get<Lamp>("shComm"); }
};

QStringList items(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

class Thrower : public QObject
{
public:
    int events = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User) {
            ++events;
            throw std::runtime_error("handler failed");
        }
        return QObject::event(e);
    }
};

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void windowIsFixedAndOffersNoClose();
    void controlsStandWhereTheInventoryPutsThem();
    void fonts_data();
    void fonts();
    void traditionalChineseTakesItsOwnFaceFirst();
    void titleIsTheTitleRowAlone();
    void iconIsTheInstalledProgramIcon();
    void announcesMessageAndLamp();
    void failedOpenDetailGoesWhenAnOperationOpensThePort();
    void theTimerDrivesTheBlink();
    void idScrollBarsReportTheUsersMoves();
    void closeEventsAskTheForm();
    void tabOrder();
    void enterPressesDefaultOrFocusedTallButton();
    void disablingTheWindowTakesTheFocusFromItsControls();
    void exceptionInHandlerIsShownInTheErrorBox();
    void exceptionInAnyEventHandlerIsShown();
    void scanThroughTheButtons();
    void aDoubleClickOnProcessModuleStopsIt();
    void toneHasFrequencyAndLength_data();
    void toneHasFrequencyAndLength();
    void silentBeeperTakesTheDuration();

private:
    Application *app() { return static_cast<Application *>(QCoreApplication::instance()); }
};

void TestWindow::windowIsFixedAndOffersNoClose()
{
    Rig rig;
    QtWindow &w = rig.open();
    QCOMPARE(w.objectName(), QStringLiteral("frmModule"));
    QCOMPARE(w.size(), QSize(560, 425));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
}

void TestWindow::controlsStandWhereTheInventoryPutsThem()
{
    Rig rig;
    rig.open();
    for (const ControlSpec &entry : formInventory()) {
        const QString name = QString::fromLatin1(entry.name);
        const QList<QWidget *> found = rig.window->findChildren<QWidget *>(name);
        QCOMPARE(found.size(), 1);
        QWidget *widget = found.first();
        // Inside its container (for the page, through the page control's stack).
        const QString container = QString::fromLatin1(
            controlName(entry.parent == Control::None ? Control::frmModule : entry.parent));
        QObject *up = widget->parent();
        while (up && up->objectName() != container)
            up = up->parent();
        QVERIFY2(up, qPrintable(name));
        if (entry.kind != ControlKind::Page) {
            QCOMPARE(widget->parentWidget()->objectName(), container);
            QCOMPARE(widget->geometry(),
                     QRect(entry.box.x, entry.box.y, entry.box.width, entry.box.height));
        }
        const std::string start =
            captionText(entry.caption, rig.languages.text(entry.caption.row, 0));
        if (entry.picture == Picture::LanguageMark) {
            // The characters are the picture and the name a screen reader says, not a text.
            QCOMPARE(rig.text(entry.name), QString());
            QCOMPARE(widget->accessibleName(), QString::fromStdString(start));
        } else if (!start.empty() && entry.kind != ControlKind::Page) {
            QCOMPARE(rig.text(entry.name), QString::fromStdString(start));
        }
    }
    QCOMPARE(rig.get<QTabWidget>("pcDefault")->tabText(0), QStringLiteral("Default"));
    QCOMPARE(items(rig.get<QComboBox>("cmbRS485")),
             (QStringList{QStringLiteral("RS485 24"), QStringLiteral("RS485 32"),
                          QStringLiteral("RS485 40")}));
    QCOMPARE(rig.get<QTimer>("tmrBusy")->interval(), 200);
}

void TestWindow::fonts_data()
{
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");

    QTest::newRow("frmModule") << 16 << true;
    QTest::newRow("pnMsg") << 16 << true;
    QTest::newRow("btnScan") << 16 << true;
    QTest::newRow("lblID") << 13 << false;
    QTest::newRow("lblBaudRate") << 13 << false;
    QTest::newRow("btnEng") << 13 << false;
    QTest::newRow("pcDefault") << 16 << false;
    QTest::newRow("btnFactory") << 16 << true;
    QTest::newRow("pnTAVEX") << 11 << false;
}

void TestWindow::fonts()
{
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);

    Rig rig;
    rig.open();
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QWidget *widget = name == QLatin1String("frmModule") ? rig.window.get()
                                                         : rig.window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->font().pixelSize(), pixelSize);
    QCOMPARE(widget->font().bold(), bold);
    // The Chinese captions need a face that has them.
    QVERIFY(widget->font().families().contains(QStringLiteral("Noto Sans CJK SC")));
}

void TestWindow::traditionalChineseTakesItsOwnFaceFirst()
{
    Rig rig;
    rig.open();
    const auto firstChinese = [&rig] {
        for (const QString &family : rig.get<QPushButton>("btnExit")->font().families())
            if (family.startsWith(QLatin1String("Noto Sans CJK")))
                return family;
        return QString();
    };
    QTest::mouseClick(rig.get<QPushButton>("btnBIG5"), Qt::LeftButton);
    QCOMPARE(firstChinese(), QStringLiteral("Noto Sans CJK TC"));
    QCOMPARE(rig.text("btnExit"), QStringLiteral("結束"));
    QTest::mouseClick(rig.get<QPushButton>("btnGB"), Qt::LeftButton);
    QCOMPARE(firstChinese(), QStringLiteral("Noto Sans CJK SC"));
}

void TestWindow::titleIsTheTitleRowAlone()
{
    // Qt on X11 appends an application display name to every window title; none is set, so
    // the title bar shows the row as it is (the end-to-end test reads it from the X server).
    QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("qmrconfig"));

    Rig rig;
    QtWindow &w = rig.open();
    const std::pair<const char *, int> languages[] = {{"btnGB", 1}, {"btnBIG5", 2}, {"btnEng", 0}};
    for (const auto &[button, index] : languages) {
        QTest::mouseClick(rig.get<QPushButton>(button), Qt::LeftButton);
        const QString row = QString::fromStdString(rig.languages.text(TextRow::Title, index));
        QVERIFY(row.contains(QLatin1String("V3.20-01")));
        QCOMPARE(w.windowTitle(), row);
        QCOMPARE(w.windowHandle()->title(), row);
    }
}

void TestWindow::iconIsTheInstalledProgramIcon()
{
    Rig rig;
    QtWindow &w = rig.open();
    // The file compiled in is the one the desktop entry names.
    QFile compiledIn(QStringLiteral(":/icons/qmrconfig.svg"));
    QFile installed(QStringLiteral(QMR_SOURCE_DIR "/dist/qmrconfig.svg"));
    QVERIFY(compiledIn.open(QIODevice::ReadOnly));
    QVERIFY(installed.open(QIODevice::ReadOnly));
    QCOMPARE(compiledIn.readAll(), installed.readAll());

    // It draws (the SVG plugins are there): the lamp in the middle is lit.
    const QIcon icon = w.windowIcon();
    QVERIFY(!icon.isNull());
    for (int side : {16, 32, 64}) {
        const QImage image = icon.pixmap(side, side).toImage();
        QCOMPARE(image.size(), QSize(side, side));
        const QColor lamp = image.pixelColor(side / 2, side * 37 / 64);
        QVERIFY2(lamp.red() > 150 && lamp.green() > 150 && lamp.blue() < 120,
                 qPrintable(lamp.name()));
    }
}

void TestWindow::announcesMessageAndLamp()
{
    Rig rig;
    QtWindow &w = rig.open();
    w.form().setMessage("Scan COM : #3");
    auto *pnMsg = rig.get<QLabel>("pnMsg");
    QCOMPARE(pnMsg->accessibleName(), QStringLiteral("Scan COM : #3"));
    QCOMPARE(pnMsg->accessibleDescription(), QStringLiteral("Scan COM : #3"));

    w.form().setLamp(LampColour::Yellow);
    QCOMPARE(rig.lamp()->colour(), Lamp::Yellow);
    QCOMPARE(rig.lamp()->accessibleName(), QStringLiteral("yellow"));
    w.form().setLamp(LampColour::Red);
    QCOMPARE(rig.lamp()->accessibleName(), QStringLiteral("red"));

    w.form().setMessageDetail("COM3: /dev/ttyUSB0");
    QCOMPARE(pnMsg->toolTip(), QStringLiteral("COM3: /dev/ttyUSB0"));
    w.form().setMessageDetail("");
    QCOMPARE(pnMsg->toolTip(), QString());
}

void TestWindow::failedOpenDetailGoesWhenAnOperationOpensThePort()
{
    Rig rig;
    ModuleModel module;
    rig.port.addDevice("/dev/ttyTEST1", &module);
    QtWindow &w = rig.open();
    auto *pnMsg = rig.get<QLabel>("pnMsg");
    QTest::mouseClick(rig.get<QPushButton>("btnScan"), Qt::LeftButton);
    QVERIFY(w.context().ScanOk);

    // A setting procedure that cannot open the port names device and reason.
    const auto failOnce = [&](const char *button, const char *message) {
        rig.port.refuseOpen("/dev/ttyTEST1", PortError::PermissionDenied);
        QTest::mouseClick(rig.get<QPushButton>(button), Qt::LeftButton);
        QCOMPARE(rig.text("pnMsg"), QString::fromLatin1(message));
        QVERIFY2(pnMsg->toolTip().startsWith(QLatin1String("COM1: /dev/ttyTEST1")),
                 qPrintable(pnMsg->toolTip()));
        rig.port.refuseOpen("/dev/ttyTEST1", PortError::NoError);
    };
    failOnce("btnID", "Set Module ID Error");
    if (QTest::currentTestFailed())
        return;

    // The next procedure opens it: the old reason goes with the old message.
    QTest::mouseClick(rig.get<QPushButton>("btnID"), Qt::LeftButton);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Set Module ID Ok"));
    QCOMPARE(pnMsg->toolTip(), QString());

    // So does process mode, already while it polls.
    failOnce("btnMode", "Set Module Mode Error");
    if (QTest::currentTestFailed())
        return;
    auto *btnProcess = rig.get<QPushButton>("btnProcess");
    QString detailWhileRunning = QStringLiteral("not run");
    QMetaObject::invokeMethod(
        &w,
        [&] {
            detailWhileRunning = pnMsg->toolTip();
            QTest::mouseClick(btnProcess, Qt::LeftButton);
        },
        Qt::QueuedConnection);
    QTest::mouseClick(btnProcess, Qt::LeftButton);
    QCOMPARE(detailWhileRunning, QString());
    QCOMPARE(pnMsg->toolTip(), QString());
}

void TestWindow::theTimerDrivesTheBlink()
{
    Rig rig;
    QtWindow &w = rig.open();
    auto *timer = rig.get<QTimer>("tmrBusy");
    w.form().SetBusy(true);
    QVERIFY(timer->isActive());
    QVERIFY(!w.isEnabled());
    QSignalSpy ticks(timer, &QTimer::timeout);
    QVERIFY(ticks.wait(2000));
    QCOMPARE(rig.lamp()->colour(), Lamp::Red);
    QVERIFY(ticks.wait(2000));
    QCOMPARE(rig.lamp()->colour(), Lamp::Yellow);
    w.form().SetBusy(false);
    QVERIFY(!timer->isActive());
    QVERIFY(w.isEnabled());
}

void TestWindow::idScrollBarsReportTheUsersMoves()
{
    Rig rig;
    QtWindow &w = rig.open();
    auto *sbID = rig.get<QScrollBar>("sbID");
    for (QScrollBar *bar : {sbID, rig.get<QScrollBar>("sbID2")}) {
        QCOMPARE(bar->minimum(), 1);
        QCOMPARE(bar->maximum(), 99);
        QCOMPARE(bar->singleStep(), 1);
        QCOMPARE(bar->pageStep(), 10);
    }
    sbID->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(rig.text("pnID"), QStringLiteral("02"));
    sbID->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(rig.text("pnID"), QStringLiteral("12"));
    // The form's own moves are not reported back: the change handler runs once.
    w.form().setId2Text("__");
    w.form().setId2Position(1);
    QCOMPARE(rig.text("pnID2"), QStringLiteral("__"));
    w.form().setId2Position(150);
    QCOMPARE(rig.get<QScrollBar>("sbID2")->value(), 99);
    QCOMPARE(rig.text("pnID2"), QStringLiteral("99"));
}

void TestWindow::closeEventsAskTheForm()
{
    Rig rig;
    QtWindow &w = rig.open();
    QCloseEvent request;
    QCoreApplication::sendEvent(&w, &request);
    QVERIFY(!request.isAccepted());
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QTest::mouseClick(rig.get<QPushButton>("btnExit"), Qt::LeftButton);
    QVERIFY(!w.isVisible());
}

void TestWindow::tabOrder()
{
    Rig rig;
    rig.open();
    QStringList expected;
    for (Control id : qmr::tabOrder())
        expected << QString::fromLatin1(controlName(id));
    // What Tab walks through: the focus chain's widgets that take focus by Tab.
    QStringList chain;
    QWidget *start = rig.get<QWidget>("btnScan");
    QWidget *next = start;
    do {
        if ((next->focusPolicy() & Qt::TabFocus) && !next->focusProxy() &&
            next->isVisibleTo(rig.window.get()))
            chain << next->objectName();
        next = next->nextInFocusChain();
    } while (next != start && chain.size() <= expected.size());
    QCOMPARE(chain, expected);
}

void TestWindow::enterPressesDefaultOrFocusedTallButton()
{
    Rig rig;
    QtWindow &w = rig.open();
    QVERIFY(rig.get<QPushButton>("btnScan")->isDefault());

    // Enter on the scroll bar: the default button runs the scan, which finds nothing here.
    w.form().setMessage("");
    auto *sbID = rig.get<QScrollBar>("sbID");
    sbID->setFocus();
    QTest::keyClick(sbID, Qt::Key_Return);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Module Not Find"));
    QCOMPARE(rig.beeper.beeps, (QList<QPair<int, int>>{{300, 300}}));

    // Enter on a focused button presses it (refused without a scan).
    for (const char *name : {"btnFactory", "btnMode"}) {
        w.form().setMessage("");
        auto *button = rig.get<QAbstractButton>(name);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Enter);
        QCOMPARE(rig.text("pnMsg"), QStringLiteral("Start Scan Module!"));
    }
    QCOMPARE(rig.beeper.beeps.size(), 3);
}

void TestWindow::disablingTheWindowTakesTheFocusFromItsControls()
{
    Rig rig;
    QtWindow &w = rig.open();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *sbID = rig.get<QScrollBar>("sbID");
    sbID->setFocus();
    QVERIFY(QTest::qWaitFor([&] { return sbID->hasFocus(); }));
    w.form().setWindowEnabled(false);
    QVERIFY(!sbID->hasFocus());
    // Keys reach no control while replies are awaited.
    for (int i = 0; i < 2; ++i)
        QTest::ignoreMessage(QtWarningMsg, "Keyboard event not accepted by receiving widget");
    QTest::keyClick(sbID, Qt::Key_Right);
    QCOMPARE(sbID->value(), 1);
    w.form().setWindowEnabled(true);
    QVERIFY(sbID->hasFocus());
}

void TestWindow::exceptionInHandlerIsShownInTheErrorBox()
{
    Rig rig;
    QtWindow &w = rig.open();
    auto *btnScan = rig.get<QPushButton>("btnScan");
    rig.beeper.throwNext = RecordingBeeper::Throw::StdException;
    QTest::mouseClick(btnScan, Qt::LeftButton);
    QCOMPARE(rig.errorBoxes, QStringList{QStringLiteral("the beeper broke")});
    QVERIFY(w.isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    // The program goes on: the next click runs normally.
    QTest::mouseClick(btnScan, Qt::LeftButton);
    QCOMPARE(rig.errorBoxes.size(), 1);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Module Not Find"));
}

void TestWindow::exceptionInAnyEventHandlerIsShown()
{
    QStringList boxes;
    app()->setExceptionBox([&boxes](const QString &text) { boxes << text; });
    Thrower thrower;
    QEvent first(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&thrower, &first));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    QCOMPARE(thrower.events, 2);
    QCOMPARE(boxes,
             (QStringList{QStringLiteral("handler failed"), QStringLiteral("handler failed")}));
    app()->setExceptionBox(nullptr);
}

void TestWindow::scanThroughTheButtons()
{
    Rig rig;
    ModuleModel module;
    rig.port.addDevice("/dev/ttyTEST1", &module);
    QtWindow &w = rig.open();

    QTest::mouseClick(rig.get<QPushButton>("btnScan"), Qt::LeftButton);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #1)"));
    QCOMPARE(rig.text("pnSerial"), QStringLiteral("S/N : 20250010-1"));
    QCOMPARE(rig.text("pnVersion"), QStringLiteral("VER : 03.20-01"));
    QCOMPARE(rig.text("pnID"), QStringLiteral("01"));
    QCOMPARE(rig.text("pnID2"), QStringLiteral("05"));
    QCOMPARE(w.form().id2Position(), 5);
    QCOMPARE(rig.lamp()->colour(), Lamp::Yellow);
    QVERIFY(w.context().ScanOk);
    QVERIFY(w.isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(rig.beeper.beeps.last(), (QPair<int, int>{1000, 300}));
    QCOMPARE(w.settings().ScanCommNo, 1);
}

void TestWindow::aDoubleClickOnProcessModuleStopsIt()
{
    Rig rig;
    ModuleModel module;
    rig.port.addDevice("/dev/ttyTEST1", &module);
    QtWindow &w = rig.open();
    QTest::mouseClick(rig.get<QPushButton>("btnScan"), Qt::LeftButton);
    QVERIFY(w.context().ScanOk);

    // The second click of a double click comes as a double-click event and its release while
    // the first click runs process mode.
    auto *btnProcess = rig.get<QPushButton>("btnProcess");
    QStringList captionWhileRunning;
    QMetaObject::invokeMethod(
        &w,
        [&] {
            captionWhileRunning << btnProcess->text();
            const QPointF middle = QRectF(btnProcess->rect()).center();
            QMouseEvent second(QEvent::MouseButtonDblClick, middle, btnProcess->mapToGlobal(middle),
                               Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(btnProcess, &second);
            QTest::mouseRelease(btnProcess, Qt::LeftButton);
        },
        Qt::QueuedConnection);
    QTest::mouseClick(btnProcess, Qt::LeftButton);
    // What the stop does is the form's (tst_form): here only that the double click reaches it.
    QCOMPARE(captionWhileRunning, QStringList{QStringLiteral("Cancel Process Module")});
    QVERIFY(!w.context().ProcessActive);
}

void TestWindow::toneHasFrequencyAndLength_data()
{
    QTest::addColumn<int>("sampleFormat");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("ms");

    QTest::newRow("16-bit mono, high beep")
        << int(QAudioFormat::Int16) << 44100 << 1 << 1000 << 300;
    QTest::newRow("16-bit mono, low beep") << int(QAudioFormat::Int16) << 44100 << 1 << 300 << 300;
    QTest::newRow("float stereo") << int(QAudioFormat::Float) << 48000 << 2 << 1000 << 300;
    QTest::newRow("32-bit") << int(QAudioFormat::Int32) << 22050 << 1 << 300 << 100;
    QTest::newRow("8-bit") << int(QAudioFormat::UInt8) << 8000 << 1 << 300 << 300;
}

void TestWindow::toneHasFrequencyAndLength()
{
    QFETCH(int, sampleFormat);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, frequency);
    QFETCH(int, ms);

    QAudioFormat format;
    format.setSampleFormat(QAudioFormat::SampleFormat(sampleFormat));
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    const QByteArray pcm = AudioBeeper::tone(format, frequency, ms);
    const qint64 frames = qint64(rate) * ms / 1000;
    QCOMPARE(pcm.size(), frames * channels * format.bytesPerSample());

    // Read the first channel back as -1..1 and count the sign changes.
    const auto sample = [&](qint64 frame) {
        const char *at = pcm.constData() + frame * format.bytesPerFrame();
        switch (format.sampleFormat()) {
        case QAudioFormat::UInt8:
            return (quint8(*at) - 127.5) / 127.5;
        case QAudioFormat::Int16: {
            qint16 v;
            std::memcpy(&v, at, sizeof v);
            return v / 32767.0;
        }
        case QAudioFormat::Int32: {
            qint32 v;
            std::memcpy(&v, at, sizeof v);
            return v / 2147483647.0;
        }
        default: {
            float v;
            std::memcpy(&v, at, sizeof v);
            return double(v);
        }
        }
    };
    int crossings = 0;
    double peak = 0;
    for (qint64 i = 1; i < frames; ++i) {
        const double a = sample(i - 1), b = sample(i);
        if ((a < 0) != (b < 0))
            ++crossings;
        peak = qMax(peak, std::abs(b));
    }
    const int expected = 2 * frequency * ms / 1000;
    QVERIFY2(std::abs(crossings - expected) <= 3,
             qPrintable(QStringLiteral("%1 sign changes").arg(crossings)));
    QVERIFY(peak > 0.3 && peak <= 1.0);
    // Faded in: it starts at silence, so it does not click.
    QVERIFY(std::abs(sample(0)) < 0.02);
    if (channels == 2) {
        const char *first = pcm.constData() + 100 * format.bytesPerFrame();
        QVERIFY(std::memcmp(first, first + format.bytesPerSample(), format.bytesPerSample()) == 0);
    }
}

void TestWindow::silentBeeperTakesTheDuration()
{
    FakeClock clock;
    AudioBeeper beeper(clock, QAudioDevice()); // no output device
    const std::uint32_t before = clock.milliseconds();
    beeper.Beep(300, 300);
    QCOMPARE(clock.milliseconds() - before, 300u);
    beeper.Beep(1000, 0);
    QCOMPARE(clock.milliseconds() - before, 300u);
}

int main(int argc, char **argv)
{
    Application app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"

// The configuration window over the in-memory port, a fake clock and a settings store in
// memory: start-up state, the controls, languages and the title, the icon, busy state, scroll
// bars, the message line's detail, closing, keyboard, failing handlers, and the beeper's tone.

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
#include "window/tfrmmodule.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
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
    std::unique_ptr<TfrmModule> window;

    TfrmModule &open()
    {
        window = std::make_unique<TfrmModule>(link, clock, store, beeper, languages);
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
    QString text(const char *name) const
    {
        QObject *child = window->findChild<QObject *>(QLatin1String(name));
        if (auto *label = qobject_cast<QLabel *>(child))
            return label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(child))
            return button->text();
        if (auto *combo = qobject_cast<QComboBox *>(child))
            return combo->currentText();
        if (auto *group = qobject_cast<QGroupBox *>(child))
            return group->title();
        qFatal("no text control %s", name);
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
    void startsWithDefaults();
    void startsFromStoredSettings_data();
    void startsFromStoredSettings();
    void inventory_data();
    void inventory();
    void fonts_data();
    void fonts();
    void switchesLanguage_data();
    void switchesLanguage();
    void englishClickWhileEnglishResetsAndSaves();
    void titleIsTheTitleRowAlone();
    void iconIsTheInstalledProgramIcon();
    void announcesMessageAndLamp();
    void failedOpenDetailGoesWhenAnOperationOpensThePort();
    void blinksWhileBusy();
    void idScrollBars();
    void refusesCloseRequests();
    void tabOrder();
    void enterPressesDefaultOrFocusedTallButton();
    void exceptionInHandlerIsShownAndWindowRecovers_data();
    void exceptionInHandlerIsShownAndWindowRecovers();
    void exceptionInAnyEventHandlerIsShown();
    void scanAndProcessModeThroughTheButtons();
    void toneHasFrequencyAndLength_data();
    void toneHasFrequencyAndLength();
    void silentBeeperTakesTheDuration();

private:
    Application *app() { return static_cast<Application *>(QCoreApplication::instance()); }
};

void TestWindow::startsWithDefaults()
{
    Rig rig;
    TfrmModule &w = rig.open();
    QCOMPARE(w.objectName(), QStringLiteral("frmModule"));
    QCOMPARE(w.windowTitle(), QStringLiteral("TAVEX QLN-72RT Module Config V3.20-01"));
    QCOMPARE(w.size(), QSize(560, 425));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));

    QVERIFY(rig.store.calls() == Names{"load"});
    QCOMPARE(rig.text("cmbBaudRate"), QStringLiteral("19200,e,8,1"));
    QCOMPARE(rig.text("cmbMode"), QStringLiteral("Two Reader"));
    QCOMPARE(rig.text("cmbRS485"), QStringLiteral("RS485 32"));
    QVERIFY(rig.get<QCheckBox>("chkLock")->isChecked());
    QCOMPARE(rig.text("pnID"), QStringLiteral("__"));
    QCOMPARE(rig.text("pnID2"), QStringLiteral("__"));
    QCOMPARE(rig.get<QScrollBar>("sbID")->value(), 1);
    QCOMPARE(rig.get<QScrollBar>("sbID2")->value(), 1);
    QCOMPARE(rig.lamp()->colour(), Lamp::Red);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Start Scan Module!"));
    QCOMPARE(rig.text("pnSerial"), QStringLiteral("S/N : ________-_"));
    QCOMPARE(rig.text("pnVersion"), QStringLiteral("VER : __.__-__"));
    QCOMPARE(rig.text("pnQMR1"), QString());
    QCOMPARE(rig.text("btnEng"), QStringLiteral("English"));
    auto *timer = rig.get<QTimer>("tmrBusy");
    QCOMPARE(timer->interval(), 200);
    QVERIFY(!timer->isActive());
    QVERIFY(!w.context().ScanOk);
    QVERIFY(!w.context().ProcessActive);
    // Nothing was sent and no port was opened at start.
    QVERIFY(rig.port.opens().empty());
    QVERIFY(rig.beeper.beeps.isEmpty());
}

void TestWindow::startsFromStoredSettings_data()
{
    QTest::addColumn<QVariant>("baudRateNo"); // int, or a text to store it with the wrong type
    QTest::addColumn<QVariant>("commNo");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("title");

    const QString english = QStringLiteral("TAVEX QLN-72RT Module Config V3.20-01");
    QTest::newRow("index 11") << QVariant(11) << QVariant(3) << QStringLiteral("English")
                              << QStringLiteral("115200,e,8,1") << english;
    QTest::newRow("index 0") << QVariant(0) << QVariant(3) << QStringLiteral("ChineseBIG5")
                             << QStringLiteral("4800,n,8,1")
                             << QStringLiteral("TAVEX QLN-72RT 轉換模組設定程式 V3.20-01");
    QTest::newRow("index 12 selects item 5")
        << QVariant(12) << QVariant(3) << QStringLiteral("ChineseGB")
        << QStringLiteral("19200,e,8,1")
        << QStringLiteral("TAVEX QLN-72RT 转换模组设定程式 V3.20-01");
    QTest::newRow("index -1 selects item 5")
        << QVariant(-1) << QVariant(3) << QStringLiteral("English") << QStringLiteral("19200,e,8,1")
        << english;
    QTest::newRow("language name in other case")
        << QVariant(7) << QVariant(3) << QStringLiteral("chinesegb")
        << QStringLiteral("38400,e,8,1") << english;
    // The load stops at the first value of the wrong type: everything keeps its default.
    QTest::newRow("ScanCommNo as text")
        << QVariant(11) << QVariant(QStringLiteral("3")) << QStringLiteral("ChineseGB")
        << QStringLiteral("19200,e,8,1") << english;
}

void TestWindow::startsFromStoredSettings()
{
    QFETCH(QVariant, baudRateNo);
    QFETCH(QVariant, commNo);
    QFETCH(QString, language);
    QFETCH(QString, selected);
    QFETCH(QString, title);

    Rig rig;
    if (commNo.typeId() == QMetaType::QString)
        rig.store.setValue("ScanCommNo", commNo.toString().toStdString());
    else
        rig.store.setValue("ScanCommNo", std::int32_t(commNo.toInt()));
    rig.store.setValue("ScanBaudRate", std::string("57600,e,8,1"));
    rig.store.setValue("ScanBaudRateNo", std::int32_t(baudRateNo.toInt()));
    rig.store.setValue("LanguageFlag", language.toStdString());
    TfrmModule &w = rig.open();

    QCOMPARE(rig.text("cmbBaudRate"), selected);
    QCOMPARE(w.windowTitle(), title);
    // The lists not remembered between runs always start the same way.
    QCOMPARE(rig.text("cmbMode"), QStringLiteral("Two Reader"));
    QCOMPARE(rig.text("cmbRS485"), QStringLiteral("RS485 32"));
    if (commNo.typeId() == QMetaType::QString) {
        QCOMPARE(w.settings().ScanCommNo, 0);
        QCOMPARE(w.settings().ScanBaudRateNo, 5);
        QCOMPARE(w.settings().ScanBaudRate, std::string("19200,e,8,1"));
    } else {
        // The stored values stay as read, also an index the list does not have.
        QCOMPARE(w.settings().ScanCommNo, commNo.toInt());
        QCOMPARE(w.settings().ScanBaudRateNo, baudRateNo.toInt());
        QCOMPARE(w.settings().LanguageFlag, language.toStdString());
    }
}

void TestWindow::inventory_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("box");

    const auto row = [](const char *name, const char *kind, const char *container, QRect box) {
        QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(container) << box;
    };
    row("pnMsg", "qmr::MessagePanel", "frmModule", {8, 4, 345, 40});
    row("shComm", "qmr::Lamp", "pnMsg", {310, 8, 23, 20});
    row("pnSerial", "QLabel", "frmModule", {8, 48, 169, 28});
    row("pnVersion", "QLabel", "frmModule", {184, 48, 169, 28});
    row("btnScan", "QPushButton", "frmModule", {8, 78, 345, 33});
    row("lblID", "QLabel", "frmModule", {8, 125, 57, 22});
    row("pnID", "QLabel", "frmModule", {68, 122, 33, 25});
    row("sbID", "QScrollBar", "frmModule", {104, 123, 73, 23});
    row("lblID2", "QLabel", "frmModule", {184, 125, 57, 22});
    row("pnID2", "QLabel", "frmModule", {244, 122, 33, 25});
    row("sbID2", "QScrollBar", "frmModule", {280, 123, 73, 23});
    row("btnID", "QPushButton", "frmModule", {8, 150, 345, 33});
    row("lblBaudRate", "QLabel", "frmModule", {8, 197, 153, 22});
    row("cmbBaudRate", "QComboBox", "frmModule", {168, 192, 161, 28});
    row("chkLock", "QCheckBox", "frmModule", {336, 196, 17, 17});
    row("btnBaudRate", "QPushButton", "frmModule", {8, 222, 345, 33});
    row("cmbMode", "QComboBox", "frmModule", {8, 264, 169, 28});
    row("cmbRS485", "QComboBox", "frmModule", {184, 264, 171, 28});
    row("btnMode", "QPushButton", "frmModule", {8, 295, 345, 33});
    row("pnQMR1", "QLabel", "frmModule", {8, 336, 169, 28});
    row("pnQMR2", "QLabel", "frmModule", {184, 336, 169, 28});
    row("btnProcess", "QPushButton", "frmModule", {8, 368, 345, 33});
    row("gbDefault", "QGroupBox", "frmModule", {360, 4, 193, 325});
    row("pcDefault", "QTabWidget", "gbDefault", {6, 26, 182, 294});
    row("tsDefault", "QWidget", "pcDefault", {});
    row("btnFactory", "QToolButton", "tsDefault", {4, 6, 165, 121});
    row("btnOne", "QToolButton", "tsDefault", {4, 134, 165, 121});
    row("btnEng", "QPushButton", "frmModule", {359, 336, 62, 24});
    row("btnGB", "QPushButton", "frmModule", {426, 336, 62, 24});
    row("btnBIG5", "QPushButton", "frmModule", {492, 336, 62, 24});
    row("btnExit", "QPushButton", "frmModule", {360, 368, 193, 33});
    row("pnTAVEX", "QLabel", "frmModule", {0, 405, 561, 21});
    row("tmrBusy", "QTimer", "frmModule", {});
}

void TestWindow::inventory()
{
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QRect, box);

    Rig rig;
    rig.open();
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QObject *> found = rig.window->findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QObject *control = found.first();
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);

    // Inside its container (directly, or for the page through the page control's stack).
    QObject *up = control->parent();
    while (up && up->objectName() != container && up != rig.window.get())
        up = up->parent();
    QVERIFY(up);
    QCOMPARE(up->objectName(), container);
    if (auto *widget = qobject_cast<QWidget *>(control); widget && !box.isNull()) {
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(), box);
    }
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

void TestWindow::switchesLanguage_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QStringList>("texts"); // title, pnMsg, pnSerial, btnFactory, btnExit

    QTest::newRow("btnGB") << QStringLiteral("btnGB") << QStringLiteral("ChineseGB")
                           << QStringList{
                                  QStringLiteral("TAVEX QLN-72RT 转换模组设定程式 V3.20-01"),
                                  QStringLiteral("请先扫描模组!"),
                                  QStringLiteral("序号 : ________-_"), QStringLiteral("(出厂预设)"),
                                  QStringLiteral("结束")};
    QTest::newRow("btnBIG5") << QStringLiteral("btnBIG5") << QStringLiteral("ChineseBIG5")
                             << QStringList{
                                    QStringLiteral("TAVEX QLN-72RT 轉換模組設定程式 V3.20-01"),
                                    QStringLiteral("請先掃描模組!"),
                                    QStringLiteral("序號 : ________-_"),
                                    QStringLiteral("(出廠預設)"), QStringLiteral("結束")};
    QTest::newRow("btnEng") << QStringLiteral("btnEng") << QStringLiteral("English")
                            << QStringList{QStringLiteral("TAVEX QLN-72RT Module Config V3.20-01"),
                                           QStringLiteral("Start Scan Module!"),
                                           QStringLiteral("S/N : ________-_"),
                                           QStringLiteral("(Factory Default)"),
                                           QStringLiteral("Exit")};
}

void TestWindow::switchesLanguage()
{
    QFETCH(QString, button);
    QFETCH(QString, flag);
    QFETCH(QStringList, texts);

    Rig rig;
    // Start in the other Chinese script (or Simplified, for English) so every switch changes.
    rig.store.setValue(
        "LanguageFlag",
        std::string(flag == QLatin1String("ChineseGB") ? "ChineseBIG5" : "ChineseGB"));
    TfrmModule &w = rig.open();
    rig.get<QScrollBar>("sbID")->setValue(5);
    QCOMPARE(rig.text("pnID"), QStringLiteral("05"));
    rig.store.clearRecords();

    QTest::mouseClick(rig.window->findChild<QPushButton *>(button), Qt::LeftButton);

    QCOMPARE(w.windowTitle(), texts[0]);
    QCOMPARE(rig.text("pnMsg"), texts[1]);
    QCOMPARE(rig.text("pnSerial"), texts[2]);
    QCOMPARE(rig.text("btnFactory"), texts[3]);
    QCOMPARE(rig.text("btnExit"), texts[4]);
    QCOMPARE(rig.text("pnID"), QStringLiteral("05"));
    QCOMPARE(rig.text("pnID2"), QStringLiteral("__"));
    QCOMPARE(items(rig.get<QComboBox>("cmbMode")),
             (QStringList{QStringLiteral("Two Reader"), QStringLiteral("One Reader")}));
    QCOMPARE(items(rig.get<QComboBox>("cmbRS485")),
             (QStringList{QStringLiteral("RS485 24"), QStringLiteral("RS485 32"),
                          QStringLiteral("RS485 40")}));
    QCOMPARE(rig.text("btnEng"), QStringLiteral("English"));
    QCOMPARE(w.settings().LanguageFlag, flag.toStdString());
    QVERIFY(rig.store.calls() == Names{"save"});
    QVERIFY(rig.store.writes() == Names{"LanguageFlag"});
    QCOMPARE(rig.store.textValue("LanguageFlag"), std::optional<std::string>(flag.toStdString()));

    // Closing through Exit saves nothing; the next start opens in the chosen language.
    rig.window->findChild<QPushButton *>(QStringLiteral("btnExit"))->click();
    QVERIFY(rig.store.calls() == Names{"save"});
    TfrmModule &next = rig.open();
    QCOMPARE(next.windowTitle(), texts[0]);
    QCOMPARE(rig.text("btnExit"), texts[4]);
}

void TestWindow::englishClickWhileEnglishResetsAndSaves()
{
    Rig rig;
    TfrmModule &w = rig.open();
    w.setMessage("Module Not Find");
    w.setSerialText("S/N : 20250010-1");
    w.setVersionText("VER : 03.20-01");
    w.setReader1Data("0000012345");
    w.setProcessCaption("Cancel Process Module");
    w.context().ScanOk = true;
    rig.get<QScrollBar>("sbID2")->setValue(7);

    w.btnEngClick();

    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Start Scan Module!"));
    QCOMPARE(rig.text("pnSerial"), QStringLiteral("S/N : ________-_"));
    QCOMPARE(rig.text("pnVersion"), QStringLiteral("VER : __.__-__"));
    QCOMPARE(rig.text("btnProcess"), QStringLiteral("Process Module"));
    // Only the captions: the read-outs, IDs and the scan result stay.
    QCOMPARE(rig.text("pnQMR1"), QStringLiteral("0000012345"));
    QCOMPARE(rig.text("pnID2"), QStringLiteral("07"));
    QVERIFY(w.context().ScanOk);
    QCOMPARE(rig.store.calls().back(), std::string("save"));
    QVERIFY(rig.store.saves().back() == Names{"LanguageFlag"});
}

void TestWindow::titleIsTheTitleRowAlone()
{
    // Qt on X11 appends an application display name to every window title; none is set, so
    // the title bar shows the row as it is (the end-to-end test reads it from the X server).
    QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("qmrconfig"));

    Rig rig;
    TfrmModule &w = rig.open();
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
    TfrmModule &w = rig.open();
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
    TfrmModule &w = rig.open();
    w.setMessage("Scan COM : #3");
    auto *pnMsg = rig.get<QLabel>("pnMsg");
    QCOMPARE(pnMsg->accessibleName(), QStringLiteral("Scan COM : #3"));
    QCOMPARE(pnMsg->accessibleDescription(), QStringLiteral("Scan COM : #3"));

    w.setLamp(LampColour::Yellow);
    QCOMPARE(rig.lamp()->colour(), Lamp::Yellow);
    QCOMPARE(rig.lamp()->accessibleName(), QStringLiteral("yellow"));
    w.setLamp(LampColour::Red);
    QCOMPARE(rig.lamp()->accessibleName(), QStringLiteral("red"));

    w.setMessageDetail("COM3: /dev/ttyUSB0");
    QCOMPARE(pnMsg->toolTip(), QStringLiteral("COM3: /dev/ttyUSB0"));
    w.setMessageDetail("");
    QCOMPARE(pnMsg->toolTip(), QString());
}

void TestWindow::failedOpenDetailGoesWhenAnOperationOpensThePort()
{
    Rig rig;
    ModuleModel module;
    rig.port.addDevice("/dev/ttyTEST1", &module);
    TfrmModule &w = rig.open();
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

void TestWindow::blinksWhileBusy()
{
    Rig rig;
    TfrmModule &w = rig.open();
    auto *timer = rig.get<QTimer>("tmrBusy");

    w.SetBusy(true);
    QVERIFY(timer->isActive());
    QVERIFY(!w.isEnabled());
    QList<QColor> painted;
    for (int i = 0; i < 3; ++i) {
        w.tmrBusyTimer();
        painted << rig.lamp()->colour();
    }
    QCOMPARE(painted, (QList<QColor>{Lamp::Red, Lamp::Yellow, Lamp::Red}));

    w.SetBusy(false);
    QVERIFY(!timer->isActive());
    QVERIFY(w.isEnabled());
    QCOMPARE(rig.lamp()->colour(), Lamp::Red); // the last painted colour stays

    // The phase is not reset: the next busy period goes on with yellow.
    w.setLamp(LampColour::Red);
    w.setBusy(true);
    w.tmrBusyTimer();
    QCOMPARE(rig.lamp()->colour(), Lamp::Yellow);
    w.setBusy(false);

    // The real timer drives the same handler while busy.
    w.SetBusy(true);
    QSignalSpy ticks(timer, &QTimer::timeout);
    QVERIFY(ticks.wait(2000));
    QCOMPARE(rig.lamp()->colour(), Lamp::Red);
    w.SetBusy(false);
}

void TestWindow::idScrollBars()
{
    Rig rig;
    TfrmModule &w = rig.open();
    auto *sbID = rig.get<QScrollBar>("sbID");
    auto *sbID2 = rig.get<QScrollBar>("sbID2");
    for (QScrollBar *bar : {sbID, sbID2}) {
        QCOMPARE(bar->minimum(), 1);
        QCOMPARE(bar->maximum(), 99);
        QCOMPARE(bar->singleStep(), 1);
        QCOMPARE(bar->pageStep(), 10);
    }

    sbID->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(rig.text("pnID"), QStringLiteral("02"));
    sbID->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(rig.text("pnID"), QStringLiteral("12"));
    sbID->triggerAction(QAbstractSlider::SliderToMaximum);
    sbID->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(sbID->value(), 99);
    QCOMPARE(rig.text("pnID"), QStringLiteral("99"));
    w.setId1Position(0);
    QCOMPARE(sbID->value(), 1);
    QCOMPARE(rig.text("pnID"), QStringLiteral("01"));
    w.setId2Position(150);
    QCOMPARE(w.id2Position(), 99);
    QCOMPARE(w.id2Text(), std::string("99"));
    w.setId2Position(7);
    QCOMPARE(w.id2Text(), std::string("07"));

    // The same position again does not run the change handler.
    w.setId2Text("__");
    w.setId2Position(7);
    QCOMPARE(w.id2Text(), std::string("__"));
    w.setId1Text("1");
    sbID->setValue(1);
    QCOMPARE(w.id1Text(), std::string("1"));
}

void TestWindow::refusesCloseRequests()
{
    Rig rig;
    TfrmModule &w = rig.open();
    QCloseEvent request;
    QCoreApplication::sendEvent(&w, &request);
    QVERIFY(!request.isAccepted());
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());

    rig.store.clearRecords();
    w.btnExitClick();
    QVERIFY(!w.isVisible());
    QVERIFY(rig.store.calls().empty());
    QVERIFY(rig.port.writes().empty());
}

void TestWindow::tabOrder()
{
    Rig rig;
    rig.open();
    const QStringList expected{
        QStringLiteral("btnScan"),     QStringLiteral("sbID"),        QStringLiteral("btnID"),
        QStringLiteral("cmbBaudRate"), QStringLiteral("btnBaudRate"), QStringLiteral("cmbMode"),
        QStringLiteral("btnMode"),     QStringLiteral("btnProcess"),  QStringLiteral("btnExit"),
        QStringLiteral("btnFactory"),  QStringLiteral("btnOne"),      QStringLiteral("btnEng"),
        QStringLiteral("btnGB"),       QStringLiteral("btnBIG5"),     QStringLiteral("sbID2"),
        QStringLiteral("cmbRS485"),    QStringLiteral("chkLock")};
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
    TfrmModule &w = rig.open();
    QVERIFY(rig.get<QPushButton>("btnScan")->isDefault());

    // Enter on the scroll bar: the default button runs the scan, which finds nothing here.
    w.setMessage("");
    QTest::keyClick(rig.get<QScrollBar>("sbID"), Qt::Key_Return);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Module Not Find"));
    QCOMPARE(rig.beeper.beeps, (QList<QPair<int, int>>{{300, 300}}));

    // Enter on a focused tall button presses it (refused without a scan).
    w.setMessage("");
    auto *factory = rig.get<QToolButton>("btnFactory");
    factory->setFocus();
    QTest::keyClick(factory, Qt::Key_Enter);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Start Scan Module!"));
    QCOMPARE(rig.beeper.beeps.size(), 2);
}

void TestWindow::exceptionInHandlerIsShownAndWindowRecovers_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");
    QTest::newRow("std::exception")
        << int(RecordingBeeper::Throw::StdException) << QStringLiteral("the beeper broke");
    QTest::newRow("anything else")
        << int(RecordingBeeper::Throw::Other) << QStringLiteral("Unknown error");
}

void TestWindow::exceptionInHandlerIsShownAndWindowRecovers()
{
    QFETCH(int, kind);
    QFETCH(QString, shown);

    QStringList boxes;
    app()->setExceptionBox([&boxes](const QString &text) { boxes << text; });
    Rig rig;
    TfrmModule &w = rig.open();
    auto *btnScan = rig.get<QPushButton>("btnScan");

    // The scan's last steps (the beep, then the cursor) are cut short by the failure.
    rig.beeper.throwNext = RecordingBeeper::Throw(kind);
    // The failed release counts as not handled.
    QTest::ignoreMessage(QtWarningMsg,
                         "Mouse event \"MouseRelease\" not accepted by receiving widget");
    QTest::mouseClick(btnScan, Qt::LeftButton);
    QCOMPARE(boxes, QStringList{shown});
    QVERIFY(w.isEnabled());
    QVERIFY(!rig.get<QTimer>("tmrBusy")->isActive());
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // The program goes on: the next click runs normally.
    QTest::mouseClick(btnScan, Qt::LeftButton);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(rig.beeper.beeps, (QList<QPair<int, int>>{{300, 300}}));
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Module Not Find"));
    app()->setExceptionBox(nullptr);
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

void TestWindow::scanAndProcessModeThroughTheButtons()
{
    Rig rig;
    ModuleModel module;
    rig.port.addDevice("/dev/ttyTEST1", &module);
    TfrmModule &w = rig.open();

    QTest::mouseClick(rig.get<QPushButton>("btnScan"), Qt::LeftButton);
    QCOMPARE(rig.text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #1)"));
    QCOMPARE(rig.text("pnSerial"), QStringLiteral("S/N : 20250010-1"));
    QCOMPARE(rig.text("pnVersion"), QStringLiteral("VER : 03.20-01"));
    QCOMPARE(rig.text("pnID"), QStringLiteral("01"));
    QCOMPARE(rig.text("pnID2"), QStringLiteral("05"));
    QCOMPARE(w.id2Position(), 5);
    QCOMPARE(rig.lamp()->colour(), Lamp::Yellow);
    QVERIFY(w.context().ScanOk);
    QVERIFY(w.isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(rig.beeper.beeps.last(), (QPair<int, int>{1000, 300}));
    QCOMPARE(w.settings().ScanCommNo, 1);

    // Process mode runs until a second click on the same button, made while it polls.
    auto *btnProcess = rig.get<QPushButton>("btnProcess");
    QStringList captionWhileRunning;
    bool exitEnabledWhileRunning = true;
    QMetaObject::invokeMethod(
        &w,
        [&] {
            captionWhileRunning << btnProcess->text();
            exitEnabledWhileRunning = rig.get<QPushButton>("btnExit")->isEnabled();
            QTest::mouseClick(btnProcess, Qt::LeftButton);
        },
        Qt::QueuedConnection);
    QTest::mouseClick(btnProcess, Qt::LeftButton);
    QCOMPARE(captionWhileRunning, QStringList{QStringLiteral("Cancel Process Module")});
    QVERIFY(!exitEnabledWhileRunning);
    QCOMPARE(btnProcess->text(), QStringLiteral("Process Module"));
    QVERIFY(rig.get<QPushButton>("btnExit")->isEnabled());
    QVERIFY(!w.context().ProcessActive);
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.lamp()->colour(), Lamp::Yellow);
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

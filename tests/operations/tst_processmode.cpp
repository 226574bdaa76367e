#include "operations/processmode.h"
#include "rig.h"

#include <QTest>

using namespace qmr;

namespace {

// A click on the Process button from inside the running loop's message processing, at the
// given pump calls (counted from the start of the mode).
struct Clicks
{
    Clicks(Rig &rig, QList<int> at) : m_rig(rig), m_at(std::move(at))
    {
        rig.view.onProcessMessages = [this](int pump) {
            if (m_at.contains(pump))
                outcomes.append(RunProcessMode(m_rig.ctx));
            if (pump > 100000) // a loop that never ends fails the test instead of hanging
                m_rig.ctx.ProcessActive = false;
            if (onPump)
                onPump(pump);
        };
    }
    QList<ProcessOutcome> outcomes;
    std::function<void(int)> onPump;

private:
    Rig &m_rig;
    QList<int> m_at;
};

const QStringList LockedControls = {"btnExit", "btnScan",     "btnFactory", "btnOne",
                                    "btnID",   "btnBaudRate", "btnMode",    "gbDefault",
                                    "btnEng",  "btnGB",       "btnBIG5"};

QStringList controlEntries(const QString &state)
{
    QStringList entries;
    for (const QString &name : LockedControls)
        entries.append(name + QStringLiteral(": ") + state);
    return entries;
}

QStringList withoutPumps(const QStringList &log)
{
    QStringList entries;
    for (const QString &entry : log)
        if (entry != QLatin1String("pump"))
            entries.append(entry);
    return entries;
}

void verifyIdleAgain(const Rig &rig)
{
    QVERIFY(!rig.ctx.ProcessActive);
    QVERIFY(!rig.ctx.ProcessRunning);
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.memory.closeCount(), rig.memory.opens().size());
    QCOMPARE(rig.view.caption, QStringLiteral("Process Module"));
    for (const QString &name : LockedControls) {
        bool found = false;
        for (auto it = rig.view.enabled.begin(); it != rig.view.enabled.end(); ++it)
            if (controlName(it.key()) == name) {
                found = true;
                QVERIFY2(it.value(), qPrintable(name));
            }
        QVERIFY2(found, qPrintable(name));
    }
    QVERIFY(!rig.view.busy);
    QVERIFY(rig.view.windowEnabled);
}

} // namespace

class TestProcessMode : public QObject
{
    Q_OBJECT

private slots:
    void cycles_data();
    void cycles();
    void pollReplyLengths_data();
    void pollReplyLengths();
    void modeChangedWhileRunning();
    void idMovedWhileRunning();
    void underscoreIdFails();
    void failureAfterCancelIsUserStop();
    void clickWhileStoppingIgnored();
    void openFailure();
    void refusedWithoutScan();
};

void TestProcessMode::cycles_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<QList<int>>("pumpsBefore"); // pump calls before each command
    QTest::addColumn<QString>("reader2");

    QTest::newRow("two readers, cancel in the first pause")
        << 0 << 1 << QList<QByteArray>{"A01F", "A05F"} << QList<int>{20, 40} << "0000067890";
    QTest::newRow("two readers, cancel in the third pause")
        << 0 << 41 << QList<QByteArray>{"A01F", "A05F", "A01F", "A05F"}
        << QList<int>{20, 40, 60, 80} << "0000067890";
    QTest::newRow("two readers, cancel in the second reader's pause")
        << 0 << 40 << QList<QByteArray>{"A01F", "A05F"} << QList<int>{20, 40} << "0000067890";
    QTest::newRow("one reader, cancel in the first pause")
        << 1 << 1 << QList<QByteArray>{"A01F"} << QList<int>{20} << "";
    QTest::newRow("one reader, cancel in the second pause")
        << 1 << 21 << QList<QByteArray>{"A01F", "A01F"} << QList<int>{20, 40} << "";
}

void TestProcessMode::cycles()
{
    QFETCH(int, mode);
    QFETCH(int, cancelAt);
    QFETCH(QList<QByteArray>, commands);
    QFETCH(QList<int>, pumpsBefore);
    QFETCH(QString, reader2);

    Rig rig;
    rig.scanned();
    rig.view.mode = mode;
    const qsizetype opensBefore = rig.memory.opens().size();
    const QString message = rig.view.message;
    Clicks clicks(rig, {cancelAt});
    QList<int> pumps, sleeps;
    rig.port.onCommand = [&](const QByteArray &) {
        pumps.append(rig.view.pumps);
        sleeps.append(rig.sleepsOf(2));
    };

    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    QCOMPARE(clicks.outcomes, QList<ProcessOutcome>{ProcessOutcome::CancelClick});
    QCOMPARE(rig.port.sent, commands);
    QCOMPARE(pumps, pumpsBefore);
    QCOMPARE(sleeps, pumpsBefore); // every pump followed by a 2 ms sleep
    QCOMPARE(rig.sleepsOf(2), pumpsBefore.last());
    QCOMPARE(rig.view.reader1, QStringLiteral("0000012345"));
    QCOMPARE(rig.view.reader2, reader2);

    const QStringList log = withoutPumps(rig.view.log);
    QStringList start = {"btnProcess: Cancel Process Module", "pnQMR1: ", "pnQMR2: "};
    start += controlEntries("off");
    start += {"busy: on", "window: on"};
    QCOMPARE(log.mid(0, start.size()), start);
    QStringList end = {"busy: off", "lamp: yellow", "beep: 1000 300"};
    end += controlEntries("on");
    end += "btnProcess: Process Module";
    QCOMPARE(log.mid(log.size() - end.size()), end);
    QCOMPARE(rig.view.message, message); // the mode leaves the message line alone
    QCOMPARE(rig.memory.opens().size(), opensBefore + 1);
    verifyIdleAgain(rig);
}

void TestProcessMode::pollReplyLengths_data()
{
    QTest::addColumn<QByteArray>("replyText");
    QTest::addColumn<QString>("reader1");
    QTest::newRow("9 bytes: empty data") << QByteArray("F01: ") << "";
    QTest::newRow("8 bytes: unchanged") << QByteArray("F01:") << "0000012345";
    QTest::newRow("10 bytes: one character") << QByteArray("F01: 7") << "7";
}

void TestProcessMode::pollReplyLengths()
{
    QFETCH(QByteArray, replyText);
    QFETCH(QString, reader1);

    Rig rig;
    rig.scanned();
    rig.view.mode = 1;
    Clicks clicks(rig, {21});
    int polls = 0;
    rig.port.script = [&](const QByteArray &) {
        ScriptedPort::Response response;
        if (++polls == 2) {
            response.action = ScriptedPort::Action::Reply;
            response.replyText = replyText;
        }
        return response;
    };
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    QCOMPARE(polls, 2);
    QCOMPARE(rig.view.reader1, reader1);
}

void TestProcessMode::modeChangedWhileRunning()
{
    Rig rig;
    rig.scanned();
    rig.view.mode = 1;
    Clicks clicks(rig, {41});
    clicks.onPump = [&](int pump) {
        if (pump == 25)
            rig.view.mode = 0; // read afresh after the next first-reader poll
    };
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A01F", "A01F", "A05F"}));
    QCOMPARE(rig.view.reader2, QStringLiteral("0000067890"));
}

void TestProcessMode::idMovedWhileRunning()
{
    Rig rig;
    rig.scanned();
    Clicks clicks(rig, {});
    clicks.onPump = [&](int pump) {
        if (pump == 5)
            rig.view.setId1Position(7);
    };
    // No reader has ID 07: the first failing poll ends the mode without a retry.
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::Failed);
    QCOMPARE(rig.port.sent, QList<QByteArray>{"A07F"});
    QCOMPARE(rig.view.lamp, LampColour::Red);
    QCOMPARE(rig.view.beeps, (QList<QPair<int, int>>{{300, 300}}));
    verifyIdleAgain(rig);
}

void TestProcessMode::underscoreIdFails()
{
    // Found in one-reader mode, the list switched to two readers by hand: "__" goes out.
    Rig rig;
    rig.module.config().mode = '1';
    rig.scanned();
    QCOMPARE(rig.view.id2, QStringLiteral("__"));
    rig.view.mode = 0;
    Clicks clicks(rig, {});
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::Failed);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A01F", "A__F"}));
    QCOMPARE(rig.view.lamp, LampColour::Red);
    QCOMPARE(rig.view.beeps, (QList<QPair<int, int>>{{300, 300}}));
    verifyIdleAgain(rig);
}

void TestProcessMode::failureAfterCancelIsUserStop()
{
    Rig rig;
    rig.scanned();
    Clicks clicks(rig, {1});
    rig.port.script = [](const QByteArray &command) {
        ScriptedPort::Response response;
        if (command == "A05F")
            response.action = ScriptedPort::Action::Silence;
        return response;
    };
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A01F", "A05F"}));
    QCOMPARE(rig.view.lamp, LampColour::Yellow);
    QCOMPARE(rig.view.beeps, (QList<QPair<int, int>>{{1000, 300}}));
    verifyIdleAgain(rig);
}

void TestProcessMode::clickWhileStoppingIgnored()
{
    Rig rig;
    rig.scanned();
    const qsizetype opensBefore = rig.memory.opens().size();
    Clicks clicks(rig, {1, 5, 30});
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    QCOMPARE(clicks.outcomes,
             (QList<ProcessOutcome>{ProcessOutcome::CancelClick, ProcessOutcome::Ignored,
                                    ProcessOutcome::Ignored}));
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A01F", "A05F"}));
    QCOMPARE(rig.memory.opens().size(), opensBefore + 1);
    QCOMPARE(withoutPumps(rig.view.log).count("btnProcess: Cancel Process Module"), 1);
    verifyIdleAgain(rig);
}

void TestProcessMode::openFailure()
{
    Rig rig;
    rig.scanned();
    rig.memory.refuseOpen(Rig::device(3), PortError::Busy);
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::OpenFailed);

    QStringList expected = {"btnProcess: Cancel Process Module", "pnQMR1: ", "pnQMR2: "};
    expected += controlEntries("off");
    expected += {"lamp: red", "message: Open COM : 3 Error",
                 "detail: COM3: /dev/ttyQ3: open refused", "beep: 300 300"};
    expected += controlEntries("on");
    expected += "btnProcess: Process Module";
    QCOMPARE(rig.view.log, expected); // the busy state is not touched
    QVERIFY(rig.port.sent.isEmpty());
    verifyIdleAgain(rig);
}

void TestProcessMode::refusedWithoutScan()
{
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::NoScan);
    QCOMPARE(rig.view.log, (QStringList{"message: Start Scan Module!", "beep: 300 300"}));
    QVERIFY(rig.memory.opens().isEmpty());
    QVERIFY(!rig.ctx.ProcessActive);
}

QTEST_APPLESS_MAIN(TestProcessMode)
#include "tst_processmode.moc"

#include "rig.h"

#include "link/linedefinition.h"
#include "operations/scan.h"

#include <QTest>

namespace qmr {

namespace {

QMap<int, QString> sixteenPorts()
{
    QMap<int, QString> devices;
    for (int com = 1; com <= 16; ++com)
        devices.insert(com, Rig::device(com));
    return devices;
}

} // namespace

QByteArray ScriptedPort::replyFrame(const QByteArray &text)
{
    quint8 check = 0x0A;
    for (char c : text)
        check ^= quint8(c);
    return QByteArray(1, '\x0A') + text + Link::checkDigits(check) + QByteArray(1, '\x0D');
}

bool ScriptedPort::open(const QString &device)
{
    m_refused = refuse && refuse(device);
    if (m_refused)
        return false;
    return m_inner.open(device);
}

qint64 ScriptedPort::write(const char *data, qint64 count)
{
    m_chunks.append(QByteArray(data, count));
    if (count == 0 || data[count - 1] != '\x0D')
        return count;
    const QByteArray frame = m_chunks.join();
    const QList<QByteArray> chunks = m_chunks;
    m_chunks.clear();
    const QByteArray command = frame.mid(1, frame.size() - 4);
    sent.append(command);
    if (onCommand)
        onCommand(command);
    const Response response = script ? script(command) : Response{};
    switch (response.action) {
    case Action::Pass:
        for (const QByteArray &chunk : chunks)
            m_inner.write(chunk.constData(), chunk.size());
        break;
    case Action::Silence:
        break;
    case Action::Reply:
        m_inner.inject(replyFrame(response.replyText), m_clock.milliseconds());
        break;
    }
    return count;
}

Rig::Rig() : map(sixteenPorts()), link(port, clock, map), ctx{link, clock, settings, store, view} {}

void Rig::remember(int com, int lineIndex)
{
    settings.ScanCommNo = com;
    settings.ScanBaudRateNo = lineIndex;
    settings.ScanBaudRate = QString::fromLatin1(BaudRateTable[size_t(lineIndex)]);
}

void Rig::scanned()
{
    addModule(3, module);
    remember(3, module.config().lineIndex);
    QCOMPARE(RunScan(ctx), ScanOutcome::Ok);
    QVERIFY(ctx.ScanOk);
    clearRecords();
}

void Rig::clearRecords()
{
    view.clearRecords();
    port.sent.clear();
    clock.clearSleeps();
    store.saves.clear();
}

int Rig::sleepsOf(int ms) const
{
    return int(clock.sleeps().count(ms));
}

} // namespace qmr

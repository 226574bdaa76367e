#include "scan.h"

#include "link/commands.h"
#include "link/linedefinition.h"
#include "portdetail.h"

namespace qmr {

namespace {

constexpr int FirstPort = 1;
constexpr int LastPort = 16;
constexpr int RememberedPortAttempts = 3;
constexpr int SearchAttempts = 2;
constexpr int VersionAttempts = 2;
constexpr int InfoPauseMs = 100;
constexpr int FirstReaderReplyLength = 16;

class Scan
{
public:
    explicit Scan(ModuleContext &ctx)
        : m_ctx(ctx), m_view(ctx.view), m_link(ctx.link), m_settings(ctx.settings)
    {
    }

    ScanOutcome run()
    {
        prepare();
        if (m_settings.ScanCommNo > 0)
            tryRememberedPort();
        if (!m_found)
            search();
        if (!m_found)
            return notFound();
        return readInformation();
    }

private:
    QString text(TextRow row) const { return m_view.text(row); }

    void prepare()
    {
        m_view.setWaitCursor(true);
        m_view.processMessages();
        m_view.setBusy(true);
        m_view.setMessage(text(TextRow::ScanModule) + QStringLiteral(" ...."));
        m_view.setSerialText(text(TextRow::SN) + QStringLiteral(" : ________-_"));
        m_view.setVersionText(text(TextRow::Ver) + QStringLiteral(" : __.__-__"));
        m_view.setId1Text(QStringLiteral("__"));
        m_view.setId2Text(QStringLiteral("__"));
        m_view.processMessages();
        m_found = false;
        m_ctx.ScanOk = false;
        m_view.setMessageDetail(QString());
    }

    void showScanning(qint32 port)
    {
        m_view.setMessage(text(TextRow::ScanCom) + QStringLiteral(" : #") + QString::number(port));
    }

    // Names the device that did not open. A plain "no such device" does not hide an earlier,
    // more telling reason (a port the user may not open) from the same scan.
    void noteOpenFailure(qint32 port)
    {
        if (m_link.lastOpenError() == PortError::NotFound && m_telling)
            return;
        m_telling = m_link.lastOpenError() != PortError::NotFound;
        m_view.setMessageDetail(failedPortDetail(port, m_link));
    }

    // An "A00M" reply counts only with exactly 16 bytes.
    bool askFirstReader(int attempts)
    {
        for (int i = 0; i < attempts; ++i) {
            if (m_link.SendCommand(Command::readFirstReader()) &&
                m_link.ReplyLength == FirstReaderReplyLength)
                return true;
        }
        return false;
    }

    // The remembered port is opened with the remembered text, not with a table entry.
    void tryRememberedPort()
    {
        m_view.selectBaudRate(safeBaudRateNo(m_settings.ScanBaudRateNo));
        const QByteArray line = m_settings.ScanBaudRate.toLatin1();
        if (!m_link.ComOpen(m_settings.ScanCommNo, line.constData())) {
            noteOpenFailure(m_settings.ScanCommNo);
            return;
        }
        showScanning(m_settings.ScanCommNo);
        m_found = askFirstReader(RememberedPortAttempts);
        m_link.ComClose();
    }

    // Lower port first, then lower table index; the first pair that answers wins and is
    // remembered at once.
    void search()
    {
        for (int port = FirstPort; port <= LastPort && !m_found; ++port) {
            for (int baud = 0; baud < int(BaudRateTable.size()); ++baud) {
                const bool locked = m_view.lockChecked();
                const int index = locked ? safeBaudRateNo(m_settings.ScanBaudRateNo) : baud;
                m_view.selectBaudRate(index);
                if (!m_link.ComOpen(port, BaudRateTable[index])) {
                    noteOpenFailure(port);
                    break; // a port that does not open is not tried at other line settings
                }
                showScanning(port);
                if (askFirstReader(SearchAttempts)) {
                    m_found = true;
                    m_settings.ScanCommNo = port;
                    m_settings.ScanBaudRate = QString::fromLatin1(BaudRateTable[index]);
                    m_settings.ScanBaudRateNo = index;
                    m_ctx.store.SaveScanSettings(m_settings);
                }
                m_link.ComClose();
                if (m_found || locked)
                    break;
            }
        }
    }

    ScanOutcome notFound()
    {
        m_view.setBusy(false);
        m_view.setLamp(LampColour::Red);
        m_view.selectBaudRate(DefaultBaudRateNo);
        m_view.setMessage(text(TextRow::ModuleNotFind));
        m_view.beep(300, 300);
        m_view.setWaitCursor(false);
        return ScanOutcome::NotFound;
    }

    // Shows what the winning "A00M" reply says, then reads version, mode and the second ID.
    // A field that holds no number abandons the read; the scan still ends as an info error.
    ScanOutcome readInformation()
    {
        QString conversionError;
        try {
            showIdentity();
            m_found = false;
            const QByteArray line = m_settings.ScanBaudRate.toLatin1();
            if (m_link.ComOpen(m_settings.ScanCommNo, line.constData())) {
                readModuleInfo();
                m_link.ComClose();
            } else {
                noteOpenFailure(m_settings.ScanCommNo);
            }
        } catch (const ConversionError &error) {
            conversionError = error.message();
            m_found = false;
            if (m_link.isOpen())
                m_link.ComClose();
        }

        const QString port =
            QStringLiteral(" : #") + QString::number(m_settings.ScanCommNo) + QStringLiteral(")");
        ScanOutcome outcome;
        if (m_found) {
            m_view.setBusy(false);
            m_view.setLamp(LampColour::Yellow);
            m_view.beep(1000, 300);
            outcome = ScanOutcome::Ok;
        } else {
            m_view.setMessage(text(TextRow::GetModuleInfoError) + port);
            m_view.setBusy(false);
            m_view.setLamp(LampColour::Red);
            m_view.beep(300, 300);
            outcome = ScanOutcome::InfoError;
        }
        m_view.setWaitCursor(false);
        // Shown last, so the window is already back to normal behind the message box.
        if (!conversionError.isEmpty())
            m_view.showError(conversionError);
        return outcome;
    }

    void showIdentity()
    {
        m_view.selectBaudRate(safeBaudRateNo(m_settings.ScanBaudRateNo));
        const QByteArray reply = m_link.ReplyText;
        const int suffix = Reply::unitDigit(reply) + 1;
        m_view.setSerialText(text(TextRow::SN) + QStringLiteral(" : ") +
                             QString::fromLatin1(Reply::serialNumber(reply)) + QStringLiteral("-") +
                             QString::number(suffix));
        const QByteArray id = Reply::moduleId(reply);
        m_view.setId1Text(QString::fromLatin1(id));
        m_view.setId1Position(fieldToInt(id));
    }

    void readModuleInfo()
    {
        bool version = false;
        for (int i = 0; i < VersionAttempts && !version; ++i) {
            m_ctx.clock.sleep(InfoPauseMs);
            version = m_link.SendCommand(Command::readVersion());
        }
        if (!version)
            return;
        m_ctx.clock.sleep(InfoPauseMs);
        m_view.setVersionText(text(TextRow::Ver) + QStringLiteral(" : ") +
                              QString::fromLatin1(Reply::version(m_link.ReplyText)));

        if (!m_link.SendCommand(Command::readMode()))
            return;
        const QByteArray mode = Reply::modeChar(m_link.ReplyText);
        m_view.selectMode(mode == "0" ? 0 : 1);
        const QByteArray rs485 = Reply::rs485Char(m_link.ReplyText);
        if (rs485 == "0" || rs485 == "1" || rs485 == "2")
            m_view.selectRs485(rs485.at(0) - '0');

        m_ctx.clock.sleep(InfoPauseMs);
        if (!m_link.SendCommand(Command::readSecondReader()))
            return;
        const QByteArray id2 = Reply::moduleId(m_link.ReplyText);
        m_view.setId2Position(fieldToInt(id2));
        m_view.setId2Text(m_view.modeIndex() == 0 ? QString::fromLatin1(id2)
                                                  : QStringLiteral("__"));
        m_found = true;
        m_view.setMessage(text(TextRow::GetModuleInfoOk) + QStringLiteral(" : #") +
                          QString::number(m_settings.ScanCommNo) + QStringLiteral(")"));
        m_ctx.ScanOk = true;
        m_view.setMessageDetail(openedPortDetail(m_settings.ScanCommNo, m_link));
    }

    ModuleContext &m_ctx;
    ModuleView &m_view;
    Link &m_link;
    Settings &m_settings;
    bool m_found = false;
    bool m_telling = false; // the message detail names a reason other than "no such device"
};

} // namespace

ScanOutcome RunScan(ModuleContext &ctx)
{
    return Scan(ctx).run();
}

} // namespace qmr

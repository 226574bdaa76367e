#include "scan.h"

#include "link/commands.h"
#include "link/linedefinition.h"
#include "portdetail.h"

namespace qmr {

namespace {

constexpr int FirstPort = 1;
constexpr int LastPort = 16;
constexpr int RememberedPortAttempts = 3;
constexpr int VersionAttempts = 2;

class Scan
{
public:
    explicit Scan(ModuleContext &ctx)
        : m_ctx(ctx), m_view(ctx.view), m_link(ctx.link), m_settings(ctx.settings)
    {
    }

    ScanResult run()
    {
        prepare();
        if (m_settings.ScanCommNo > 0)
            tryRememberedPort();
        if (!m_found)
            search();
        m_result.outcome = m_found ? readInformation() : notFound();
        return m_result;
    }

private:
    std::string text(TextRow row) const { return m_view.text(row); }

    void prepare()
    {
        m_view.setWaitCursor(true);
        m_view.processMessages();
        m_view.SetBusy(true);
        m_view.setMessage(text(TextRow::ScanModule) + " ....");
        m_view.setSerialText(text(TextRow::SN) + " : ________-_");
        m_view.setVersionText(text(TextRow::Ver) + " : __.__-__");
        m_view.setId1Text("__");
        m_view.setId2Text("__");
        m_view.processMessages();
        m_found = false;
        m_ctx.ScanOk = false;
        m_view.setMessageDetail(std::string());
    }

    void showScanning(std::int32_t port)
    {
        m_view.setMessage(text(TextRow::ScanCom) + " : #" + std::to_string(port));
    }

    // Names the device that did not open. A plain "no such device" does not hide an earlier,
    // more telling reason (a port the user may not open) from the same scan.
    void noteOpenFailure(std::int32_t port)
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
                m_link.ReplyLength == Reply::ReaderReplyLength) {
                m_result.readFirstReader = true;
                return true;
            }
        }
        return false;
    }

    // A server that cannot set the line is not asked at it; the detail says why.
    bool lineCarried(std::int32_t port)
    {
        if (m_link.lineRefusal().empty())
            return true;
        m_view.setMessageDetail(openedPortDetail(port, m_link) + ": " + m_link.lineRefusal());
        m_telling = true;
        return false;
    }

    // The remembered port is opened with the remembered text, not with a table entry.
    void tryRememberedPort()
    {
        m_view.selectBaudRate(safeBaudRateNo(m_settings.ScanBaudRateNo));
        if (!openRememberedPort(m_ctx)) {
            m_telling = m_link.lastOpenError() != PortError::NotFound;
            return;
        }
        showScanning(m_settings.ScanCommNo);
        m_found = lineCarried(m_settings.ScanCommNo) && askFirstReader(RememberedPortAttempts);
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
                const bool fixed = m_link.lineFixed();
                if (lineCarried(port) && askFirstReader(ScanSearchAttempts)) {
                    m_found = true;
                    m_settings.ScanCommNo = port;
                    m_settings.ScanBaudRate = BaudRateTable[index];
                    m_settings.ScanBaudRateNo = index;
                    SaveScanSettings(m_ctx.store, m_settings);
                }
                if (fixed && !m_found) {
                    m_view.setMessageDetail(openedPortDetail(port, m_link) +
                                            ": the line setting is the server's and cannot be "
                                            "changed from here; tried as it is only");
                    m_telling = true;
                }
                m_link.ComClose();
                if (m_found || locked || fixed)
                    break;
            }
        }
    }

    ScanOutcome notFound()
    {
        m_view.SetBusy(false);
        m_view.setLamp(LampColour::Red);
        m_view.selectBaudRate(DefaultBaudRateNo);
        m_view.setMessage(text(TextRow::ModuleNotFind));
        m_view.sound(FailureTone);
        m_view.setWaitCursor(false);
        return ScanOutcome::NotFound;
    }

    // Shows what the winning "A00M" reply says, then reads version, mode and the second ID.
    // A field that holds no number abandons the read; the scan still ends as an info error.
    ScanOutcome readInformation()
    {
        m_result.port = m_settings.ScanCommNo;
        m_result.line = m_settings.ScanBaudRate;
        m_result.baudRateNo = baudRateIndexOf(m_settings.ScanBaudRate);
        m_result.device = m_link.lastDevice();
        m_result.adapter = m_link.portMap().adapterFor(m_result.device);
        std::string conversionError;
        try {
            showIdentity();
            m_found = false;
            if (openRememberedPort(m_ctx)) {
                readModuleInfo();
                m_link.ComClose();
            }
        } catch (const ConversionError &error) {
            conversionError = error.what();
            m_result.error = conversionError;
            m_found = false;
            if (m_link.isOpen())
                m_link.ComClose();
        }

        const std::string port = " : #" + std::to_string(m_settings.ScanCommNo) + ")";
        ScanOutcome outcome;
        if (m_found) {
            m_view.SetBusy(false);
            m_view.setLamp(LampColour::Yellow);
            m_view.sound(SuccessTone);
            outcome = ScanOutcome::Ok;
        } else {
            m_view.setMessage(text(TextRow::GetModuleInfoError) + port);
            m_view.SetBusy(false);
            m_view.setLamp(LampColour::Red);
            m_view.sound(FailureTone);
            outcome = ScanOutcome::InfoError;
        }
        m_view.setWaitCursor(false);
        // Shown last, so the window is already back to normal behind the message box.
        if (!conversionError.empty())
            m_view.showError(conversionError);
        return outcome;
    }

    void showIdentity()
    {
        m_view.selectBaudRate(safeBaudRateNo(m_settings.ScanBaudRateNo));
        const std::string reply = m_link.ReplyText;
        m_result.serial = Reply::serialNumber(reply);
        m_result.id1 = Reply::moduleId(reply);
        const int suffix = Reply::unitDigit(reply) + 1;
        m_result.unitSuffix = suffix;
        m_view.setSerialText(text(TextRow::SN) + " : " + m_result.serial + "-" +
                             std::to_string(suffix));
        m_view.setId1Text(m_result.id1);
        m_view.setId1Position(fieldToInt(m_result.id1));
    }

    void readModuleInfo()
    {
        bool version = false;
        for (int i = 0; i < VersionAttempts && !version; ++i) {
            m_ctx.clock.sleep(ScanInfoPauseMs);
            version = m_link.SendCommand(Command::readVersion());
        }
        if (!version)
            return;
        m_result.readVersion = true;
        m_result.version = Reply::version(m_link.ReplyText);
        m_ctx.clock.sleep(ScanInfoPauseMs);
        m_view.setVersionText(text(TextRow::Ver) + " : " + m_result.version);

        if (!m_link.SendCommand(Command::readMode()))
            return;
        m_result.readMode = true;
        const std::string mode = Reply::modeChar(m_link.ReplyText);
        m_result.modeIndex = mode == "0" ? 0 : 1;
        m_view.selectMode(m_result.modeIndex);
        const std::string rs485 = Reply::rs485Char(m_link.ReplyText);
        if (rs485 == "0" || rs485 == "1" || rs485 == "2") {
            m_result.rs485Index = rs485[0] - '0';
            m_view.selectRs485(m_result.rs485Index);
        }

        m_ctx.clock.sleep(ScanInfoPauseMs);
        if (!m_link.SendCommand(Command::readSecondReader()))
            return;
        m_result.readSecondReader = true;
        m_result.id2 = Reply::moduleId(m_link.ReplyText);
        m_view.setId2Position(fieldToInt(m_result.id2));
        m_view.setId2Text(m_view.modeIndex() == 0 ? m_result.id2 : std::string("__"));
        m_found = true;
        m_view.setMessage(text(TextRow::GetModuleInfoOk) + " : #" +
                          std::to_string(m_settings.ScanCommNo) + ")");
        m_ctx.ScanOk = true;
        m_view.setMessageDetail(openedPortDetail(m_settings.ScanCommNo, m_link));
    }

    ModuleContext &m_ctx;
    ModuleView &m_view;
    Link &m_link;
    Settings &m_settings;
    ScanResult m_result;
    bool m_found = false;
    bool m_telling = false; // the message detail names a reason other than "no such device"
};

} // namespace

ScanResult RunScan(ModuleContext &ctx)
{
    // One connection to a network port for the whole sweep: the line changes over it.
    const ConnectionHold hold(ctx.link);
    return Scan(ctx).run();
}

} // namespace qmr

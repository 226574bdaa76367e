#include "recordingview.h"

#ifdef QMR_HAVE_LANGUAGE_TABLE
#include "window/languagetable.h"
#endif

#include <QtGlobal>
#include <array>

namespace qmr {

namespace {

#ifdef QMR_HAVE_LANGUAGE_TABLE
const LanguageTable &table()
{
    static const LanguageTable languages;
    return languages;
}
#else
// The English column, until the language table is part of the build.
constexpr std::array<const char *, TextRowCount> English = {
    "TAVEX Technology Corp.   ",
    "TAVEX QLN-72RT Module Config V3.20-01",
    "Start Scan Module!",
    "Cancel Process Module",
    "ID",
    "BaudRate",
    "Set Module Baud Rate (Reset)",
    "Process Module",
    "Factory Default",
    "One Reader",
    "Quick Setting",
    "Default",
    "S/N Set",
    "Exit",
    "Open COM",
    "Error",
    "Scan Module",
    "S/N",
    "No",
    "VER",
    "Scan COM",
    "Get Module Info Ok. (COM",
    "Get Module Info Error. (COM",
    "Module Not Find",
    "Set Module ID",
    "Set Module ID Ok",
    "Set Module ID Error",
    "Set Module No",
    "Set Module No Ok",
    "Set Module No Error",
    "Set Module BaudRate",
    "Set Module BaudRate Ok",
    "Set Module BaudRate Error",
    "Set Module Mode",
    "Set Module Mode Ok",
    "Set Module Mode Error",
    "Set Factory Default",
    "Set Factory Default Ok",
    "Set Factory Default Error",
    "Set Factory Test",
    "Set Factory Test Ok",
    "Set Factory Test Error",
};
#endif

} // namespace

QString controlName(Control control)
{
    static const std::array<const char *, 11> names = {
        "btnExit", "btnScan",   "btnFactory", "btnOne", "btnID",   "btnBaudRate",
        "btnMode", "gbDefault", "btnEng",     "btnGB",  "btnBIG5",
    };
    return QString::fromLatin1(names.at(size_t(control)));
}

RecordingView::RecordingView()
{
    caption = text(TextRow::ProcessModule);
}

QStringList RecordingView::messages() const
{
    QStringList texts;
    for (const QString &entry : log)
        if (entry.startsWith(QLatin1String("message: ")))
            texts.append(entry.mid(9));
    return texts;
}

QStringList RecordingView::entries(const QString &prefix) const
{
    QStringList found;
    for (const QString &entry : log)
        if (entry.startsWith(prefix))
            found.append(entry);
    return found;
}

void RecordingView::clearRecords()
{
    log.clear();
    pumps = 0;
    beeps.clear();
    errors.clear();
}

QString RecordingView::text(TextRow row) const
{
#ifdef QMR_HAVE_LANGUAGE_TABLE
    return table().text(row, languageIndex);
#else
    return QString::fromLatin1(English.at(size_t(row)));
#endif
}

void RecordingView::setMessage(const QString &text)
{
    message = text;
    log.append(QStringLiteral("message: ") + text);
}

void RecordingView::setMessageDetail(const QString &text)
{
    detail = text;
    log.append(QStringLiteral("detail: ") + text);
}

void RecordingView::setSerialText(const QString &text)
{
    serial = text;
    log.append(QStringLiteral("serial: ") + text);
}

void RecordingView::setVersionText(const QString &text)
{
    version = text;
    log.append(QStringLiteral("version: ") + text);
}

void RecordingView::setId1Text(const QString &text)
{
    id1 = text;
    log.append(QStringLiteral("pnID: ") + text);
}

void RecordingView::setId2Text(const QString &text)
{
    id2 = text;
    log.append(QStringLiteral("pnID2: ") + text);
}

// The scroll bar's change handler runs only when the position really changes.
void RecordingView::setId1Position(int position)
{
    log.append(QStringLiteral("sbID: %1").arg(position));
    position = qBound(1, position, 99);
    if (position == position1)
        return;
    position1 = position;
    id1 = QString::asprintf("%02d", position);
}

void RecordingView::setId2Position(int position)
{
    log.append(QStringLiteral("sbID2: %1").arg(position));
    position = qBound(1, position, 99);
    if (position == position2)
        return;
    position2 = position;
    id2 = QString::asprintf("%02d", position);
}

void RecordingView::selectBaudRate(int index)
{
    baudIndex = index;
    log.append(QStringLiteral("cmbBaudRate: %1").arg(index));
}

void RecordingView::selectMode(int index)
{
    mode = index;
    log.append(QStringLiteral("cmbMode: %1").arg(index));
}

void RecordingView::selectRs485(int index)
{
    rs485 = index;
    log.append(QStringLiteral("cmbRS485: %1").arg(index));
}

void RecordingView::setReader1Data(const QString &text)
{
    reader1 = text;
    log.append(QStringLiteral("pnQMR1: ") + text);
}

void RecordingView::setReader2Data(const QString &text)
{
    reader2 = text;
    log.append(QStringLiteral("pnQMR2: ") + text);
}

void RecordingView::setProcessCaption(const QString &text)
{
    caption = text;
    log.append(QStringLiteral("btnProcess: ") + text);
}

void RecordingView::setControlEnabled(Control control, bool on)
{
    enabled[control] = on;
    log.append(QStringLiteral("%1: %2").arg(controlName(control), on ? "on" : "off"));
}

void RecordingView::setLamp(LampColour colour)
{
    lamp = colour;
    log.append(colour == LampColour::Yellow ? QStringLiteral("lamp: yellow")
                                            : QStringLiteral("lamp: red"));
}

void RecordingView::beep(int frequencyHz, int durationMs)
{
    beeps.append({frequencyHz, durationMs});
    log.append(QStringLiteral("beep: %1 %2").arg(frequencyHz).arg(durationMs));
}

void RecordingView::setBusy(bool on)
{
    busy = on;
    if (on)
        windowEnabled = false;
    else
        windowEnabled = true;
    log.append(on ? QStringLiteral("busy: on") : QStringLiteral("busy: off"));
}

void RecordingView::setWindowEnabled(bool on)
{
    windowEnabled = on;
    log.append(on ? QStringLiteral("window: on") : QStringLiteral("window: off"));
}

void RecordingView::setWaitCursor(bool on)
{
    waitCursor = on;
    log.append(on ? QStringLiteral("cursor: wait") : QStringLiteral("cursor: normal"));
}

void RecordingView::processMessages()
{
    ++pumps;
    log.append(QStringLiteral("pump"));
    if (onProcessMessages)
        onProcessMessages(pumps);
}

void RecordingView::showError(const QString &text)
{
    errors.append(text);
    log.append(QStringLiteral("error: ") + text);
}

} // namespace qmr

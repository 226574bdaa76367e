#include "recordingview.h"

#include "texts/languagetable.h"

#include <algorithm>
#include <cstdio>

namespace qmr {

namespace {

const LanguageTable &table()
{
    static const LanguageTable languages;
    return languages;
}

// What the scroll bar's change handler writes into its panel.
std::string twoDigits(int position)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", position);
    return text;
}

} // namespace

RecordingView::RecordingView()
{
    caption = text(TextRow::ProcessModule);
}

std::vector<std::string> RecordingView::messages() const
{
    const std::string_view prefix = "message: ";
    std::vector<std::string> texts;
    for (const std::string &entry : log) {
        if (entry.starts_with(prefix))
            texts.push_back(entry.substr(prefix.size()));
    }
    return texts;
}

std::vector<std::string> RecordingView::entries(std::string_view prefix) const
{
    std::vector<std::string> found;
    for (const std::string &entry : log) {
        if (entry.starts_with(prefix))
            found.push_back(entry);
    }
    return found;
}

void RecordingView::clearRecords()
{
    log.clear();
    pumps = 0;
    beeps.clear();
    errors.clear();
}

std::string RecordingView::text(TextRow row) const
{
    return table().text(row, languageIndex);
}

void RecordingView::setMessage(const std::string &text)
{
    message = text;
    log.push_back("message: " + text);
}

void RecordingView::setMessageDetail(const std::string &text)
{
    detail = text;
    log.push_back("detail: " + text);
}

void RecordingView::setSerialText(const std::string &text)
{
    serial = text;
    log.push_back("serial: " + text);
}

void RecordingView::setVersionText(const std::string &text)
{
    version = text;
    log.push_back("version: " + text);
}

void RecordingView::setId1Text(const std::string &text)
{
    id1 = text;
    log.push_back("pnID: " + text);
}

void RecordingView::setId2Text(const std::string &text)
{
    id2 = text;
    log.push_back("pnID2: " + text);
}

// The scroll bar's change handler runs only when the position really changes.
void RecordingView::setId1Position(int position)
{
    log.push_back("sbID: " + std::to_string(position));
    position = std::clamp(position, 1, 99);
    if (position == position1)
        return;
    position1 = position;
    id1 = twoDigits(position);
}

void RecordingView::setId2Position(int position)
{
    log.push_back("sbID2: " + std::to_string(position));
    position = std::clamp(position, 1, 99);
    if (position == position2)
        return;
    position2 = position;
    id2 = twoDigits(position);
}

void RecordingView::selectBaudRate(int index)
{
    baudIndex = index;
    log.push_back("cmbBaudRate: " + std::to_string(index));
}

void RecordingView::selectMode(int index)
{
    mode = index;
    log.push_back("cmbMode: " + std::to_string(index));
}

void RecordingView::selectRs485(int index)
{
    rs485 = index;
    log.push_back("cmbRS485: " + std::to_string(index));
}

void RecordingView::setReader1Data(const std::string &text)
{
    reader1 = text;
    log.push_back("pnQMR1: " + text);
}

void RecordingView::setReader2Data(const std::string &text)
{
    reader2 = text;
    log.push_back("pnQMR2: " + text);
}

void RecordingView::setProcessCaption(const std::string &text)
{
    caption = text;
    log.push_back("btnProcess: " + text);
}

void RecordingView::setControlEnabled(Control control, bool on)
{
    enabled[control] = on;
    log.push_back(std::string(controlName(control)) + (on ? ": on" : ": off"));
}

void RecordingView::setLamp(LampColour colour)
{
    lamp = colour;
    log.push_back(colour == LampColour::Yellow ? "lamp: yellow" : "lamp: red");
}

void RecordingView::beep(int frequencyHz, int durationMs)
{
    beeps.emplace_back(frequencyHz, durationMs);
    log.push_back("beep: " + std::to_string(frequencyHz) + " " + std::to_string(durationMs));
}

// Like the window: the busy state disables it, its end enables it again.
void RecordingView::SetBusy(bool on)
{
    busy = on;
    windowEnabled = !on;
    log.push_back(on ? "busy: on" : "busy: off");
}

void RecordingView::setWindowEnabled(bool on)
{
    windowEnabled = on;
    log.push_back(on ? "window: on" : "window: off");
}

void RecordingView::setWaitCursor(bool on)
{
    waitCursor = on;
    log.push_back(on ? "cursor: wait" : "cursor: normal");
}

void RecordingView::processMessages()
{
    ++pumps;
    log.push_back("pump");
    if (onProcessMessages)
        onProcessMessages(pumps);
}

void RecordingView::showError(const std::string &text)
{
    errors.push_back(text);
    log.push_back("error: " + text);
}

} // namespace qmr

#pragma once

#include "form/inventory.h"
#include "operations/moduleview.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmr {

// A front end that records every call in order and behaves like the window where an
// operation can tell: the scroll bars clamp and run their change handler only when the
// position changes, the lists hold a selection, the texts come in the chosen language.
class RecordingView : public ModuleView
{
public:
    RecordingView();

    int languageIndex = 0;

    // Every call, "name: argument", in order; processMessages() appears as "pump".
    std::vector<std::string> log;
    int pumps = 0;
    // Runs inside processMessages(): where a test clicks, moves a scroll bar or changes a list.
    std::function<void(int pumpNumber)> onProcessMessages;

    std::string message, detail, serial, version;
    std::string id1 = "__", id2 = "__";
    int position1 = 1, position2 = 1;
    int baudIndex = 5, mode = 0, rs485 = 1;
    bool lock = true;
    std::string reader1, reader2;
    std::string caption;
    std::map<Control, bool> enabled;
    bool windowEnabled = true, busy = false, waitCursor = false;
    LampColour lamp = LampColour::Red;
    std::vector<std::pair<int, int>> beeps; // frequency, duration
    std::vector<std::string> errors;

    // The texts given to setMessage(), in order.
    std::vector<std::string> messages() const;
    // The log entries that start with prefix.
    std::vector<std::string> entries(std::string_view prefix) const;
    void clearRecords();

    std::string text(TextRow row) const override;
    void setMessage(const std::string &text) override;
    void setMessageDetail(const std::string &text) override;
    void setSerialText(const std::string &text) override;
    void setVersionText(const std::string &text) override;
    std::string id1Text() const override { return id1; }
    void setId1Text(const std::string &text) override;
    std::string id2Text() const override { return id2; }
    void setId2Text(const std::string &text) override;
    int id1Position() const override { return position1; }
    void setId1Position(int position) override;
    int id2Position() const override { return position2; }
    void setId2Position(int position) override;
    int baudRateIndex() const override { return baudIndex; }
    void selectBaudRate(int index) override;
    int modeIndex() const override { return mode; }
    void selectMode(int index) override;
    int rs485Index() const override { return rs485; }
    void selectRs485(int index) override;
    bool lockChecked() const override { return lock; }
    void setReader1Data(const std::string &text) override;
    void setReader2Data(const std::string &text) override;
    std::string processCaption() const override { return caption; }
    void setProcessCaption(const std::string &text) override;
    void setControlEnabled(Control control, bool on) override;
    void setLamp(LampColour colour) override;
    void beep(int frequencyHz, int durationMs) override;
    void SetBusy(bool on) override;
    void setWindowEnabled(bool on) override;
    void setWaitCursor(bool on) override;
    void processMessages() override;
    void showError(const std::string &text) override;
};

} // namespace qmr

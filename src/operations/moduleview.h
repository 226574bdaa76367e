#pragma once

#include "texts/textrow.h"

#include <array>
#include <string>

namespace qmr {

enum class LampColour
{
    Red,
    Yellow
};

// The two outcome tones: high for success, low for failure or refusal.
struct Tone
{
    int frequencyHz;
    int durationMs;
};
inline constexpr Tone SuccessTone{1000, 300};
inline constexpr Tone FailureTone{300, 300};

// Every control of the window by its name. The numbers are the controls' IDs as a screen
// reader or a test driver finds them in the native window, so they stay stable.
enum class Control : int
{
    None = 0,
    frmModule = 1000, // the window itself: its title and its enabled state
    pnMsg = 1001,
    shComm = 1002, // inside pnMsg
    pnSerial = 1003,
    pnVersion = 1004,
    btnScan = 1005,
    lblID = 1006,
    pnID = 1007,
    sbID = 1008,
    lblID2 = 1009,
    pnID2 = 1010,
    sbID2 = 1011,
    btnID = 1012,
    lblBaudRate = 1013,
    cmbBaudRate = 1014,
    chkLock = 1015,
    btnBaudRate = 1016,
    cmbMode = 1017,
    cmbRS485 = 1018,
    btnMode = 1019,
    pnQMR1 = 1020,
    pnQMR2 = 1021,
    btnProcess = 1022,
    gbDefault = 1023,
    pcDefault = 1024,
    tsDefault = 1025, // the one page of pcDefault
    btnFactory = 1026,
    btnOne = 1027,
    btnEng = 1028,
    btnGB = 1029,
    btnBIG5 = 1030,
    btnExit = 1031,
    pnTAVEX = 1032,
};

// The controls that could start another operation: process mode disables them while it runs,
// in this order, and a window that recovers from a failed handler enables them again.
inline constexpr std::array<Control, 11> LockedControls = {
    Control::btnExit, Control::btnScan,     Control::btnFactory, Control::btnOne,
    Control::btnID,   Control::btnBaudRate, Control::btnMode,    Control::gbDefault,
    Control::btnEng,  Control::btnGB,       Control::btnBIG5,
};

// What an operation sees of its front end: the window implements it, so does the console
// front end and the tests. Every call happens on the one thread the operation runs on.
class ModuleView
{
public:
    virtual ~ModuleView() = default;

    // The text of a row in the current language (UTF-8, as every text of the view).
    virtual std::string text(TextRow row) const = 0;

    virtual void setMessage(const std::string &text) = 0; // pnMsg
    // The tooltip of the message line: the device behind a COM number and why it failed.
    virtual void setMessageDetail(const std::string &text) = 0;
    virtual void setSerialText(const std::string &text) = 0;  // pnSerial
    virtual void setVersionText(const std::string &text) = 0; // pnVersion

    virtual std::string id1Text() const = 0; // pnID
    virtual void setId1Text(const std::string &text) = 0;
    virtual std::string id2Text() const = 0; // pnID2
    virtual void setId2Text(const std::string &text) = 0;
    // The scroll bars; setting a position that differs from the current one runs the change
    // handler, which writes the panel as "%02d". Positions are clamped to 1..99.
    virtual int id1Position() const = 0;
    virtual void setId1Position(int position) = 0;
    virtual int id2Position() const = 0;
    virtual void setId2Position(int position) = 0;

    virtual int baudRateIndex() const = 0; // cmbBaudRate, -1 when nothing is selected
    virtual void selectBaudRate(int index) = 0;
    virtual int modeIndex() const = 0; // cmbMode: 0 "Two Reader", 1 "One Reader"
    virtual void selectMode(int index) = 0;
    virtual int rs485Index() const = 0; // cmbRS485: 0..2
    virtual void selectRs485(int index) = 0;
    virtual bool lockChecked() const = 0; // chkLock

    virtual void setReader1Data(const std::string &text) = 0; // pnQMR1
    virtual void setReader2Data(const std::string &text) = 0; // pnQMR2
    virtual std::string processCaption() const = 0;           // btnProcess
    virtual void setProcessCaption(const std::string &text) = 0;
    virtual void setControlEnabled(Control control, bool enabled) = 0;

    virtual void setLamp(LampColour colour) = 0; // shComm
    // Sounds a tone and returns when it has finished (about ms later).
    virtual void beep(int frequencyHz, int durationMs) = 0;
    void sound(Tone tone) { beep(tone.frequencyHz, tone.durationMs); }
    // The busy state: on = blink timer on, then the window disabled; off = the reverse.
    virtual void SetBusy(bool on) = 0;
    virtual void setWindowEnabled(bool enabled) = 0;
    virtual void setWaitCursor(bool on) = 0;
    // Lets pending window events run (clicks, repaints, the blink timer).
    virtual void processMessages() = 0;
    // An operation abandoned with an error text (a reply field that is no number): shown in
    // a message box by the window, on standard error by the console.
    virtual void showError(const std::string &text) = 0;
};

} // namespace qmr

#pragma once

#include "form/inventory.h"
#include "operations/moduleview.h"

#include <string>
#include <vector>

namespace qmr {

// What a front end does for the form: it makes and draws the native controls and carries the
// user's input to the form as events. It holds no rule of behaviour: what a click does, what is
// enabled, where the focus goes and what a text says are the form's. Texts are UTF-8.
// Control::frmModule stands for the window itself (its title, its enabled state).
class FormRenderer
{
public:
    virtual ~FormRenderer() = default;

    // Makes the native control at its box, with the items of a list; the form then sets its
    // text, state and selection. Controls come parents first, in the inventory's order.
    virtual void createControl(const ControlSpec &entry, const std::vector<std::string> &items) = 0;
    // Puts the controls that take the focus into this order for Tab.
    virtual void setTabOrder(std::span<const Control> order) = 0;

    virtual void setText(Control id, const std::string &text) = 0;
    virtual std::string text(Control id) const = 0;
    // The tooltip of the message line; empty removes it, also one on screen now.
    virtual void setDetail(const std::string &text) = 0;
    // A list's selection, -1 for none.
    virtual int selection(Control list) const = 0;
    virtual void select(Control list, int index) = 0;
    virtual int position(Control bar) const = 0;
    // Moves a scroll bar without reporting it back as the user's move.
    virtual void setPosition(Control bar, int position) = 0;
    virtual bool checked(Control box) const = 0;
    virtual void setChecked(Control box, bool checked) = 0;
    // The control alone; the form passes the state that follows from the control's parents.
    virtual void setEnabled(Control id, bool enabled) = 0;
    virtual void setLamp(LampColour colour) = 0;
    // Fonts for the captions of a language: faces that have the script's characters.
    virtual void setScript(Script script) = 0;

    // The control with the keyboard focus; None when the window itself holds it or is inactive.
    virtual Control focus() const = 0;
    // None takes the focus from every control: keys then reach no control.
    virtual void setFocus(Control id) = 0;
    // True while the window is the active one of the desktop.
    virtual bool isActive() const = 0;

    // The blink clock: the front end calls TfrmModule::tick() every TickIntervalMs while it runs.
    virtual void setTickRunning(bool running) = 0;
    virtual void setWaitCursor(bool on) = 0;
    // Sounds a tone and returns when it has finished.
    virtual void beep(int frequencyHz, int durationMs) = 0;
    // Lets pending window events run (clicks, repaints, ticks).
    virtual void pumpEvents() = 0;
    // A message box with the text; returns when the user has closed it.
    virtual void showError(const std::string &text) = 0;
    // Closes the window, which ends the program's event loop.
    virtual void closeWindow() = 0;
};

} // namespace qmr

#pragma once

#include "operations/moduleview.h"
#include "texts/languagetable.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace qmr {

// The operations' front end on a terminal. It holds what the window's controls would show;
// messages become progress lines on the error stream while progress is on, and the reader
// panels become calls of the reader-data hook (process mode prints them).
class ConsoleView : public ModuleView
{
public:
    ConsoleView(const LanguageTable &table, int languageIndex, std::ostream &err);

    void setLanguageIndex(int index) { m_languageIndex = index; }
    int languageIndex() const { return m_languageIndex; }
    // The lock box: ticked unless every line setting is to be swept.
    void setLockChecked(bool checked) { m_lock = checked; }
    // Rewrite a one-line progress display on the error stream at every message change.
    void setProgress(bool on);
    // The outcome beep rings the terminal bell.
    void setBell(bool on) { m_bell = on; }
    // What processMessages() does: process mode checks for its stop there.
    void setMessageHook(std::function<void()> hook) { m_messageHook = std::move(hook); }
    // Called for every reader panel change with the reader number (1 or 2) and the text.
    void setReaderDataHook(std::function<void(int, const std::string &)> hook)
    {
        m_readerHook = std::move(hook);
    }

    const std::string &message() const { return m_message; }
    const std::string &messageDetail() const { return m_messageDetail; }
    LampColour lamp() const { return m_lamp; }
    bool busy() const { return m_busy; }
    // Errors shown through showError(), in order, as given.
    const std::vector<std::string> &errors() const { return m_errors; }

    std::string text(TextRow row) const override;
    void setMessage(const std::string &text) override;
    void setMessageDetail(const std::string &text) override { m_messageDetail = text; }
    void setSerialText(const std::string &) override {}
    void setVersionText(const std::string &) override {}
    std::string id1Text() const override { return m_id1Text; }
    void setId1Text(const std::string &text) override { m_id1Text = text; }
    std::string id2Text() const override { return m_id2Text; }
    void setId2Text(const std::string &text) override { m_id2Text = text; }
    int id1Position() const override { return m_id1Position; }
    void setId1Position(int position) override;
    int id2Position() const override { return m_id2Position; }
    void setId2Position(int position) override;
    int baudRateIndex() const override { return m_baudRateIndex; }
    void selectBaudRate(int index) override;
    int modeIndex() const override { return m_modeIndex; }
    void selectMode(int index) override { m_modeIndex = index; }
    int rs485Index() const override { return m_rs485Index; }
    void selectRs485(int index) override { m_rs485Index = index; }
    bool lockChecked() const override { return m_lock; }
    void setReader1Data(const std::string &text) override;
    void setReader2Data(const std::string &text) override;
    std::string processCaption() const override { return m_processCaption; }
    void setProcessCaption(const std::string &text) override { m_processCaption = text; }
    void setControlEnabled(Control, bool) override {}
    void setLamp(LampColour colour) override { m_lamp = colour; }
    void beep(int frequencyHz, int durationMs) override;
    void SetBusy(bool on) override { m_busy = on; }
    void setWindowEnabled(bool) override {}
    void setWaitCursor(bool) override {}
    void processMessages() override;
    void showError(const std::string &text) override;

    // "%02d", as the window's ID panels show a scroll-bar position.
    static std::string idText(int id);

private:
    void drawProgress();
    void clearProgress();

    const LanguageTable &m_table;
    int m_languageIndex;
    std::ostream &m_err;
    bool m_progress = false;
    bool m_progressShown = false;
    std::string m_progressLine;
    bool m_bell = false;
    bool m_lock = true;
    std::function<void()> m_messageHook;
    std::function<void(int, const std::string &)> m_readerHook;

    std::string m_message;
    std::string m_messageDetail;
    // The window starts with both panels at "__" and both scroll bars at 1.
    std::string m_id1Text = "__";
    std::string m_id2Text = "__";
    int m_id1Position = 1;
    int m_id2Position = 1;
    int m_baudRateIndex = 5;
    int m_modeIndex = 0;  // "Two Reader"
    int m_rs485Index = 1; // "RS485 32"
    std::string m_processCaption;
    LampColour m_lamp = LampColour::Yellow;
    bool m_busy = false;
    std::vector<std::string> m_errors;
};

} // namespace qmr

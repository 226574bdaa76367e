#pragma once

#include "operations/moduleview.h"
#include "window/languagetable.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

namespace qmr {

// The operations' front end on a terminal. It holds what the window's controls would show,
// so the command runner can read the module's identity after a scan; messages become
// progress lines on standard error while progress is on, and the reader panels become
// calls of the reader-data hook (process mode prints them).
class ConsoleView : public ModuleView
{
public:
    ConsoleView(const LanguageTable &table, int languageIndex, QTextStream &err);

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
    void setReaderDataHook(std::function<void(int, const QString &)> hook)
    {
        m_readerHook = std::move(hook);
    }

    QString message() const { return m_message; }
    QString messageDetail() const { return m_messageDetail; }
    QString serialText() const { return m_serial; }
    QString versionText() const { return m_version; }
    QString reader1Data() const { return m_reader1; }
    QString reader2Data() const { return m_reader2; }
    LampColour lamp() const { return m_lamp; }
    bool busy() const { return m_busy; }
    // Errors shown through showError(), in order.
    const QStringList &errors() const { return m_errors; }

    QString text(TextRow row) const override;
    void setMessage(const QString &text) override;
    void setMessageDetail(const QString &text) override { m_messageDetail = text; }
    void setSerialText(const QString &text) override { m_serial = text; }
    void setVersionText(const QString &text) override { m_version = text; }
    QString id1Text() const override { return m_id1Text; }
    void setId1Text(const QString &text) override { m_id1Text = text; }
    QString id2Text() const override { return m_id2Text; }
    void setId2Text(const QString &text) override { m_id2Text = text; }
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
    void setReader1Data(const QString &text) override;
    void setReader2Data(const QString &text) override;
    QString processCaption() const override { return m_processCaption; }
    void setProcessCaption(const QString &text) override { m_processCaption = text; }
    void setControlEnabled(Control, bool) override {}
    void setLamp(LampColour colour) override { m_lamp = colour; }
    void beep(int frequencyHz, int durationMs) override;
    void setBusy(bool on) override { m_busy = on; }
    void setWindowEnabled(bool) override {}
    void setWaitCursor(bool) override {}
    void processMessages() override;
    void showError(const QString &text) override;

    // "%02d", as the window's ID panels show a scroll-bar position.
    static QString idText(int id);

private:
    void drawProgress();
    void clearProgress();

    const LanguageTable &m_table;
    int m_languageIndex;
    QTextStream &m_err;
    bool m_progress = false;
    bool m_progressShown = false;
    QString m_progressLine;
    bool m_bell = false;
    bool m_lock = true;
    std::function<void()> m_messageHook;
    std::function<void(int, const QString &)> m_readerHook;

    QString m_message;
    QString m_messageDetail;
    QString m_serial;
    QString m_version;
    // The window starts with both panels at "__" and both scroll bars at 1.
    QString m_id1Text = QStringLiteral("__");
    QString m_id2Text = QStringLiteral("__");
    int m_id1Position = 1;
    int m_id2Position = 1;
    int m_baudRateIndex = 5;
    int m_modeIndex = 0;  // "Two Reader"
    int m_rs485Index = 1; // "RS485 32"
    QString m_reader1;
    QString m_reader2;
    QString m_processCaption;
    LampColour m_lamp = LampColour::Yellow;
    bool m_busy = false;
    QStringList m_errors;
};

} // namespace qmr

#pragma once

#include "beeper.h"
#include "operations/modulecontext.h"
#include "operations/moduleview.h"
#include "settings/settings.h"
#include "texts/languagetable.h"

#include <QIcon>
#include <QWidget>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QTimer;
class QToolButton;

namespace qmr {

class Lamp;
class MessagePanel;

// The one window of the program. Every module operation is started by one of its buttons
// and reports into its panels through the ModuleView interface.
class TfrmModule : public QWidget, public ModuleView
{
    Q_OBJECT

public:
    static constexpr int ClientWidth = 560;
    static constexpr int ClientHeight = 425;
    static constexpr int BlinkIntervalMs = 200;

    // Shows a critical message box; tests put a recorder in its place so nothing blocks.
    using ErrorBox =
        std::function<void(QWidget *parent, const QString &title, const QString &text)>;

    TfrmModule(Link &link, Clock &clock, SettingsStore &store, Beeper &beeper,
               const LanguageTable &languages, QWidget *parent = nullptr);
    ~TfrmModule() override;

    // The program's icon: dist/qmrconfig.svg, the same file the desktop entry names, compiled
    // into the program.
    static QIcon programIcon();

    ModuleContext &context() { return m_context; }
    Settings &settings() { return m_settings; }
    void setErrorBox(ErrorBox box) { m_errorBox = std::move(box); }

    // Event handlers, named after their control and event.
    void FormCreate();
    void FormShow();
    void ApplyLanguage();
    void SetBusy(bool on);
    void tmrBusyTimer();
    void sbIDChange();
    void sbID2Change();
    void btnScanClick();
    void btnProcessClick();
    void btnIDClick();
    void btnBaudRateClick();
    void btnModeClick();
    void btnFactoryClick();
    void btnOneClick();
    void btnEngClick();
    void btnGBClick();
    void btnBIG5Click();
    void btnExitClick();

    // ModuleView
    std::string text(TextRow row) const override;
    void setMessage(const std::string &text) override;
    void setMessageDetail(const std::string &text) override;
    void setSerialText(const std::string &text) override;
    void setVersionText(const std::string &text) override;
    std::string id1Text() const override;
    void setId1Text(const std::string &text) override;
    std::string id2Text() const override;
    void setId2Text(const std::string &text) override;
    int id1Position() const override;
    void setId1Position(int position) override;
    int id2Position() const override;
    void setId2Position(int position) override;
    int baudRateIndex() const override;
    void selectBaudRate(int index) override;
    int modeIndex() const override;
    void selectMode(int index) override;
    int rs485Index() const override;
    void selectRs485(int index) override;
    bool lockChecked() const override;
    void setReader1Data(const std::string &text) override;
    void setReader2Data(const std::string &text) override;
    std::string processCaption() const override;
    void setProcessCaption(const std::string &text) override;
    void setControlEnabled(Control control, bool enabled) override;
    void setLamp(LampColour colour) override;
    void beep(int frequencyHz, int durationMs) override;
    void setBusy(bool on) override;
    void setWindowEnabled(bool enabled) override;
    void setWaitCursor(bool on) override;
    void processMessages() override;
    void showError(const std::string &text) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void applyTabOrder();
    QWidget *controlWidget(Control control) const;
    void setLanguage(int index);
    // A row of the language table in the current language, for the Qt controls.
    QString rowText(TextRow row) const;
    // Runs a click handler; should an exception escape it, the window is put back into its
    // idle state before the exception goes on to the application's handler, so the user is
    // not left with a disabled window that cannot even be closed.
    void runGuarded(void (TfrmModule::*handler)());
    void recoverFromFailure();

    Settings m_settings;
    ModuleContext m_context;
    Beeper &m_beeper;
    const LanguageTable &m_languages;
    ErrorBox m_errorBox;

    int m_blinkPhase = 0; // never reset: a new busy period goes on from the last phase
    bool m_shown = false;
    bool m_exitRequested = false;
    bool m_waitCursor = false;
    int m_handlerDepth = 0;

    MessagePanel *pnMsg = nullptr;
    Lamp *shComm = nullptr;
    QLabel *pnSerial = nullptr;
    QLabel *pnVersion = nullptr;
    QPushButton *btnScan = nullptr;
    QLabel *lblID = nullptr;
    QLabel *pnID = nullptr;
    QScrollBar *sbID = nullptr;
    QLabel *lblID2 = nullptr;
    QLabel *pnID2 = nullptr;
    QScrollBar *sbID2 = nullptr;
    QPushButton *btnID = nullptr;
    QLabel *lblBaudRate = nullptr;
    QComboBox *cmbBaudRate = nullptr;
    QCheckBox *chkLock = nullptr;
    QPushButton *btnBaudRate = nullptr;
    QComboBox *cmbMode = nullptr;
    QComboBox *cmbRS485 = nullptr;
    QPushButton *btnMode = nullptr;
    QLabel *pnQMR1 = nullptr;
    QLabel *pnQMR2 = nullptr;
    QPushButton *btnProcess = nullptr;
    QGroupBox *gbDefault = nullptr;
    QTabWidget *pcDefault = nullptr;
    QWidget *tsDefault = nullptr;
    QToolButton *btnFactory = nullptr;
    QToolButton *btnOne = nullptr;
    QPushButton *btnEng = nullptr;
    QPushButton *btnGB = nullptr;
    QPushButton *btnBIG5 = nullptr;
    QPushButton *btnExit = nullptr;
    QLabel *pnTAVEX = nullptr;
    QTimer *tmrBusy = nullptr;
};

} // namespace qmr

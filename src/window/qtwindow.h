#pragma once

#include "beeper.h"
#include "form/formrenderer.h"
#include "form/tfrmmodule.h"

#include <QIcon>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

class QTimer;

namespace qmr {

class Lamp;

// The one window of the program on Linux: the form drawn with Qt widgets. Every control is a
// widget named after the control, at the box the form's inventory gives; what a click or a key
// does is the form's business, this class only draws and carries the events.
class QtWindow : public QWidget, public FormRenderer
{
    Q_OBJECT

public:
    // Shows a critical message box; tests put a recorder in its place so nothing blocks.
    using ErrorBox =
        std::function<void(QWidget *parent, const QString &title, const QString &text)>;

    QtWindow(Link &link, Clock &clock, SettingsStore &store, Beeper &beeper,
             const LanguageTable &languages, QWidget *parent = nullptr);
    ~QtWindow() override;

    // The program's icon: dist/qmrconfig.svg, the same file the desktop entry names, compiled
    // into the program.
    static QIcon programIcon();

    TfrmModule &form() { return m_form; }
    ModuleContext &context() { return m_form.context(); }
    Settings &settings() { return m_form.settings(); }
    void setErrorBox(ErrorBox box) { m_errorBox = std::move(box); }

    // FormRenderer; the widget's own setEnabled and setFocus stay usable beside them.
    using QWidget::setEnabled;
    using QWidget::setFocus;
    void createControl(const ControlSpec &entry, const std::vector<std::string> &items) override;
    void setTabOrder(std::span<const Control> order) override;
    void setText(Control id, const std::string &text) override;
    std::string text(Control id) const override;
    void setDetail(const std::string &text) override;
    int selection(Control list) const override;
    void select(Control list, int index) override;
    int position(Control bar) const override;
    void setPosition(Control bar, int position) override;
    bool checked(Control box) const override;
    void setChecked(Control box, bool checked) override;
    void setEnabled(Control id, bool enabled) override;
    void setLamp(LampColour colour) override;
    void setScript(Script script) override;
    Control focus() const override;
    void setFocus(Control id) override;
    bool isActive() const override;
    void setTickRunning(bool running) override;
    void setWaitCursor(bool on) override;
    void beep(int frequencyHz, int durationMs) override;
    void pumpEvents() override;
    void showError(const std::string &text) override;
    void closeWindow() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QWidget *makeWidget(const ControlSpec &entry, QWidget *parent,
                        const std::vector<std::string> &items);
    QWidget *makeButton(const ControlSpec &entry, QWidget *parent);
    QWidget *widget(Control id) const;
    template <typename T> T *widgetAs(Control id) const;
    void applyFonts();

    TfrmModule m_form;
    Beeper &m_beeper;
    ErrorBox m_errorBox;
    std::map<Control, QWidget *> m_widgets; // children of this window: Qt owns them
    Lamp *m_lamp = nullptr;
    QTimer *m_tick = nullptr;
    Script m_script = Script::Latin;
    bool m_shown = false;
    bool m_waitCursor = false;
};

} // namespace qmr

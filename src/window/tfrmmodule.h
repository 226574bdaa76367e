#pragma once

#include "beeper.h"
#include "form/form.h"
#include "form/formrenderer.h"

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
class TfrmModule : public QWidget, public FormRenderer
{
    Q_OBJECT

public:
    // Shows a critical message box; tests put a recorder in its place so nothing blocks.
    using ErrorBox =
        std::function<void(QWidget *parent, const QString &title, const QString &text)>;

    TfrmModule(Link &link, Clock &clock, SettingsStore &store, Beeper &beeper,
               const LanguageTable &languages, QWidget *parent = nullptr);
    ~TfrmModule() override;

    // The program's icon: dist/qmrconfig.svg, the same file the desktop entry names, compiled
    // into the program.
    static QIcon programIcon();

    Form &form() { return m_form; }
    ModuleContext &context() { return m_form.context(); }
    Settings &settings() { return m_form.settings(); }
    void setErrorBox(ErrorBox box) { m_errorBox = std::move(box); }

    // FormRenderer; the widget's own setEnabled and setFocus stay usable beside them.
    using QWidget::setEnabled;
    using QWidget::setFocus;
    QMR_FORM_RENDERER_OVERRIDES

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

    Form m_form;
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

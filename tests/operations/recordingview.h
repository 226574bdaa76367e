#pragma once

#include "operations/moduleview.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QStringList>
#include <functional>

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
    QStringList log;
    int pumps = 0;
    // Runs inside processMessages(): where a test clicks, moves a scroll bar or changes a list.
    std::function<void(int pumpNumber)> onProcessMessages;

    QString message, detail, serial, version;
    QString id1 = QStringLiteral("__"), id2 = QStringLiteral("__");
    int position1 = 1, position2 = 1;
    int baudIndex = 5, mode = 0, rs485 = 1;
    bool lock = true;
    QString reader1, reader2;
    QString caption;
    QMap<Control, bool> enabled;
    bool windowEnabled = true, busy = false, waitCursor = false;
    LampColour lamp = LampColour::Red;
    QList<QPair<int, int>> beeps;
    QStringList errors;

    // The texts given to setMessage(), in order.
    QStringList messages() const;
    // The log entries that start with prefix.
    QStringList entries(const QString &prefix) const;
    void clearRecords();

    QString text(TextRow row) const override;
    void setMessage(const QString &text) override;
    void setMessageDetail(const QString &text) override;
    void setSerialText(const QString &text) override;
    void setVersionText(const QString &text) override;
    QString id1Text() const override { return id1; }
    void setId1Text(const QString &text) override;
    QString id2Text() const override { return id2; }
    void setId2Text(const QString &text) override;
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
    void setReader1Data(const QString &text) override;
    void setReader2Data(const QString &text) override;
    QString processCaption() const override { return caption; }
    void setProcessCaption(const QString &text) override;
    void setControlEnabled(Control control, bool on) override;
    void setLamp(LampColour colour) override;
    void beep(int frequencyHz, int durationMs) override;
    void setBusy(bool on) override;
    void setWindowEnabled(bool on) override;
    void setWaitCursor(bool on) override;
    void processMessages() override;
    void showError(const QString &text) override;
};

QString controlName(Control control);

} // namespace qmr

#pragma once

#include "settings/settingsstore.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>
#include <variant>

namespace qmr {

// A settings store in memory, for tests of the layers above. Each value is held with its type,
// so a test can store a value with the wrong one (ScanCommNo as text) and see the load stop
// there. Every save call and every value written is recorded in order.
class MemorySettingsStore : public SettingsStore
{
public:
    using Value = std::variant<qint32, QString>;

    void setValue(const QString &name, Value value) { m_values.insert(name, std::move(value)); }
    void removeValue(const QString &name) { m_values.remove(name); }
    void clearValues() { m_values.clear(); }
    bool contains(const QString &name) const { return m_values.contains(name); }
    std::optional<Value> value(const QString &name) const
    {
        const auto it = m_values.constFind(name);
        if (it == m_values.cend())
            return std::nullopt;
        return *it;
    }
    // The stored integer or text, or nothing when missing or of the other type.
    std::optional<qint32> intValue(const QString &name) const
    {
        const auto v = value(name);
        if (!v || !std::holds_alternative<qint32>(*v))
            return std::nullopt;
        return std::get<qint32>(*v);
    }
    std::optional<QString> textValue(const QString &name) const
    {
        const auto v = value(name);
        if (!v || !std::holds_alternative<QString>(*v))
            return std::nullopt;
        return std::get<QString>(*v);
    }

    // Like a user without write rights: loads leave the defaults, saves write nothing (the
    // calls are still recorded).
    void setAccessDenied(bool denied) { m_accessDenied = denied; }

    void setPortAssignments(QMap<int, QString> ports) { m_ports = std::move(ports); }
    QMap<int, QString> portAssignments() const override { return m_ports; }

    // "LoadSettings", "SaveScanSettings", "SaveLanguage", in call order.
    const QStringList &calls() const { return m_calls; }
    // The names of the values written, in order.
    const QStringList &writes() const { return m_writes; }
    void clearRecords()
    {
        m_calls.clear();
        m_writes.clear();
    }

    void LoadSettings(Settings &settings) override
    {
        m_calls.append(QStringLiteral("LoadSettings"));
        settings = Settings{};
        if (m_accessDenied)
            return;
        if (!loadInt(QStringLiteral("ScanCommNo"), settings.ScanCommNo))
            return;
        if (!loadText(QStringLiteral("ScanBaudRate"), settings.ScanBaudRate))
            return;
        if (!loadInt(QStringLiteral("ScanBaudRateNo"), settings.ScanBaudRateNo))
            return;
        if (!loadText(QStringLiteral("LanguageFlag"), settings.LanguageFlag))
            return;
        settings.LanguageIndex = Settings::languageIndexFor(settings.LanguageFlag);
    }

    void SaveScanSettings(const Settings &settings) override
    {
        m_calls.append(QStringLiteral("SaveScanSettings"));
        write(QStringLiteral("ScanCommNo"), settings.ScanCommNo);
        write(QStringLiteral("ScanBaudRateNo"), settings.ScanBaudRateNo);
        write(QStringLiteral("ScanBaudRate"), settings.ScanBaudRate);
    }

    void SaveLanguage(const Settings &settings) override
    {
        m_calls.append(QStringLiteral("SaveLanguage"));
        write(QStringLiteral("LanguageFlag"), settings.LanguageFlag);
    }

private:
    // false: the value has the other type, which ends the load.
    bool loadInt(const QString &name, qint32 &target) const
    {
        const auto v = value(name);
        if (!v)
            return true;
        if (!std::holds_alternative<qint32>(*v))
            return false;
        target = std::get<qint32>(*v);
        return true;
    }
    bool loadText(const QString &name, QString &target) const
    {
        const auto v = value(name);
        if (!v)
            return true;
        if (!std::holds_alternative<QString>(*v))
            return false;
        target = std::get<QString>(*v);
        return true;
    }
    void write(const QString &name, Value v)
    {
        if (m_accessDenied)
            return;
        m_values.insert(name, std::move(v));
        m_writes.append(name);
    }

    QMap<QString, Value> m_values;
    QMap<int, QString> m_ports;
    QStringList m_calls;
    QStringList m_writes;
    bool m_accessDenied = false;
};

} // namespace qmr

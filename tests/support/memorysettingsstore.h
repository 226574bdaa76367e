#pragma once

#include "settings/settingsstore.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qmr {

// A settings store in memory, for tests of the layers above. Each value is held with its type,
// so a test can store a value with the wrong one (ScanCommNo as text) and see the load stop
// there. Every load and save is recorded, and so is every value written, in order.
class MemorySettingsStore : public SettingsStore
{
public:
    using Value = std::variant<std::int32_t, std::string>;

    void setValue(std::string_view name, Value value)
    {
        m_values.insert_or_assign(std::string(name), std::move(value));
    }
    void removeValue(std::string_view name) { m_values.erase(std::string(name)); }
    void clearValues() { m_values.clear(); }
    bool contains(std::string_view name) const { return m_values.count(std::string(name)) > 0; }
    std::optional<Value> value(std::string_view name) const
    {
        const auto it = m_values.find(std::string(name));
        if (it == m_values.end())
            return std::nullopt;
        return it->second;
    }
    // The stored integer or text, or nothing when missing or of the other type.
    std::optional<std::int32_t> intValue(std::string_view name) const
    {
        const auto v = value(name);
        if (!v || !std::holds_alternative<std::int32_t>(*v))
            return std::nullopt;
        return std::get<std::int32_t>(*v);
    }
    std::optional<std::string> textValue(std::string_view name) const
    {
        const auto v = value(name);
        if (!v || !std::holds_alternative<std::string>(*v))
            return std::nullopt;
        return std::get<std::string>(*v);
    }

    // Like a user without write rights: loads leave the defaults, saves write nothing (the
    // calls are still recorded).
    void setAccessDenied(bool denied) { m_accessDenied = denied; }

    // "load" for every load begun, "save" for every save, in call order.
    const std::vector<std::string> &calls() const { return m_calls; }
    // The value names of each save, one entry per save (recorded even when access is denied).
    const std::vector<std::vector<std::string>> &saves() const { return m_saves; }
    // The names of the values actually written, in order.
    const std::vector<std::string> &writes() const { return m_writes; }
    void clearRecords()
    {
        m_calls.clear();
        m_saves.clear();
        m_writes.clear();
    }

    bool beginLoad() override
    {
        m_calls.push_back("load");
        return !m_accessDenied;
    }
    ReadResult readInt(std::string_view name, std::int32_t &target) override
    {
        return read(name, target);
    }
    ReadResult readText(std::string_view name, std::string &target) override
    {
        return read(name, target);
    }
    void write(const std::vector<NamedValue> &values) override
    {
        m_calls.push_back("save");
        std::vector<std::string> names;
        for (const NamedValue &v : values)
            names.push_back(v.name);
        m_saves.push_back(names);
        if (m_accessDenied)
            return;
        for (const NamedValue &v : values) {
            m_values.insert_or_assign(v.name, v.value);
            m_writes.push_back(v.name);
        }
    }

private:
    template <typename T> ReadResult read(std::string_view name, T &target) const
    {
        const auto v = value(name);
        if (!v)
            return ReadResult::Missing;
        if (!std::holds_alternative<T>(*v))
            return ReadResult::WrongType;
        target = std::get<T>(*v);
        return ReadResult::Read;
    }

    std::map<std::string, Value> m_values;
    std::vector<std::string> m_calls;
    std::vector<std::vector<std::string>> m_saves;
    std::vector<std::string> m_writes;
    bool m_accessDenied = false;
};

} // namespace qmr

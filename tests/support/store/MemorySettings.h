#pragma once

#include "store/Platform.h"

#include <map>
#include <string>
#include <variant>

namespace pelwick::testing {

/// Settings in memory, counting the writes per key.
class MemorySettings : public SettingsStore {
public:
    std::optional<std::string> string(const std::string& key) const override {
        const auto entry = values.find(key);
        if (entry == values.end() || !std::holds_alternative<std::string>(entry->second)) {
            return std::nullopt;
        }
        return std::get<std::string>(entry->second);
    }

    std::optional<bool> boolean(const std::string& key) const override {
        const auto entry = values.find(key);
        if (entry == values.end() || !std::holds_alternative<bool>(entry->second)) {
            return std::nullopt;
        }
        return std::get<bool>(entry->second);
    }

    void setString(const std::string& key, const std::string& value) override {
        values[key] = value;
        ++writes[key];
    }

    void setBool(const std::string& key, bool value) override {
        values[key] = value;
        ++writes[key];
    }

    void remove(const std::string& key) override { values.erase(key); }

    int writeCount(const std::string& key) const {
        const auto entry = writes.find(key);
        return entry == writes.end() ? 0 : entry->second;
    }

    bool contains(const std::string& key) const { return values.count(key) != 0; }

    std::map<std::string, std::variant<std::string, bool>> values;
    std::map<std::string, int> writes;
};

} // namespace pelwick::testing

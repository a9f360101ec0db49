#pragma once

#include "store/Platform.h"

#include <map>
#include <string>
#include <variant>

namespace pelwick::testing {

/// Settings in memory.
class MemorySettings : public SettingsStore {
public:
    std::optional<std::string> string(const std::string& key) const override {
        return value<std::string>(key);
    }
    std::optional<bool> boolean(const std::string& key) const override { return value<bool>(key); }
    void setString(const std::string& key, const std::string& value) override {
        values[key] = value;
    }
    void setBool(const std::string& key, bool value) override { values[key] = value; }
    void remove(const std::string& key) override { values.erase(key); }

    std::map<std::string, std::variant<std::string, bool>> values;

private:
    template <typename T> std::optional<T> value(const std::string& key) const {
        const auto entry = values.find(key);
        const T* found = entry == values.end() ? nullptr : std::get_if<T>(&entry->second);
        return found ? std::optional<T>(*found) : std::nullopt;
    }
};

} // namespace pelwick::testing

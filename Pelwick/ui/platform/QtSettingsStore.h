#pragma once

#include "store/Platform.h"

#include <QSettings>

namespace pelwick {

/// The per-user settings in QSettings (organisation "Quorvane", application "Pelwick").
class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();
    /// Settings in a given file (INI format); for tests and screenshots.
    explicit QtSettingsStore(const QString& iniFile);

    std::optional<std::string> string(const std::string& key) const override;
    std::optional<bool> boolean(const std::string& key) const override;
    void setString(const std::string& key, const std::string& value) override;
    void setBool(const std::string& key, bool value) override;
    void remove(const std::string& key) override;

private:
    QSettings settings_;
};

} // namespace pelwick

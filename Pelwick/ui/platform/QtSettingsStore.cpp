#include "ui/platform/QtSettingsStore.h"

namespace pelwick {

QtSettingsStore::QtSettingsStore() : settings_("Quorvane", "Pelwick") {}

QtSettingsStore::QtSettingsStore(const QString& iniFile)
    : settings_(iniFile, QSettings::IniFormat) {}

std::optional<std::string> QtSettingsStore::string(const std::string& key) const {
    const QVariant value = settings_.value(QString::fromStdString(key));
    if (value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

std::optional<bool> QtSettingsStore::boolean(const std::string& key) const {
    const QVariant value = settings_.value(QString::fromStdString(key));
    if (value.typeId() == QMetaType::Bool) {
        return value.toBool();
    }
    // Text-based formats give back "true" and "false" as text.
    if (value.typeId() == QMetaType::QString) {
        if (value.toString() == "true") {
            return true;
        }
        if (value.toString() == "false") {
            return false;
        }
    }
    return std::nullopt;
}

void QtSettingsStore::setString(const std::string& key, const std::string& value) {
    settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings_.sync();
}

void QtSettingsStore::setBool(const std::string& key, bool value) {
    settings_.setValue(QString::fromStdString(key), value);
    settings_.sync();
}

void QtSettingsStore::remove(const std::string& key) {
    settings_.remove(QString::fromStdString(key));
    settings_.sync();
}

} // namespace pelwick

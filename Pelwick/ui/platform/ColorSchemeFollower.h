#pragma once

#include "ui/Theme.h"

#include <QObject>

#include <optional>

class QDBusVariant;

namespace pelwick {

/// Keeps the application in the desktop's colour scheme: light or dark as the desktop prefers,
/// applied when it is created and again whenever the desktop changes its preference.
///
/// The preference is read from the XDG desktop portal's "color-scheme" setting (GNOME, KDE and
/// others publish it there), whose changes it follows. When the portal is missing or states no
/// preference, the lightness of the palette that Qt's platform theme offers decides; it is read
/// again whenever Qt reports a change of the platform theme.
class ColorSchemeFollower : public QObject {
    Q_OBJECT

public:
    explicit ColorSchemeFollower(QObject* parent = nullptr);
    ~ColorSchemeFollower() override;

    Theme::ColorScheme scheme() const { return scheme_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    /// The portal's preference: dark, light, or none when it states none or cannot be asked.
    std::optional<Theme::ColorScheme> portalPreference() const;
    /// The scheme of the platform theme's own palette.
    static Theme::ColorScheme platformScheme();
    void reevaluateSoon();
    void reevaluate();

    Theme::ColorScheme scheme_ = Theme::ColorScheme::light;
    std::optional<Theme::ColorScheme> portal_;
    bool pending_ = false;
};

} // namespace pelwick

#include "ui/platform/ColorSchemeFollower.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QEvent>
#include <QMetaObject>

namespace pelwick {

namespace {

const QString portalService = "org.freedesktop.portal.Desktop";
const QString portalPath = "/org/freedesktop/portal/desktop";
const QString portalSettings = "org.freedesktop.portal.Settings";
const QString appearance = "org.freedesktop.appearance";
const QString colorSchemeKey = "color-scheme";
// A portal that does not answer at once is not waited for: the platform theme decides instead.
constexpr int portalTimeoutMs = 300;

/// The portal's value: 1 prefers dark, 2 prefers light, anything else states no preference.
std::optional<Theme::ColorScheme> schemeOfPortalValue(QVariant value) {
    // "Read" wraps the value in one variant more than "SettingChanged" does.
    while (value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    bool ok = false;
    const uint preference = value.toUInt(&ok);
    if (ok && preference == 1) {
        return Theme::ColorScheme::dark;
    }
    if (ok && preference == 2) {
        return Theme::ColorScheme::light;
    }
    return std::nullopt;
}

} // namespace

ColorSchemeFollower::ColorSchemeFollower(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(portalService, portalPath, portalSettings, "SettingChanged", this,
                    SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
        portal_ = portalPreference();
    }
    qApp->installEventFilter(this);
    reevaluate();
}

ColorSchemeFollower::~ColorSchemeFollower() {
    qApp->removeEventFilter(this);
}

std::optional<Theme::ColorScheme> ColorSchemeFollower::portalPreference() const {
    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, portalSettings, "Read");
    call << appearance << colorSchemeKey;
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, portalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    return schemeOfPortalValue(reply.arguments().first());
}

void ColorSchemeFollower::portalSettingChanged(const QString& group, const QString& key,
                                               const QDBusVariant& value) {
    if (group != appearance || key != colorSchemeKey) {
        return;
    }
    portal_ = schemeOfPortalValue(value.variant());
    reevaluate();
}

Theme::ColorScheme ColorSchemeFollower::platformScheme() {
    // An application palette of its own hides the platform's; an empty one gives it back.
    QApplication::setPalette(QPalette());
    return Theme::schemeOf(QApplication::palette());
}

bool ColorSchemeFollower::eventFilter(QObject* watched, QEvent* event) {
    // Qt sends the change of the platform theme to every window; one re-evaluation is enough.
    if (event->type() == QEvent::ThemeChange) {
        reevaluateSoon();
    }
    return QObject::eventFilter(watched, event);
}

void ColorSchemeFollower::reevaluateSoon() {
    if (pending_) {
        return;
    }
    pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pending_ = false;
            reevaluate();
        },
        Qt::QueuedConnection);
}

void ColorSchemeFollower::reevaluate() {
    scheme_ = portal_ ? *portal_ : platformScheme();
    Theme::apply(scheme_);
}

} // namespace pelwick

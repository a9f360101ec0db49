#include "ui/AppInfo.h"

#ifndef PELWICK_VERSION
#define PELWICK_VERSION "1.0.0"
#endif
#ifndef PELWICK_BUILD_NUMBER
#define PELWICK_BUILD_NUMBER "?"
#endif

namespace pelwick::AppInfo {

namespace {
QString orDefault(const char* value, const char* fallback) {
    const QString text = QString::fromUtf8(value);
    return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}
} // namespace

QString versionLabel() {
    return orDefault(PELWICK_VERSION, "1.0.0") + " (" + orDefault(PELWICK_BUILD_NUMBER, "?") + ")";
}

QString footerLine() {
    return versionLabel() +
           QString::fromUtf8(
               " \u00B7 Quorvane \u00B7 offline \u00B7 no telemetry \u00B7 free forever");
}

} // namespace pelwick::AppInfo

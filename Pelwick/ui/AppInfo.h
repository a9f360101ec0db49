#pragma once

#include <QString>

namespace pelwick {

/// The application's identity as shown in the window.
namespace AppInfo {

/// "<version> (<build>)", for example "1.0.0 (a1b2c3d)"; "1.0.0 (?)" when the build knows neither.
QString versionLabel();

/// The footer line: the version label followed by " · Quorvane · offline · no telemetry · free
/// forever".
QString footerLine();

} // namespace AppInfo

} // namespace pelwick

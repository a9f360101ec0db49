#pragma once

#include <string>

namespace pelwick {

/// The program's version ("1.0.0").
std::string programVersion();
/// The commit the program was built from ("f612624a1b2c", "-dirty" appended when the sources had
/// changes not committed); empty when unknown.
std::string buildCommit();
/// "pelwick-cli 1.0.0 (commit f612624a1b2c, flash applet 2652 bytes)".
std::string versionLine();

} // namespace pelwick

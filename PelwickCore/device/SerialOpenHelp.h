#pragma once

#include <optional>
#include <string>

namespace pelwick {

/// One line of help for a serial port that could not be opened, shown below the error:
/// - not permitted (EACCES, EPERM): which group owns the device, that the user is not in it (or
///   has joined but not logged in again), and the two remedies (join the group and log in again,
///   or install the udev rule); only the udev rule when joining would not help (the group may not
///   read and write the node, or it is root's group);
/// - busy (EBUSY): another program holds the port.
/// None for other causes, or when the path is gone. Safe to call from any thread.
std::optional<std::string> serialOpenHelp(const std::string& path, int openErrno);

} // namespace pelwick

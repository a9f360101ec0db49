#pragma once

#include "device/SerialPort.h"

#include <filesystem>
#include <string>

namespace pelwick {

/// Whether `path` leads to a terminal device that can be a cable: not the terminal this program
/// talks to the user on (its modes would be changed), nor /dev/tty, the console or a virtual
/// console.
bool couldBeACable(const std::filesystem::path& path);

/// The port a user named with --port, with every symbolic link followed, so that a name such as
/// /dev/serial/by-id/… leads to the ttyACM node behind it: that node is opened, held and shown.
/// Fails with serialOpenFailed when nothing is there, and with a sentence when the path is not a
/// terminal device (a serial port or a pseudo-terminal) that can be a cable: the terminal this
/// program runs in, /dev/tty, the console and the virtual consoles are refused.
SerialPort resolveNamedPort(const std::string& path);

/// Fails with that sentence when `path` exists but can never be a cable, so that a batch never
/// waits for it; a path that does not exist yet may still appear.
void requirePossiblePort(const std::string& path);

} // namespace pelwick

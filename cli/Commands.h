#pragma once

#include "CommandLine.h"
#include "Console.h"

namespace pelwick {

// Each command returns the exit status (0 done, 1 failed) or throws; the caller prints the
// error's user message and exits with 1. With --json a command puts its facts in the console's
// report as it goes, and prints no text results; the caller writes the report. A command that
// returns 1 without throwing sets the report's error.

int runPortsCommand(const GlobalOptions& global, Console& console);
int runInfoCommand(const GlobalOptions& global, Console& console);
int runSimulateCommand(const SimulateOptions& options, Console& console);
int runBackupCommand(const GlobalOptions& global, const BackupOptions& options, Console& console);
int runFlashCommand(const GlobalOptions& global, const FlashOptions& options, Console& console);
int runVerifyCommand(const GlobalOptions& global, const VerifyOptions& options, Console& console);
int runChecksumCommand(const ChecksumOptions& options, Console& console);
int runDemoCommand(const GlobalOptions& global, const DemoOptions& options, Console& console);
/// Exit status 0 when no unit failed, 1 otherwise.
int runBatchCommand(const GlobalOptions& global, const BatchOptions& options, Console& console);
int runVersionCommand(Console& console);

} // namespace pelwick

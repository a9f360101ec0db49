# fish completion for pelwick-cli

set -l commands ports info simulate backup flash verify checksum batch demo help version

complete -c pelwick-cli -f

# Commands
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a ports -d 'List the serial ports and which would be tried'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a info -d 'Identify the calculator'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a simulate -d 'Serve a simulated calculator on a pseudo-terminal'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a backup -d "Save the calculator's firmware to a file"
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a flash -d 'Write a firmware image and verify it'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a verify -d 'Check that the calculator holds a firmware image'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a checksum -d 'Show the test-menu checksum of firmware files'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a batch -d 'Flash every calculator that appears in programming mode'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a demo -d 'Walk through the whole flow on a simulated calculator'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a help -d 'Show the help, or the help of one command'
complete -c pelwick-cli -n "not __fish_seen_subcommand_from $commands" -a version -d 'Show the version'

# Global options, before or after the command
complete -c pelwick-cli -s h -l help -d 'Show the help and exit'
complete -c pelwick-cli -s V -l version -d 'Show the version, the commit and the flash applet size'
complete -c pelwick-cli -l device-dir -x -a '(__fish_complete_directories)' -d 'Folder in which to look for serial ports'
complete -c pelwick-cli -l port -r -a '(ls /dev/ttyACM* /dev/ttyUSB* /dev/serial/by-id/* 2>/dev/null)' -d 'Use only this serial port'
complete -c pelwick-cli -l demo -d 'Talk to a simulated calculator instead of a cable'
complete -c pelwick-cli -l timeout -x -d 'Seconds to wait for an answer (above 0, at most 600)'
complete -c pelwick-cli -l settle -x -d 'Pause after each flash applet command (0 to 10 s)'
complete -c pelwick-cli -l fast -d 'Flash without the settle pauses while the calculator keeps up'
complete -c pelwick-cli -l json -d 'Write the result as JSON on standard output'
complete -c pelwick-cli -s v -l verbose -d 'Trace every command and reply on standard error'
complete -c pelwick-cli -s q -l quiet -d 'Show only errors, questions and the result'

# Command options and arguments
complete -c pelwick-cli -n '__fish_seen_subcommand_from backup' -s o -l output -r -F -d 'File to write'
complete -c pelwick-cli -n '__fish_seen_subcommand_from backup' -l force -d 'Replace the file if it exists'
complete -c pelwick-cli -n '__fish_seen_subcommand_from flash' -s y -l yes -d 'Flash without asking for confirmation'
complete -c pelwick-cli -n '__fish_seen_subcommand_from flash batch' -l backup-dir -x -a '(__fish_complete_directories)' -d 'Keep the backups in this folder'
complete -c pelwick-cli -n '__fish_seen_subcommand_from flash' -l no-backup -d "Keep no backup of the calculator's firmware"
complete -c pelwick-cli -n '__fish_seen_subcommand_from checksum' -l against -r -F -d 'Judge the files against this backup'
complete -c pelwick-cli -n '__fish_seen_subcommand_from batch' -l parallel -d 'Handle every attached calculator at once'
complete -c pelwick-cli -n '__fish_seen_subcommand_from batch' -l count -x -d 'End after this many units'
complete -c pelwick-cli -n '__fish_seen_subcommand_from simulate' -l link -r -F -d 'Also make a symbolic link to the terminal here'
complete -c pelwick-cli -n '__fish_seen_subcommand_from simulate' -l delay -x -d 'Simulated transfer time per 512 bytes (0 to 10 s)'
complete -c pelwick-cli -n '__fish_seen_subcommand_from simulate' -l no-preload -d 'Start with an empty application region'
complete -c pelwick-cli -n '__fish_seen_subcommand_from demo' -l delay -x -d 'Simulated transfer time per 512 bytes (0 to 1 s)'
complete -c pelwick-cli -n '__fish_seen_subcommand_from demo' -l folder -x -a '(__fish_complete_directories)' -d 'Where the backup and the sample image go'
complete -c pelwick-cli -n '__fish_seen_subcommand_from flash verify checksum batch' -F
complete -c pelwick-cli -n '__fish_seen_subcommand_from help' -x -a "$commands"

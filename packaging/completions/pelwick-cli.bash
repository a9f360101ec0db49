# bash completion for pelwick-cli                                           -*- shell-script -*-

_pelwick_cli_ports() {
    # Serial ports first: the calculator appears as /dev/ttyACM*, also under /dev/serial/by-id.
    local ports
    ports=$(compgen -G '/dev/ttyACM*'; compgen -G '/dev/ttyUSB*'; compgen -G '/dev/serial/by-id/*')
    COMPREPLY=($(compgen -W "$ports" -- "$1"))
    [[ ${#COMPREPLY[@]} -gt 0 ]] || COMPREPLY=($(compgen -f -- "$1"))
}

_pelwick_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="ports info simulate backup flash verify checksum batch demo help version"
    local global="-h --help -V --version --device-dir --port --demo --timeout --settle --fast --json
        -v --verbose -q --quiet"

    # The command is the first word that is neither an option nor an option's value.
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --device-dir | --port | --timeout | --settle | -o | --output | --backup-dir | \
                --against | --count | --link | --delay | --folder)
                ((i++)) ;;
            -*) ;;
            *)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $prev in
        --device-dir | --backup-dir | --folder)
            _filedir -d
            return
            ;;
        --port)
            _pelwick_cli_ports "$cur"
            return
            ;;
        -o | --output | --against | --link)
            _filedir
            return
            ;;
        --timeout | --settle | --delay | --count)
            return
            ;;
    esac

    local options=""
    case $command in
        "")
            COMPREPLY=($(compgen -W "$commands $global" -- "$cur"))
            return
            ;;
        help)
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            return
            ;;
        backup) options="-o --output --force" ;;
        flash) options="-y --yes --backup-dir --no-backup" ;;
        checksum) options="--against" ;;
        batch) options="--backup-dir --parallel --count" ;;
        simulate) options="--link --delay --no-preload" ;;
        demo) options="--delay --folder" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
        return
    fi
    case $command in
        flash | verify | checksum | batch) _filedir ;;
    esac
} &&
    complete -F _pelwick_cli pelwick-cli

# ex: filetype=sh

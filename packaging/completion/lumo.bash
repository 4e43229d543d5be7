# bash completion for lumo                                 -*- shell-script -*-
# Subcommands, their options, serial devices, and file names: for command
# files and reports, and after '@' in a target list.

_lumo_devices()
{
    local d
    for d in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*; do
        [[ -e $d ]] && printf '%s\n' "$d"
    done
}

_lumo()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local command="" i
    # the subcommand: the first word that is not an option
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} != -* ]]; then
            command=${COMP_WORDS[i]}
            break
        fi
    done
    COMPREPLY=()
    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "connect send run scan ports watch exporter clear-socket device-query" -- "$cur")
        fi
        return
    fi

    local link="--tcp --udp --serial --baud --x --connect-timeout --help"
    local options
    case $command in
        connect) options="$link --json" ;;
        send) options="$link --json --jobs" ;;
        run) options="$link --json --jobs --repeat --keep-going --junit --csv" ;;
        scan) options="--timeout --x --info --json --csv --jobs --help" ;;
        ports) options="--json --probe --baud --jobs --help" ;;
        watch) options="--interval --once --json --jobs --connect-timeout --help" ;;
        exporter) options="--listen --interval --jobs --connect-timeout --help" ;;
        clear-socket) options="--help" ;;
        device-query) options="--serial --baud --help" ;;
        *) return ;;
    esac

    # the value of an option
    case $prev in
        --junit | --csv)
            if [[ $command == run ]]; then
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
                return
            fi
            ;;
        --serial)
            mapfile -t COMPREPLY < <(compgen -W "$(_lumo_devices)" -- "$cur")
            return
            ;;
        --baud)
            mapfile -t COMPREPLY < <(compgen -W "9600 19200 38400 57600 115200" -- "$cur")
            return
            ;;
        --repeat | --jobs | --timeout | --connect-timeout | --interval | --listen)
            return
            ;;
    esac

    if [[ $cur == @* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -P @ -- "${cur#@}")
    elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    elif [[ $prev == --tcp || $prev == --udp ]]; then
        return # an address, a range or a host name
    elif [[ $command == run ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    elif [[ $command == ports ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_lumo_devices)" -- "$cur")
    fi
}

complete -F _lumo lumo

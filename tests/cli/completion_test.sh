#!/usr/bin/env bash
# kvctl's bash completion against the built kvctl: commands, sub-commands,
# the options of the command at hand, option values, maintenance actions and
# files. Usage: completion_test.sh KVCTL COMPLETION-SCRIPT
set -u
kvctl_bin=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# shellcheck source=/dev/null
source "$2"
cd "$dir" && touch a.kvs b.txt && mkdir sub

# The completions of the line's last word (an empty one after a blank), sorted.
complete_line() {
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *' ' ]] && COMP_WORDS+=("")
    COMP_WORDS[0]=$kvctl_bin
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _kvctl
    ((${#COMPREPLY[@]})) && printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
}

failed=0
while IFS='|' read -r line want; do
    got=$(complete_line "$line")
    if [[ $got != "$want" ]]; then
        echo "FAIL '$line': got '$got', want '$want'"
        failed=1
    fi
done <<'CASES'
kvctl |calibrate factory help maintenance ports settings status verify watch 
kvctl s|settings status 
kvctl --json w|watch 
kvctl --port /dev/null st|status 
kvctl --timeout |
kvctl --lang |en hu 
kvctl --lang en st|status 
kvctl settings |diff get set 
kvctl settings set |a.kvs sub 
kvctl settings set a.kvs --b|--backup 
kvctl watch --c|--count --csv 
kvctl watch --csv |a.kvs b.txt sub 
kvctl watch --csv x.csv --i|--interval 
kvctl calibrate |all input output 
kvctl verify --p|--points --port 
kvctl calibrate output --meter-|--meter-baud 
kvctl maintenance clear-|clear-fram clear-minmax clear-wire-resistance 
kvctl maintenance restart |
kvctl help j|json 
CASES
exit $failed

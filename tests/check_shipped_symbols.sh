#!/bin/sh
# What the test programs use to stand in for the system (the replaceable table
# of system calls and hosting loop) is linked into the test programs only: the
# shipped programs call the system directly, and nothing in them can redirect
# those calls.
#   check_shipped_symbols.sh NM PROGRAM...
set -eu
nm_tool=$1
shift
for program in "$@"; do
    symbols=$("$nm_tool" -C "$program")
    # Guard against a vacuous pass: nm must read the program's symbols, and the
    # program must reach the system through the agent's platform calls.
    printf '%s\n' "$symbols" | grep -q 'omvar::platform::system_in_force()' ||
        { echo "no agent platform calls found in $program"; exit 1; }
    bad=$(printf '%s\n' "$symbols" | grep -E 'omvar::(platform::replace_system|cron::replace_hosted_loop)\b' || true)
    if [ -n "$bad" ]; then
        echo "test setters in $program:"
        printf '%s\n' "$bad"
        exit 1
    fi
    echo "no test setter in $program"
done

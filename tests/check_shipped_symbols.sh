#!/bin/sh
# The shipped programs call the system directly: every part of the system a test
# program may stand in for (agent/platform/system.h) is bound there to the
# system's own functions, and nothing of the tests' stand-ins is linked in.
#   check_shipped_symbols.sh NM PROGRAM...
set -eu
nm_tool=$1
shift
for program in "$@"; do
    symbols=$("$nm_tool" -C "$program")
    # Guard against a vacuous pass: nm must read the program's symbols, and the
    # program must have the system's clock behind the agent's.
    printf '%s\n' "$symbols" | grep -q 'omvar::platform::system::clock_now()' ||
        { echo "no system calls of the agent found in $program"; exit 1; }
    bad=$(printf '%s\n' "$symbols" | grep -E 'omvar::test::' || true)
    if [ -n "$bad" ]; then
        echo "stand-ins in $program:"
        printf '%s\n' "$bad"
        exit 1
    fi
    echo "no stand-in in $program"
done

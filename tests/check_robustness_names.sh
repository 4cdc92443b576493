#!/bin/sh
# Every name in the "Shown by" column of docs/robustness.md exists: a test
# `Suite.Test` (a `*` stands for any text) in the program named in the next
# brackets after it, a libFuzzer target `fuzz_NAME`, or a seed of the fuzz corpus.
# Programs that only the Windows build has are read from their sources.
# Usage: check_robustness_names.sh DOC TEST_BINARY_DIR SOURCE_DIR
set -eu
doc=$1
bin=$2
src=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# One "PROGRAM NAME" line per name; PROGRAM is "-" when no brackets follow it.
grep '^|' "$doc" | awk -F'|' '
{
    column = $(NF - 1)
    count = 0
    while (match(column, /`[^`]*`|\[[^]]*\]/)) {
        token = substr(column, RSTART, RLENGTH)
        column = substr(column, RSTART + RLENGTH)
        if (substr(token, 1, 1) == "`") {
            pending[++count] = substr(token, 2, length(token) - 2)
            continue
        }
        program = substr(token, 2, length(token) - 2)
        for (i = 1; i <= count; ++i) print program, pending[i]
        count = 0
    }
    for (i = 1; i <= count; ++i) print "-", pending[i]
}' >"$work/names"

# The test names of a program, one Suite.Test a line.
list_tests() {
    if [ -x "$bin/$1" ]; then
        "$bin/$1" --gtest_list_tests | awk '
            /^[^ ]/ { suite = $1; next }
            { print suite $1 }'
    elif [ "${1#win32_}" != "$1" ]; then
        cat "$src"/tests/win32/*.cpp |
            sed -n 's/^TEST\(_F\)\{0,1\}( *\([A-Za-z0-9_]*\), *\([A-Za-z0-9_]*\)).*/\2.\3/p'
    else
        echo "no test program $1 in $bin" >&2
        return 1
    fi
}

failures=0
while read -r program name; do
    case $name in
        *[!A-Za-z0-9_./*]*)
            echo "not a name: $name"
            failures=$((failures + 1))
            continue
            ;;
    esac
    case $program:$name in
        *:fuzz_*)  # a fuzz target, whatever brackets follow it
            [ -f "$src/tests/fuzz/$name.cpp" ] && continue
            echo "no fuzz target $name"
            ;;
        -:*.*)
            echo "no program named for $name"
            ;;
        -:*)
            ls "$src"/tests/fuzz/corpus/*/"$name" >/dev/null 2>&1 && continue
            echo "no corpus seed $name"
            ;;
        *)
            [ -f "$work/$program" ] || list_tests "$program" >"$work/$program" || {
                failures=$((failures + 1))
                continue
            }
            # The name as a pattern: only its stars are special.
            pattern=$(printf '%s' "$name" | sed 's/[.[\\^$]/\\&/g; s/\*/.*/g')
            grep -qx "$pattern" "$work/$program" && continue
            echo "$name is not a test of $program"
            ;;
    esac
    failures=$((failures + 1))
done <"$work/names"

[ -s "$work/names" ] || { echo "no names found in $doc"; exit 1; }
[ "$failures" -eq 0 ] || { echo "$failures wrong names in $doc"; exit 1; }

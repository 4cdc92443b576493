#!/bin/sh
# The robustness-document check passes on the document and fails on each kind
# of wrong name: a test that does not exist, a test placed in the wrong program,
# a shortened name, a missing fuzz target or seed, a name without a program.
# Usage: check_robustness_names_test.sh DOC TEST_BINARY_DIR SOURCE_DIR
set -eu
doc=$1
check="$3/tests/check_robustness_names.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

sh "$check" "$doc" "$2" "$3" >"$work/out" || { cat "$work/out"; echo "the document fails the check"; exit 1; }

failures=0
# ROW: a document with this one table row must fail the check and name WRONG.
expect_caught() {
    printf '| Input | Behaviour | Shown by |\n|---|---|---|\n| x | y | %s |\n' "$1" >"$work/doc"
    if sh "$check" "$work/doc" "$2" "$3" >"$work/out" 2>&1; then
        echo "not caught: $1"
        failures=$((failures + 1))
    elif ! grep -qF "$4" "$work/out"; then
        echo "caught, but $4 is not named:"
        cat "$work/out"
        failures=$((failures + 1))
    fi
}

expect_caught '`MatchSchedule.NoSuchTest` [cron_tests]' "$2" "$3" MatchSchedule.NoSuchTest
expect_caught '`MatchSchedule.Table` [crypt_tests]' "$2" "$3" MatchSchedule.Table
expect_caught '`CommandLine.*` [cron_tests]' "$2" "$3" 'CommandLine.*'
expect_caught '`MatchSchedule.Tab…` [cron_tests]' "$2" "$3" 'MatchSchedule.Tab'
expect_caught '`MatchSchedule.Table`' "$2" "$3" MatchSchedule.Table
expect_caught '`fuzz_no_such_target`' "$2" "$3" fuzz_no_such_target
expect_caught '`fuzz_match_schedule` (seeds `no_such_seed`)' "$2" "$3" no_such_seed
expect_caught '`WinZbs.NoSuchTest` [win32_zbs_tests]' "$2" "$3" WinZbs.NoSuchTest

[ "$failures" -eq 0 ] || exit 1

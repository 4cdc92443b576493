#!/bin/sh
# The include-direction check passes on a copy of the tree and fails on each
# kind of include it exists to catch.
# Usage: check_include_direction_test.sh SOURCE_DIR
set -eu
src=$(cd "$1" && pwd)
check="$src/tests/check_include_direction.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

fresh_copy() {
    rm -rf "$work/tree"
    mkdir "$work/tree"
    cp -R "$src/agent" "$src/tools" "$work/tree/"
}

fresh_copy
sh "$check" "$work/tree" >/dev/null || { echo "the copy of the tree fails the check"; exit 1; }

failures=0
# FILE LINE: adding LINE to FILE must make the check fail.
expect_caught() {
    fresh_copy
    printf '%s\n' "$2" >>"$work/tree/$1"
    if sh "$check" "$work/tree" >"$work/out"; then
        echo "not caught: $2 in $1"
        failures=$((failures + 1))
    elif ! grep -qF "$1" "$work/out"; then
        echo "caught, but $1 is not named:"
        cat "$work/out"
        failures=$((failures + 1))
    fi
}

expect_caught agent/dispatch/launch.cpp '#include "agent/cron/settings.h"'
expect_caught agent/crypt/key_file.cpp '#include "agent/cron/debug_log.h"'
expect_caught agent/platform/platform.h '#include "agent/cron/tick_loop.h"'
expect_caught agent/base/text.cpp '#include "agent/platform/platform.h"'
expect_caught agent/cron/schedule.cpp '#include "agent/cron/settings.h"'
expect_caught agent/cron/tick_actions.cpp '#include "agent/platform/inspect.h"'
expect_caught agent/dispatch/launch.cpp '#include "agent/platform/system.h"'
expect_caught agent/cron/main_win32.cpp '#include <windows.h>'
expect_caught agent/cron/tick_loop.cpp '#  include <unistd.h>'
expect_caught agent/crypt/estream.cpp '#include <sys/stat.h>'
expect_caught agent/dispatch/backup_channel.cpp '#include <mqueue.h>'
expect_caught tools/zbs/main.cpp '#include <fcntl.h>'

# Where they belong, the same headers pass.
fresh_copy
printf '%s\n' '#include <unistd.h>' >>"$work/tree/agent/platform/posix/clock.cpp"
printf '%s\n' '#include "agent/base/sizes.h"' >>"$work/tree/agent/dispatch/launch.cpp"
sh "$check" "$work/tree" >/dev/null || { echo "an allowed include fails the check"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "every kind of wrong include is caught"
exit "$failures"

#!/bin/sh
# check-service's container guard, run in its dry mode: it refuses this
# machine's PID 1 and an ordinary process, and takes the PID 1 of a new pid
# namespace chrooted into the directory it is told the container was booted from.
# Usage: check_service_guard_test.sh SOURCE_DIR
set -eu
guard() { sh "$1/tests/system/check-service" --guard-only "$2" "$3" >/dev/null 2>&1; }
src=$(cd "$1" && pwd)
work=$(mktemp -d)
child=
pid1=
cleanup() {
    # A namespace's PID 1 takes from outside only the signals it handles, and
    # unshare ignores TERM while it waits: KILL, or the stand-in outlives the
    # test (and ctest waits for its output with it).
    [ -z "$pid1" ] || kill -KILL "$pid1" 2>/dev/null || true
    [ -z "$child" ] || kill -KILL "$child" 2>/dev/null || true
    [ -z "$child" ] || wait "$child" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
failures=0
expect() {
    if [ "$1" = refused ] && guard "$src" "$2" "$3"; then
        echo "taken, though not the container: process $2 ($4)"
        failures=$((failures + 1))
    elif [ "$1" = taken ] && ! guard "$src" "$2" "$3"; then
        echo "refused, though the container: process $2 ($4)"
        failures=$((failures + 1))
    fi
}

mkdir -p "$work/root/usr"
for d in bin lib lib64 sbin; do ln -s "usr/$d" "$work/root/$d"; done
expect refused 1 "$work/root" "this machine's PID 1"
expect refused 1 / "this machine's PID 1, named with its own root"
expect refused $$ "$work/root" "this test"

# A stand-in container: PID 1 of its own pid namespace, its root the directory.
unshare --mount --pid --fork --kill-child sh -c 'mount --bind /usr "$1/usr" && exec chroot "$1" sleep 60' \
    guard "$work/root" 2>"$work/err" &
child=$!
i=0
while [ -z "$pid1" ] && [ $i -lt 50 ]; do
    pid1=$(pgrep -P "$child" -x sleep || true)
    [ -n "$pid1" ] || sleep 0.1
    i=$((i + 1))
done
if [ -z "$pid1" ]; then
    echo "no stand-in container here: $(cat "$work/err"); only the refusals were checked"
    [ $failures -eq 0 ] || exit 1
    exit 77
fi
expect taken "$pid1" "$work/root" "the stand-in container's PID 1"
expect refused "$pid1" "$work/root/usr" "the stand-in container's PID 1, another directory"
exit $((failures > 0))

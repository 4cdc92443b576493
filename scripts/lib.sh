# shellcheck shell=sh disable=SC2034  # failure is read by the callers' teardowns
# Shared by the scripts: sourced, never run. The caller sets `me` to its name
# before sourcing.

# Says why on standard error and ends the script (its EXIT trap still runs).
# `failure` keeps the reason for a teardown that reports it again at the end.
failure=
die() {
    failure="$*"
    echo "${me:-script}: $*" >&2
    exit 1
}

# wait_until SECONDS COMMAND [ARG...]: runs the command every 0.1 s until it
# succeeds (true) or SECONDS have passed (false). Its output is discarded.
wait_until() {
    _deadline=$(($(date +%s) + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s)" -lt "$_deadline" ] || return 1
        sleep 0.1
    done
}

# A check that cannot run on this machine: under CI (CI=true) the stage fails,
# since a green stage must mean everything was checked; elsewhere it says
# plainly what was not checked and goes on.
cannot_check() {
    if [ "${CI:-}" = true ]; then
        die "cannot check: $*"
    fi
    echo "${me:-script}: NOT CHECKED: $*" >&2
}

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

# Prints the URI of the Debian archive this machine's apt already uses (from
# the deb822 debian.sources, else the one-line sources.list); false when none.
# Added sources use it, so that no script names a host of its own.
debian_mirror() {
    _mirror=$(sed -n 's/^URIs:[[:space:]]*\(.*\/debian\)[[:space:]]*$/\1/p' \
        /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
    [ -n "$_mirror" ] || _mirror=$(sed -n 's/^deb[[:space:]]\{1,\}\(\[[^]]*\][[:space:]]\{1,\}\)\{0,1\}\([^[:space:]]*\/debian\)[[:space:]].*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | head -n1)
    [ -n "$_mirror" ] && echo "$_mirror"
}

#!/bin/sh
# Include direction of the agent and its tools:
#  - the lower layers (agent/base, agent/platform, agent/crypt, agent/dispatch)
#    never include from agent/cron, and agent/base includes nothing of the agent
#    but itself, so every layer may include it;
#  - the schedule matcher does not reach for the settings;
#  - the agent's own code calls the system through platform.h only: what the
#    tools look at besides (platform/inspect.h) and the system's side of the
#    replaceable parts (platform/system.h) are not for it;
#  - operating-system headers appear only below agent/platform/posix and
#    agent/platform/win32.
# Usage: check_include_direction.sh SOURCE_DIR
set -eu
src=$1
cd "$src"

# The files of a clone, tracked or new (not ignored); a tree that git does not
# know (an unpacked archive, a copy) is read as it is.
files=$(git ls-files --cached --others --exclude-standard -- agent tools 2>/dev/null || true)
if [ -z "$files" ]; then
    files=$(find agent tools -type f | sort)
fi
files=$(printf '%s\n' "$files" | grep -E '\.(c|cc|cpp|h|hpp)$' | while read -r f; do
    [ -f "$f" ] && printf '%s\n' "$f"
done || true)

# Guard against a vacuous pass: the list must hold the agent's own sources.
for must in agent/cron/settings.cpp agent/platform/platform.h agent/dispatch/launch.cpp; do
    printf '%s\n' "$files" | grep -qx "$must" || { echo "no agent sources found below $src (missing $must)"; exit 1; }
done

# FILE:LINE:TEXT of every include line in the given files.
includes() {
    [ $# -gt 0 ] || return 0
    grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' /dev/null "$@" || true
}

in_dirs() {
    printf '%s\n' "$files" | grep -E "^($1)/" || true
}

os_headers='windows\.h|winbase\.h|winsock2?\.h|ws2tcpip\.h|io\.h|direct\.h|process\.h|unistd\.h|fcntl\.h|signal\.h|dirent\.h|mqueue\.h|pthread\.h|spawn\.h|poll\.h|sched\.h|pwd\.h|grp\.h|dlfcn\.h|syslog\.h|termios\.h|semaphore\.h|sys/[^>]*|linux/[^>]*|netinet/[^>]*|arpa/[^>]*|systemd/[^>]*'

bad=""
# shellcheck disable=SC2046  # one word per file name: the tree has no blanks in them
bad="$bad$(includes $(in_dirs 'agent/base|agent/platform|agent/crypt|agent/dispatch') | grep -E '"agent/cron/' || true)
"
bad="$bad$(includes $(in_dirs 'agent/base') | grep -E '"agent/' | grep -vE '"agent/base/' || true)
"
bad="$bad$(includes $(printf '%s\n' "$files" | grep -E '^agent/cron/schedule\.(h|cpp)$' || true) | grep -F '"agent/cron/settings.h"' || true)
"
# shellcheck disable=SC2046
bad="$bad$(includes $(in_dirs 'agent/base|agent/cron|agent/crypt|agent/dispatch') | grep -E '"agent/platform/(inspect|system)\.h"' || true)
"
outside=$(printf '%s\n' "$files" | grep -vE '^agent/platform/(posix|win32)/' || true)
bad="$bad$(includes $outside | grep -E "<($os_headers)>" || true)
"

bad=$(printf '%s' "$bad" | grep -v '^$' || true)
if [ -n "$bad" ]; then
    echo "includes against the layering:"
    printf '%s\n' "$bad"
    exit 1
fi
echo "include direction kept in $(printf '%s\n' "$files" | wc -l) files"

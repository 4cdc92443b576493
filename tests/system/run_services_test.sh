#!/bin/sh
# The 95/98/ME way to start the agent at boot: a value under RunServices starts
# it when the next Wine session begins. The test ends a session, so it runs in a
# Wine prefix of its own (the other tests share one whose server stays up), and
# removes that prefix, with the registry values in it, at the end.
#
#   run_services_test.sh WINE_RUN CRON_EXE WORK_DIR
#
# WINEARCH (win32 for a 32-bit build) comes from the caller's environment.
set -eu
wine_run=$1
cron_exe=$2
work=$3

export WINEPREFIX="$work/prefix"
finish() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT
rm -rf "$work"
mkdir -p "$work/install/etc"
cp "$cron_exe" "$work/install/omvar-cron.exe"
install_dir="Z:$(printf '%s' "$work/install" | tr / '\\')"
pid_file="$work/install/etc/omvarcrond.pid"

# The first session creates the prefix.
"$wine_run" reg.exe add 'HKCU\Software\Wine\AppDefaults\omvar-cron.exe' /v Version /d win98 /f >/dev/null
"$wine_run" reg.exe add 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunServices' /v omvarCron \
    /d "$install_dir\\omvar-cron.exe $install_dir" /f >/dev/null
if [ -e "$pid_file" ]; then
    echo "FAIL: the agent ran before the next session began"
    exit 1
fi
wineserver -k
wineserver -w

# The next session: any program starts it.
"$wine_run" cmd.exe /c exit 0
i=0
while [ $i -lt 300 ] && ! grep -q '^[0-9][0-9]*'"$(printf '\r')"'$' "$pid_file" 2>/dev/null; do
    sleep 0.1
    i=$((i + 1))
done
if ! grep -q '^[0-9][0-9]*'"$(printf '\r')"'$' "$pid_file" 2>/dev/null; then
    echo "FAIL: no pid file 30 s after the session began"
    cat "$pid_file" 2>/dev/null || true
    exit 1
fi
echo "started by RunServices: pid $(tr -d '\r\n' <"$pid_file")"

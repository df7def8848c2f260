#!/usr/bin/env bash
# Installs, reinstalls, removes and purges the package with dpkg, as root in
# a throwaway root (see throwaway_root.sh), and checks what its maintainer
# scripts leave behind, also over an earlier version's log.
# Usage: package_scripts.sh DEB
set -uo pipefail

deb=$1
logger_dir=/usr/lib/tallix
state=/var/lib/tallix
log=$state/Date.txt

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
owner_mode() { stat -c '%U:%G %a' "$1"; }
records() { grep -c '' "$log"; }
dpkg_quietly() {
    dpkg "$@" >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "dpkg $*"; }
    grep -i -E 'warning|not empty' /tmp/dpkg.log && fail "dpkg $* warned"
}

echo "== over an earlier version's log, writable by all, beside the logger"
mkdir -p "$logger_dir"
printf '#2024-02-01 08:15:00#\r\n' >"$logger_dir/Date.txt"
chmod 0666 "$logger_dir/Date.txt"
dpkg_quietly -i "$deb"
[ "$(readlink "$logger_dir/Date.txt")" = "$log" ] || fail "$logger_dir/Date.txt is not the link to $log"
[ "$(cat "$log")" = $'#2024-02-01 08:15:00#\r' ] || fail "the earlier records did not move into $log"
[ "$(owner_mode "$log")" = "root:tallix 664" ] || fail "the log is $(owner_mode "$log")"
[ "$(owner_mode "$log.lock")" = "root:tallix 660" ] || fail "the lock is $(owner_mode "$log.lock")"
[ "$(owner_mode "$state")" = "root:root 755" ] || fail "the state folder is $(owner_mode "$state")"
[ "$(owner_mode "$logger_dir/tallix-record")" = "root:tallix 2755" ] ||
    fail "the recorder is $(owner_mode "$logger_dir/tallix-record")"
dpkg-statoverride --list "$logger_dir/tallix-record" | grep -q '^root tallix 2755 ' ||
    fail "no dpkg-statoverride for the recorder"

echo "== an ordinary user's login"
useradd --no-create-home --shell /usr/sbin/nologin tallix-user
runuser -u tallix-user -- env -u DISPLAY -u WAYLAND_DISPLAY "$logger_dir/tallix" 2>/dev/null ||
    fail "the installed logger failed for an ordinary user"
[ "$(records)" -eq 2 ] || fail "the user's login was not recorded"
runuser -u tallix-user -- sh -c ": > $log" 2>/dev/null && fail "an ordinary user emptied the log"
cp "$log" /tmp/kept

echo "== reinstall keeps the log"
dpkg_quietly -i "$deb"
cmp -s "$log" /tmp/kept || fail "reinstalling changed the log"

echo "== remove keeps the history, and nothing else"
dpkg_quietly -r tallix
cmp -s "$log" /tmp/kept || fail "removing changed the log"
[ ! -e "$logger_dir" ] || fail "removing left $(ls -A "$logger_dir")"
getent group tallix >/dev/null || fail "removing deleted the group that owns the history"

echo "== installed again, the history is back"
dpkg_quietly -i "$deb"
cmp -s "$log" /tmp/kept || fail "installing again changed the log"
[ "$(readlink "$logger_dir/Date.txt")" = "$log" ] || fail "installing again did not restore the link"

echo "== purge removes it all"
dpkg_quietly -P tallix
[ ! -e "$state" ] || fail "purging left $state"
[ ! -e "$logger_dir" ] || fail "purging left $logger_dir"
[ ! -e /etc/xdg/autostart/io.github.tallix.Tallix.desktop ] || fail "purging left the autostart entry"
dpkg-statoverride --list "$logger_dir/tallix-record" >/dev/null && fail "purging left the statoverride"

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package_scripts: all checks passed"

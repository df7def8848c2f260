#!/usr/bin/env bash
# Installs, reinstalls, removes and purges the package with dpkg, as root in
# a throwaway root with no running systemd (see throwaway_root.sh), and
# checks what its maintainer scripts leave behind, also over the logs of
# earlier versions.
# Usage: package_scripts.sh DEB
set -uo pipefail

deb=$1
logger_dir=/usr/lib/tallix
state=/var/lib/tallix
log=$state/Date.txt
source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

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
check_layout() {
    [ "$(owner_mode "$log")" = "tallix:tallix 644" ] || fail "the log is $(owner_mode "$log")"
    [ "$(owner_mode "$log.lock")" = "tallix:tallix 600" ] || fail "the lock is $(owner_mode "$log.lock")"
    [ "$(owner_mode "$state")" = "tallix:tallix 755" ] || fail "the state folder is $(owner_mode "$state")"
    [ "$(owner_mode "$logger_dir/tallix-record")" = "root:root 755" ] ||
        fail "the recorder is $(owner_mode "$logger_dir/tallix-record")"
    [ "$(id -gn tallix 2>&1)" = tallix ] || fail "no system user tallix in the group tallix"
    dpkg-statoverride --list "$logger_dir/tallix-record" && fail "a dpkg-statoverride is left for the recorder"
    systemctl is-enabled --quiet tallix-record.socket || fail "the socket is not enabled"
}
check_layout

echo "== with no running systemd, an ordinary user's login says what to start"
useradd --no-create-home --shell /usr/sbin/nologin tallix-user
said=$(runuser -u tallix-user -- env -u DISPLAY -u WAYLAND_DISPLAY "$logger_dir/tallix" 2>&1) &&
    fail "the logger claimed to record with no service"
grep -q 'systemctl start tallix-record.socket' <<<"$said" || fail "the logger said: $said"
[ "$(records)" -eq 1 ] || fail "the log changed with no service"
runuser -u tallix-user -- sh -c ": > $log" 2>/dev/null && fail "an ordinary user emptied the log"
cp "$log" /tmp/kept

echo "== reinstall keeps the log"
dpkg_quietly -i "$deb"
cmp -s "$log" /tmp/kept || fail "reinstalling changed the log"

echo "== remove keeps the history, and nothing else"
dpkg_quietly -r tallix
cmp -s "$log" /tmp/kept || fail "removing changed the log"
[ ! -e "$logger_dir" ] || fail "removing left $(ls -A "$logger_dir")"
getent passwd tallix >/dev/null || fail "removing deleted the user that owns the history"

echo "== installed again, the history is back"
dpkg_quietly -i "$deb"
cmp -s "$log" /tmp/kept || fail "installing again changed the log"
[ "$(readlink "$logger_dir/Date.txt")" = "$log" ] || fail "installing again did not restore the link"

echo "== purge removes it all"
dpkg_quietly -P tallix
[ ! -e "$state" ] || fail "purging left $state"
[ ! -e "$logger_dir" ] || fail "purging left $logger_dir"
[ ! -e /etc/xdg/autostart/io.github.tallix.Tallix.desktop ] || fail "purging left the autostart entry"

echo "== over 1.1.0's layout: a setgid recorder, its group, the log root's"
userdel tallix
getent group tallix >/dev/null || groupadd --system tallix
mkdir -p "$logger_dir" "$state"
printf '#2025-03-01 10:00:00#\r\n' >"$log"
chown root:tallix "$log"
chmod 0664 "$log"
install -o root -g tallix -m 0660 /dev/null "$log.lock"
ln -s "$log" "$logger_dir/Date.txt"
dpkg-statoverride --add root tallix 2755 "$logger_dir/tallix-record"
cp "$log" /tmp/kept
dpkg_quietly -i "$deb"
cmp -s "$log" /tmp/kept || fail "upgrading changed the records"
check_layout

finish package_scripts

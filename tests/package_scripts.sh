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

echo "== a failed upgrade from 1.1.0 leaves 1.1.0 recording as before"
# 1.1.0 as it was laid out: the recorder setgid tallix by dpkg-statoverride,
# beside the link to a log of that group. Its recorder was a setgid program
# appending to the log with the group's rights, as tee stands in for here.
userdel tallix
old=/tmp/tallix-1.1.0
mkdir -p "$old/DEBIAN" "$old/usr/lib/tallix"
cp /usr/bin/tee "$old/usr/lib/tallix/tallix-record"
ln -s "$log" "$old/usr/lib/tallix/Date.txt"
cat >"$old/DEBIAN/control" <<END
Package: tallix
Version: 1.1.0
Architecture: $(dpkg --print-architecture)
Maintainer: Tallix Developers <maintainers@tallix.example.org>
Description: access log of a computer (1.1.0, as the tests lay it out)
END
cat >"$old/DEBIAN/postinst" <<'END'
#!/bin/sh
set -e
[ "$1" = configure ] || exit 0
getent group tallix >/dev/null || groupadd --system tallix
mkdir -p /var/lib/tallix
[ -e /var/lib/tallix/Date.txt ] || install -g tallix -m 0664 /dev/null /var/lib/tallix/Date.txt
[ -e /var/lib/tallix/Date.txt.lock ] || install -g tallix -m 0660 /dev/null /var/lib/tallix/Date.txt.lock
dpkg-statoverride --list /usr/lib/tallix/tallix-record >/dev/null ||
    dpkg-statoverride --update --add root tallix 2755 /usr/lib/tallix/tallix-record
END
chmod 0755 "$old/DEBIAN/postinst"
dpkg-deb --root-owner-group --build "$old" /tmp/tallix-1.1.0.deb >/dev/null
# A package that owns a file of this version makes its unpack fail.
blocker=/tmp/tallix-blocker
mkdir -p "$blocker/DEBIAN" "$blocker/usr/bin"
printf 'Package: tallix-blocker\nVersion: 1\nArchitecture: all\nMaintainer: nobody <nobody@example.org>\nDescription: owns a file of tallix\n' \
    >"$blocker/DEBIAN/control"
: >"$blocker/usr/bin/tallix-vistrel"
dpkg-deb --root-owner-group --build "$blocker" /tmp/tallix-blocker.deb >/dev/null
dpkg_quietly -i /tmp/tallix-1.1.0.deb /tmp/tallix-blocker.deb
printf '#2025-03-01 10:00:00#\r\n' >"$log"
printf '#2025-03-01 10:00:01#\r\n' | runuser -u tallix-user -- "$logger_dir/tallix-record" -a "$logger_dir/Date.txt" >/dev/null ||
    fail "1.1.0 did not record"
dpkg -i "$deb" >/tmp/dpkg.log 2>&1 && fail "the upgrade went through a file of another package"
grep -q 'trying to overwrite' /tmp/dpkg.log || { cat /tmp/dpkg.log; fail "the upgrade failed for another reason"; }
[ "$(dpkg-query -W -f='${Version} ${Status}' tallix)" = "1.1.0 install ok installed" ] ||
    fail "after the failed upgrade tallix is $(dpkg-query -W -f='${Version} ${Status}' tallix)"
[ "$(dpkg-statoverride --list "$logger_dir/tallix-record")" = "root tallix 2755 $logger_dir/tallix-record" ] ||
    fail "the failed upgrade left the override $(dpkg-statoverride --list "$logger_dir/tallix-record")"
[ "$(owner_mode "$log")" = "root:tallix 664" ] || fail "the failed upgrade left the log $(owner_mode "$log")"
printf '#2025-03-01 10:00:01#\r\n' | runuser -u tallix-user -- "$logger_dir/tallix-record" -a "$logger_dir/Date.txt" >/dev/null ||
    fail "the rolled-back 1.1.0 did not record"
[ "$(records)" -eq 3 ] || fail "1.1.0 recorded $(($(records) - 1)) accesses, not 2"

echo "== the upgrade from 1.1.0 keeps every record"
dpkg_quietly -P tallix-blocker
cp "$log" /tmp/kept
dpkg_quietly -i "$deb"
cmp -s "$log" /tmp/kept || fail "upgrading changed the records"
check_layout

echo "== an administrator's override of the recorder outlives a reconfigure"
dpkg-statoverride --update --add root root 0750 "$logger_dir/tallix-record"
DEBIAN_FRONTEND=noninteractive dpkg-reconfigure tallix >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "dpkg-reconfigure"; }
[ "$(owner_mode "$logger_dir/tallix-record")" = "root:root 750" ] ||
    fail "reconfiguring made the recorder $(owner_mode "$logger_dir/tallix-record")"

finish package_scripts

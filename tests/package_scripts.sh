#!/usr/bin/env bash
# Installs, reinstalls, removes and purges the two packages with dpkg, as
# root in a throwaway root with no running systemd (see throwaway_root.sh),
# and checks what their maintainer scripts leave behind, also over the logs
# of earlier versions and as upgrades from the single package before them:
# 1.1.0 as it was laid out, and 1.2.0 as it was built.
# Usage: package_scripts.sh PACKAGE-DIR EARLIER-PACKAGE-DIR
set -uo pipefail

# In the order apt unpacks them: the package that breaks the older tallix
# comes after its upgrade.
debs=("$1/tallix.deb" "$1/tallix-record.deb")
earlier=$(ls "$2"/tallix_1.2.0_*.deb)
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
dpkg_quietly -i "${debs[@]}"
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
dpkg_quietly -i "${debs[@]}"
cmp -s "$log" /tmp/kept || fail "reinstalling changed the log"

echo "== remove keeps the history, and nothing else"
dpkg_quietly -r tallix tallix-record
cmp -s "$log" /tmp/kept || fail "removing changed the log"
[ ! -e "$logger_dir" ] || fail "removing left $(ls -A "$logger_dir")"
getent passwd tallix >/dev/null || fail "removing deleted the user that owns the history"

echo "== installed again, the history is back"
dpkg_quietly -i "${debs[@]}"
cmp -s "$log" /tmp/kept || fail "installing again changed the log"
[ "$(readlink "$logger_dir/Date.txt")" = "$log" ] || fail "installing again did not restore the link"

echo "== purge removes it all"
dpkg_quietly -P tallix tallix-record
[ ! -e "$state" ] || fail "purging left $state"
[ ! -e "$logger_dir" ] || fail "purging left $logger_dir"
[ ! -e /etc/xdg/autostart/io.github.tallix.Tallix.desktop ] || fail "purging left the autostart entry"

echo "== 1.0.0's log, moved aside, never goes through a link planted where it goes"
mkdir -p "$state" "$logger_dir" /tmp/elsewhere
printf '#2024-01-01 00:00:00#\r\n' >"$log"
printf '#2024-02-01 08:15:00#\r\n' >"$logger_dir/Date.txt"
for second in $(seq 0 59); do ln -s /tmp/elsewhere "$log.$(date -d "+$second seconds" +%Y%m%d%H%M%S)"; done
dpkg_quietly -i "${debs[@]}"
[ -z "$(ls -A /tmp/elsewhere)" ] || fail "1.0.0's records went through a link into /tmp/elsewhere"
kept=$(find "$state" -name 'Date.txt.2*' -type f)
[ -n "$kept" ] && [ "$(find "$state" -name 'Date.txt.2*' -type l | wc -l)" -eq 59 ] ||
    fail "1.0.0's records did not take the place of a planted link: $(ls -l "$state")"
grep -q -F '#2024-02-01 08:15:00#' "$kept" || fail "1.0.0's records are not beside the log"
dpkg_quietly -P tallix tallix-record

echo "== a failed upgrade from 1.1.0 leaves 1.1.0 recording as before"
# 1.1.0 as it was laid out: the recorder setgid tallix by dpkg-statoverride,
# beside the link to a log of that group, and a PAM profile off by default.
# Its recorder was a setgid program appending to the log with the group's
# rights, as tee stands in for here.
userdel tallix
old=/tmp/tallix-1.1.0
mkdir -p "$old/DEBIAN" "$old/usr/lib/tallix" "$old/usr/share/pam-configs"
cp /usr/bin/tee "$old/usr/lib/tallix/tallix-record"
ln -s "$log" "$old/usr/lib/tallix/Date.txt"
printf 'Name: Tallix 1.1.0\nDefault: no\nPriority: 0\nSession-Type: Additional\nSession:\n\toptional pam_permit.so\n' \
    >"$old/usr/share/pam-configs/tallix"
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
pam-auth-update --package
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
dpkg -i "$1/tallix.deb" "$1/tallix-record.deb" >/tmp/dpkg.log 2>&1 &&
    fail "the upgrade went through a file of another package"
grep -q 'trying to overwrite' /tmp/dpkg.log || { cat /tmp/dpkg.log; fail "the upgrade failed for another reason"; }
[ "$(dpkg-query -W -f='${Version} ${Status}' tallix)" = "1.1.0 install ok installed" ] ||
    fail "after the failed upgrade tallix is $(dpkg-query -W -f='${Version} ${Status}' tallix)"
[ "$(dpkg-statoverride --list "$logger_dir/tallix-record")" = "root tallix 2755 $logger_dir/tallix-record" ] ||
    fail "the failed upgrade left the override $(dpkg-statoverride --list "$logger_dir/tallix-record")"
[ "$(owner_mode "$log")" = "root:tallix 664" ] || fail "the failed upgrade left the log $(owner_mode "$log")"
printf '#2025-03-01 10:00:01#\r\n' | runuser -u tallix-user -- "$logger_dir/tallix-record" -a "$logger_dir/Date.txt" >/dev/null ||
    fail "the rolled-back 1.1.0 did not record"
[ "$(records)" -eq 3 ] || fail "1.1.0 recorded $(($(records) - 1)) accesses, not 2"

echo "== the upgrade from 1.1.0 keeps every record, and the profile off"
dpkg_quietly -P tallix-blocker
cp "$log" /tmp/kept
dpkg_quietly -i "${debs[@]}"
cmp -s "$log" /tmp/kept || fail "upgrading changed the records"
check_layout
grep -q pam-session /etc/pam.d/common-session && fail "upgrading from 1.1.0 turned on the profile it had off"
grep -q 'profile tallix is off' /tmp/dpkg.log || fail "upgrading did not say the profile is off: $(cat /tmp/dpkg.log)"

echo "== an administrator's override of the recorder outlives a reconfigure"
dpkg-statoverride --update --add root root 0750 "$logger_dir/tallix-record"
DEBIAN_FRONTEND=noninteractive dpkg-reconfigure tallix-record >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "dpkg-reconfigure"; }
[ "$(owner_mode "$logger_dir/tallix-record")" = "root:root 750" ] ||
    fail "reconfiguring made the recorder $(owner_mode "$logger_dir/tallix-record")"

echo "== the upgrade from the single package 1.2.0 keeps records, overrides and the PAM choice"
dpkg_quietly -P tallix tallix-record
dpkg-statoverride --remove "$logger_dir/tallix-record"
dpkg_quietly -i "$earlier"
printf '#2025-04-01 09:00:00#\r\n' >>"$log"
cp "$log" /tmp/kept
# An administrator's override and choice, each unlike the defaults.
dpkg-statoverride --update --add root root 0750 "$logger_dir/tallix-record"
pam-auth-update --disable tallix
systemctl disable --quiet tallix-record.socket
dpkg_quietly -i "${debs[@]}" </dev/null
systemctl is-enabled --quiet tallix-record.socket && fail "upgrading from 1.2.0 enabled the socket the administrator disabled"
for socket in tallix-login.socket tallix-mend.socket; do
    systemctl is-enabled --quiet "$socket" || fail "upgrading from 1.2.0 did not enable its new $socket"
done
for package in tallix tallix-record; do
    [ "$(dpkg-query -W -f='${Version} ${Status}' "$package")" = "$(dpkg-deb -f "$1/$package.deb" Version) install ok installed" ] ||
        fail "after the upgrade $package is $(dpkg-query -W -f='${Version} ${Status}' "$package")"
done
cmp -s "$log" /tmp/kept || fail "upgrading from 1.2.0 changed the records"
[ "$(owner_mode "$logger_dir/tallix-record")" = "root:root 750" ] ||
    fail "upgrading from 1.2.0 made the recorder $(owner_mode "$logger_dir/tallix-record")"
grep -q pam-session /etc/pam.d/common-session && fail "upgrading from 1.2.0 turned the profile back on"
dpkg_quietly -r tallix
[ -x "$logger_dir/tallix-record" ] && [ -L "$logger_dir/Date.txt" ] || fail "removing the desktop took the service's files"

echo "== the settings' edits pass from the single package to tallix-record"
# The single package's settings as 1.2.1 and 1.2.2 shipped them, a conffile.
dpkg_quietly -P tallix-record
single=/tmp/tallix-1.2.2
mkdir -p "$single/DEBIAN" "$single/etc/tallix"
dpkg-deb --fsys-tarfile "$1/tallix-record.deb" | tar -xO ./etc/tallix/record.conf >"$single/etc/tallix/record.conf"
echo /etc/tallix/record.conf >"$single/DEBIAN/conffiles"
sed 's/^Version: .*/Version: 1.2.2/; s/1.1.0, as the tests lay it out/1.2.2, its settings alone/' \
    "$old/DEBIAN/control" >"$single/DEBIAN/control"
dpkg-deb --root-owner-group --build "$single" /tmp/tallix-1.2.2.deb >/dev/null
dpkg_quietly -i /tmp/tallix-1.2.2.deb
printf '# kept\n' >>/etc/tallix/record.conf
cp /etc/tallix/record.conf /tmp/record.conf.kept
# The settings stay in their folder while tallix-record is unpacked, as
# dpkg says; no other word.
dpkg -i "${debs[@]}" </dev/null >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "dpkg -i from 1.2.2"; }
grep -i -E 'warning|not empty' /tmp/dpkg.log | grep -v -x "dpkg: warning: unable to delete old directory '/etc/tallix': Directory not empty" &&
    fail "the upgrade from 1.2.2 warned"
cmp -s /etc/tallix/record.conf /tmp/record.conf.kept || fail "the upgrade lost the settings' edit"
[ "$(dpkg -S /etc/tallix/record.conf)" = "tallix-record: /etc/tallix/record.conf" ] ||
    fail "the settings belong to $(dpkg -S /etc/tallix/record.conf)"
cp "$log" /tmp/kept
dpkg_quietly -P tallix
cmp -s /etc/tallix/record.conf /tmp/record.conf.kept && cmp -s "$log" /tmp/kept ||
    fail "purging the desktop took the settings or the log"

finish package_scripts

#!/usr/bin/env bash
# Upgrades the single package 1.2.0, running, to the two packages of this
# version, as root in the booted throwaway system (see booted_system.sh): the
# service that records afterwards is this version's, with every socket, and
# a console login still counts. Ends with the packages purged.
# Usage: upgrade.sh PACKAGE-DIR EARLIER-PACKAGE-DIR
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
require_throwaway_root upgrade
log=/var/lib/tallix/Date.txt
records() { grep -c '' "$log"; }

id tallix-upgrader >/dev/null 2>&1 || useradd --create-home --shell /bin/bash tallix-upgrader
dpkg -i "$2"/tallix_1.2.0_*.deb >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; give_up "installing 1.2.0"; }
before=$(records)
console_login tallix-upgrader
[ "$(records)" -eq $((before + 1)) ] || give_up "1.2.0 did not record a console login"
earlier=$(systemctl show -P MainPID tallix-record.service)
[ "$earlier" -gt 0 ] || give_up "1.2.0's service is not running"

dpkg -i "$1/tallix.deb" "$1/tallix-record.deb" >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; give_up "upgrading"; }
now=$(systemctl show -P MainPID tallix-record.service)
[ "$now" != "$earlier" ] || fail "1.2.0's service still runs after the upgrade"
for socket in tallix-record.socket tallix-login.socket tallix-mend.socket; do
    systemctl is-active --quiet "$socket" || fail "$socket is not listening after the upgrade"
done
before=$(records)
console_login tallix-upgrader
[ "$(records)" -eq $((before + 1)) ] || fail "after the upgrade a console login added $(($(records) - before)) records"
[ "$(readlink "/proc/$(systemctl show -P MainPID tallix-record.service)/exe")" = /usr/lib/tallix/tallix-record ] ||
    fail "the service that recorded is not the installed program"

dpkg -P tallix tallix-record >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "purging"; }
finish upgrade

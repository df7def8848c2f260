#!/usr/bin/env bash
# The root of another Debian release for booted_system.sh to boot: that
# release's systemd, PAM and libraries, with what the packages in
# PACKAGE-DIR need (but not the packages) and the tools the booted tests
# use. It comes from mmdebstrap, through a cache that lasts a day.
#   release_root.sh RELEASE PACKAGE-DIR ROOT-DIR
set -euo pipefail

release=$1
packages=$2
root=$3
source "$(dirname "${BASH_SOURCE[0]}")/debian_base.sh"
cache=${TALLIX_RELEASE_CACHE:-/var/cache/tallix-release}

if [ "$(id -u)" -ne 0 ]; then
    echo "release_root: needs root"
    exit 77
fi

# What the packages depend on and recommend, each relation's first choice.
needed() {
    local deb
    for deb in "$packages/tallix-record.deb" "$packages/tallix.deb"; do
        dpkg-deb -f "$deb" Depends Recommends
    done | sed 's/^[A-Za-z-]*://' | tr ',' '\n' | sed 's/|.*//; s/(.*//; s/ //g' | grep -v -x -E 'tallix(-record)?|'
}
tools=(systemd dbus libpam-systemd libpam-runtime pamtester python3 procps iproute2 uidmap passwd
    systemd-journal-remote autopkgtest dpkg-dev login dbus-user-session xvfb xauth xdotool x11-utils imagemagick)
include=$( (needed; printf '%s\n' "${tools[@]}") | sort -u | paste -sd,)
tar=$cache/$release-$(sha256sum <<<"$include" | cut -c1-16).tar

# Only the newest root of a release is kept.
[ -e "$tar" ] || find "$cache" -name "$release-*.tar" -delete 2>/dev/null || true
debian_base "$tar" "$release" --variant=minbase --include="$include"
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$tar"
echo "release_root: $release, $(chroot "$root" dpkg-query -W -f='${Version}' systemd) of systemd"

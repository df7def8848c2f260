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
mirror=http://deb.debian.org/debian
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

mkdir -p "$cache"
if [ -z "$(find "$tar" -mmin -1440 2>/dev/null)" ]; then
    echo "release_root: a fresh $release root"
    find "$cache" -name "$release-*.tar" -delete
    mmdebstrap --quiet --variant=minbase --aptopt='Acquire::Retries "3"' --include="$include" \
        "$release" "$cache/new.tar" "deb $mirror $release main" "deb $mirror $release-updates main" \
        "deb $mirror-security $release-security main"
    mv "$cache/new.tar" "$tar"
fi
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$tar"
echo "release_root: $release, $(chroot "$root" dpkg-query -W -f='${Version}' systemd) of systemd"

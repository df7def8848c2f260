#!/usr/bin/env bash
# Downloads, and never installs, what the desktop test installs inside its
# booted system (see desktop_session.sh): LightDM, its GTK greeter, a bare
# Xfce session and light-locker. apt counts as missing what this machine
# lacks, which is right, as the booted system is an overlay of it. The
# packages stay in CACHE, with their names in CACHE/packages, from one run
# to the next.
#   desktop_packages.sh CACHE
set -euo pipefail

cache=$1
packages=(lightdm lightdm-gtk-greeter xfce4-session xfwm4 light-locker)

if [ "$(id -u)" -ne 0 ]; then
    echo "desktop_packages: needs root, for apt"
    exit 77
fi

mkdir -p "$cache/archives/partial"
download() {
    DEBIAN_FRONTEND=noninteractive apt-get install -q -y --download-only --no-install-recommends \
        -o Acquire::Retries=3 -o Dir::Cache::archives="$cache/archives" "${packages[@]}" >"$cache/download.log" 2>&1
}
# Lists older than the mirror name files that are gone: read them again once.
if ! download; then
    apt-get -q -o Acquire::Retries=3 update >>"$cache/download.log" 2>&1 || true
    download || { tail -n 30 "$cache/download.log"; exit 1; }
fi
# Versions that the lists no longer name go.
apt-get -q -o Dir::Cache::archives="$cache/archives" autoclean >/dev/null
printf '%s\n' "${packages[@]}" >"$cache/packages"
echo "desktop_packages: $(find "$cache/archives" -maxdepth 1 -name '*.deb' | wc -l) packages in $cache/archives"

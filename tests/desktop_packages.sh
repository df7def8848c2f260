#!/usr/bin/env bash
# Downloads, and never installs, what a desktop test installs inside its
# booted system, and the kernel it boots (see guest.sh). apt counts as
# missing what this machine lacks, which is right, as the booted system is
# an overlay of it. The packages stay in CACHE from one run to the next,
# with all their names in CACHE/packages and, a line a group, the group's
# name and its packages in CACHE/groups: the order in which the test
# installs them. apt reads package lists of its own in CACHE/lists, and
# the machine's stay as they are: the packages are installed only in the
# throwaway root the test boots.
#   desktop_packages.sh CACHE [LIST]
# LIST desktop (the default), for desktop_session.sh: LightDM, its GTK
#   greeter, a bare Xfce session and light-locker.
# LIST lockers, for locker_desktops.sh: LightDM, then Xfce with
#   xscreensaver, MATE, Cinnamon and Plasma, each with its own screen locker.
set -euo pipefail

cache=$1
list=${2:-desktop}
case $list in
desktop)
    groups=("desktop lightdm lightdm-gtk-greeter xfce4-session xfwm4 light-locker")
    ;;
lockers)
    # The fewest packages that give each desktop a session and its locker:
    # the metapackages bring mail, office and network tools besides. Marco
    # starts only with the settings of mate-settings-daemon; MATE's own
    # suspends and their locks are mate-power-manager's.
    groups=("lightdm lightdm lightdm-gtk-greeter"
        "xscreensaver xfce4-session xfwm4 xscreensaver xscreensaver-data"
        "mate mate-session-manager mate-settings-daemon marco mate-screensaver mate-power-manager"
        "cinnamon cinnamon cinnamon-session cinnamon-screensaver"
        "plasma plasma-workspace kwin-x11 libkscreenlocker5")
    ;;
*)
    echo "desktop_packages: no list named $list"
    exit 2
    ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    echo "desktop_packages: needs root, for apt"
    exit 77
fi

mkdir -p "$cache/archives/partial" "$cache/lists/partial"
: >"$cache/download.log"
apt=(-o Acquire::Retries=3 -o Dir::State::Lists="$cache/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
apt-get -q "${apt[@]}" update >>"$cache/download.log" 2>&1 || { tail -n 30 "$cache/download.log"; exit 1; }
bash "$(dirname "${BASH_SOURCE[0]}")/guest.sh" kernel "$cache/kernel" "${apt[@]}"
download() {
    DEBIAN_FRONTEND=noninteractive apt-get install -q -y --download-only --no-install-recommends \
        "${apt[@]}" -o Dir::Cache::archives="$cache/archives" "$@" >>"$cache/download.log" 2>&1
}
# What a group alone brings to this machine, in MB.
size_of() {
    local empty
    empty=$(mktemp -d)
    mkdir "$empty/partial"
    apt-get install -qq --print-uris --no-install-recommends "${apt[@]}" -o Dir::Cache::archives="$empty" "$@" 2>/dev/null |
        awk '/^\x27/ { count++; bytes += $3 } END { printf "%d packages, %.1f MB", count, bytes / 1e6 }'
    rm -rf "$empty"
}
# Each group with those before it, as the test installs them one after
# another: where a dependency has alternatives, apt picks the same one
# here as there.
wanted=()
for group in "${groups[@]}"; do
    read -r name packages <<<"$group"
    wanted+=($packages)
    download "${wanted[@]}" || { tail -n 30 "$cache/download.log"; exit 1; }
    echo "desktop_packages: $name: $(size_of $packages)"
done
# Versions that the lists no longer name go.
apt-get -q "${apt[@]}" -o Dir::Cache::archives="$cache/archives" autoclean >/dev/null
printf '%s\n' "${wanted[@]}" >"$cache/packages"
printf '%s\n' "${groups[@]}" >"$cache/groups"
echo "desktop_packages: $(find "$cache/archives" -maxdepth 1 -name '*.deb' | wc -l) packages in $cache/archives"

#!/usr/bin/env bash
# Builds a Debian source tree the way Debian's build daemons do: in a clean
# chroot of a release holding only build-essential and the tree's Build-Depends
# (apt-get build-dep), as an ordinary user, with the network cut, so that
# nothing of this machine (its packages, services, users, PAM files or log)
# takes part. The chroot's base comes from a cache that lasts a day; a
# second build in the same ROOT takes another path inside it.
#   buildd.sh ROOT SOURCE-DIR OUTPUT-DIR [NAME=VALUE...]
# The NAME=VALUE pairs go into the build's environment (DEB_BUILD_OPTIONS,
# TZ, LANG…), but RELEASE names the release (bookworm unless given), UMASK
# sets the build's umask, a LOCPATH names a folder of this machine whose
# locales the build gets, and LINTIAN=yes has that release's lintian check
# what was built. dpkg-buildpackage -us -uc builds the source and the
# binaries; they land in OUTPUT-DIR, the log in OUTPUT-DIR/buildd.log,
# lintian's in OUTPUT-DIR/lintian.log, and the path of the built tree in
# OUTPUT-DIR/buildd.tree.
set -euo pipefail

root=$1
source_dir=$(cd "$2" && pwd)
out=$3
shift 3

source "$(dirname "${BASH_SOURCE[0]}")/debian_base.sh"
cache=${TALLIX_BUILDD_CACHE:-/var/cache/tallix-build}
release=bookworm
lintian=no
environment=()
umask=0022
locale=
for pair in "$@"; do
    case $pair in
    RELEASE=*) release=${pair#RELEASE=} ;;
    UMASK=*) umask=${pair#UMASK=} ;;
    LINTIAN=*) lintian=${pair#LINTIAN=} ;;
    LOCPATH=*) locale=${pair#LOCPATH=} ;;
    *) environment+=("$pair") ;;
    esac
done
base=$cache/$release-buildd.tar
archives=$cache/archives-$release

if [ "$(id -u)" -ne 0 ]; then
    echo "buildd: needs root, for the chroot"
    exit 77
fi

mkdir -p "$cache" "$archives/partial" "$out"
debian_base "$base" "$release" --variant=buildd \
    --customize-hook='chroot "$1" useradd --create-home --shell /bin/sh builder'
if [ ! -d "$root/usr" ]; then
    mkdir -p "$root"
    tar -C "$root" -xf "$base"
fi

# The tree lies at the same path inside as outside, the results beside it.
name=$(basename "$source_dir")
inside=/build$source_dir
rm -rf "$root$(dirname "$inside")"
mkdir -p "$root$inside"
tar -C "$source_dir" --exclude=./.git -cf - . | tar -C "$root$inside" -xf -
if [ -n "$locale" ]; then
    cp -a "$locale" "$root$(dirname "$inside")/locale"
    environment+=("LOCPATH=$(dirname "$inside")/locale")
fi
chroot "$root" chown -R builder: /build

# Mounts live in a namespace of their own and end with it.
in_chroot() {
    unshare --mount --pid --fork --propagation private "$@" bash -c '
        root=$1; shift
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/dev/shm"
        exec chroot "$root" "$@"' in_chroot "$root" "${command[@]}"
}

echo "buildd: the Build-Depends of $name, from $release"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# A mirror that stumbles once is asked again.
command=(sh -c "apt-get -q -o Acquire::Retries=3 update && apt-get -q -y -o Acquire::Retries=3 upgrade &&
    apt-get -q -y -o Acquire::Retries=3 --no-install-recommends build-dep $inside && apt-get clean")
mount --bind "$archives" "$root/var/cache/apt/archives"
if ! in_chroot >"$out/build-dep.log" 2>&1; then
    umount "$root/var/cache/apt/archives"
    tail -n 30 "$out/build-dep.log"
    # Unstable is where packages change every day: what it cannot install
    # today is no fault of the tree.
    if [ "$release" = unstable ] && grep -q -E 'unmet dependencies|Unable to satisfy' "$out/build-dep.log"; then
        echo "buildd: unstable cannot install the Build-Depends today"
        exit 77
    fi
    exit 1
fi
umount "$root/var/cache/apt/archives"

echo "buildd: dpkg-buildpackage -us -uc, as builder, without network"
started=$SECONDS
command=(chroot --userspec=builder:builder / env -i HOME=/home/builder PATH=/usr/bin:/bin LANG=C.UTF-8
    "${environment[@]}" sh -c "umask $umask && cd $inside && dpkg-buildpackage -us -uc")
if ! in_chroot --net >"$out/buildd.log" 2>&1; then
    # Tests run side by side, so a failed check can lie far above the tail.
    grep -E -A1 'FAIL!  :' "$out/buildd.log" | head -n 40 || true
    tail -n 80 "$out/buildd.log"
    exit 1
fi
echo "buildd: built in $((SECONDS - started)) s"
find "$root$(dirname "$inside")" -maxdepth 1 -type f -exec cp {} "$out" \;
# Where the build tree stays, for a look at what the build made.
echo "$root$inside" >"$out/buildd.tree"

if [ "$lintian" = yes ]; then
    echo "buildd: $release's lintian"
    command=(sh -c "apt-get -q -y -o Acquire::Retries=3 --no-install-recommends install lintian >/dev/null &&
        cd '$(dirname "$inside")' && su builder -c 'lintian --fail-on error,warning --display-info --pedantic *.changes'")
    mount --bind "$archives" "$root/var/cache/apt/archives"
    status=0
    in_chroot >"$out/lintian.log" 2>&1 || status=$?
    umount "$root/var/cache/apt/archives"
    cat "$out/lintian.log"
    ((status == 0)) || { echo "buildd: lintian failed"; exit 1; }
fi

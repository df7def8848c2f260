#!/usr/bin/env bash
# Builds a Debian source tree the way Debian's build daemons do: in a clean
# bookworm chroot holding only build-essential and the tree's Build-Depends
# (apt-get build-dep), as an ordinary user, with the network cut, so that
# nothing of this machine (its packages, services, users, PAM files or log)
# takes part. The chroot's base comes from a cache that lasts a day; a
# second build in the same ROOT takes another path inside it.
#   buildd.sh ROOT SOURCE-DIR OUTPUT-DIR [NAME=VALUE...]
# The NAME=VALUE pairs go into the build's environment (DEB_BUILD_OPTIONS,
# TZ, LANG…), but UMASK sets the build's umask and a LOCPATH names a
# folder of this machine whose locales the build gets. dpkg-buildpackage -us -uc builds the source and the binaries;
# they land in OUTPUT-DIR, the log in OUTPUT-DIR/buildd.log, and the path
# of the built tree in OUTPUT-DIR/buildd.tree.
set -euo pipefail

root=$1
source_dir=$(cd "$2" && pwd)
out=$3
shift 3

mirror=http://deb.debian.org/debian
cache=${TALLIX_BUILDD_CACHE:-/var/cache/tallix-build}
base=$cache/bookworm-buildd.tar
archives=$cache/archives

if [ "$(id -u)" -ne 0 ]; then
    echo "buildd: needs root, for the chroot"
    exit 77
fi

mkdir -p "$cache" "$archives/partial" "$out"
if [ -z "$(find "$base" -mmin -1440 2>/dev/null)" ]; then
    echo "buildd: a fresh bookworm buildd chroot"
    mmdebstrap --quiet --variant=buildd --aptopt='Acquire::Retries "3"' \
        --customize-hook='chroot "$1" useradd --create-home --shell /bin/sh builder' \
        bookworm "$cache/new.tar" "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
        "deb $mirror-security bookworm-security main"
    mv "$cache/new.tar" "$base"
fi
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
environment=()
umask=0022
for pair in "$@"; do
    if [[ $pair == UMASK=* ]]; then
        umask=${pair#UMASK=}
        continue
    elif [[ $pair == LOCPATH=* ]]; then
        cp -a "${pair#LOCPATH=}" "$root$(dirname "$inside")/locale"
        pair=LOCPATH=$(dirname "$inside")/locale
    fi
    environment+=("$pair")
done
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

echo "buildd: the Build-Depends of $name"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# A mirror that stumbles once is asked again.
command=(sh -c "apt-get -q -o Acquire::Retries=3 update && apt-get -q -y -o Acquire::Retries=3 upgrade &&
    apt-get -q -y -o Acquire::Retries=3 --no-install-recommends build-dep $inside && apt-get clean")
mount --bind "$archives" "$root/var/cache/apt/archives"
in_chroot >"$out/build-dep.log" 2>&1 || { umount "$root/var/cache/apt/archives"; tail -n 30 "$out/build-dep.log"; exit 1; }
umount "$root/var/cache/apt/archives"

echo "buildd: dpkg-buildpackage -us -uc, as builder, without network"
started=$SECONDS
command=(chroot --userspec=builder:builder / env -i HOME=/home/builder PATH=/usr/bin:/bin LANG=C.UTF-8
    "${environment[@]}" sh -c "umask $umask && cd $inside && dpkg-buildpackage -us -uc")
if ! in_chroot --net >"$out/buildd.log" 2>&1; then
    tail -n 80 "$out/buildd.log"
    exit 1
fi
echo "buildd: built in $((SECONDS - started)) s"
find "$root$(dirname "$inside")" -maxdepth 1 -type f -exec cp {} "$out" \;
# Where the build tree stays, for a look at what the build made.
echo "$root$inside" >"$out/buildd.tree"

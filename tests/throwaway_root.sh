#!/usr/bin/env bash
# Runs a command as root in a throwaway copy of this machine: an overlay of
# / in a mount namespace of its own, so that installing packages, adding
# users or changing /etc/pam.d there leaves the machine itself untouched.
# Usage: throwaway_root.sh COMMAND [ARGUMENT...]
set -eu

if [ "${1:-}" = --inside ]; then
    work=$2
    shift 2
    mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$work/root"
    mount --rbind /dev "$work/root/dev"
    mount -t proc proc "$work/root/proc"
    mount -t tmpfs tmpfs "$work/root/run"
    exec chroot "$work/root" "$@"
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "throwaway_root: needs root"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/upper" "$work/work" "$work/root"
unshare --mount --propagation private "$0" --inside "$work" "$@"

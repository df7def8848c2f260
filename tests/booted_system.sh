#!/usr/bin/env bash
# A throwaway copy of this machine with systemd booted as its PID 1, for the
# tests that need the real service, logind and the journal: an overlay of /
# in PID, mount and network namespaces of its own, so that nothing done there (users,
# packages, units, PAM files) reaches the machine itself.
#   booted_system.sh boot STATE PACKAGE-DIR [desktop] [BASE]
#                                     boots, installs PACKAGE-DIR's tallix-record.deb
#                                     and tallix.deb, notes the system in STATE;
#                                     desktop: for a display manager (see desktop_root);
#                                     BASE: another release's root (see release_root.sh)
#                                     in place of this machine's /
#   booted_system.sh run STATE CMD…   runs CMD as root inside
#   booted_system.sh halt STATE       ends it all
set -eu

action=$1
state=$2
shift 2

# A display manager switches VTs, so it gets a /dev of its own with only the
# VTs and the basic nodes, and no getty, autovt or udev to take them: the
# kernel's VTs, but none of the machine's other devices. LightDM's own
# settings come with the test that starts it.
desktop_root() {
    local root=$1 node unit
    mount -t tmpfs -o mode=755,nosuid tmpfs "$root/dev"
    for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
        IFS=: read -r node major minor <<<"$node"
        mknod -m 666 "$root/dev/$node" c "$major" "$minor"
    done
    for node in $(seq 0 12); do mknod -m 620 "$root/dev/tty$node" c 4 "$node"; done
    mkdir "$root/dev/pts" "$root/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts "$root/dev/pts"
    ln -s pts/ptmx "$root/dev/ptmx"
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
    ln -s /proc/self/fd "$root/dev/fd"
    for unit in getty@ autovt@ serial-getty@ console-getty systemd-udevd systemd-udev-trigger systemd-udev-settle; do
        ln -sfn /dev/null "$root/etc/systemd/system/$unit.service"
    done
    for unit in systemd-udevd-control systemd-udevd-kernel; do
        ln -sfn /dev/null "$root/etc/systemd/system/$unit.socket"
    done
    # logind would hold VTs for gettys that are gone.
    mkdir -p "$root/etc/systemd/logind.conf.d"
    printf '[Login]\nNAutoVTs=0\nReserveVT=0\n' >"$root/etc/systemd/logind.conf.d/tallix-desktop.conf"
}

inside_root() {
    local work=$1 mode=$2 base=$3 shared
    mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/work" "$work/root"
    # Another release sees the checkout under test, and its build, where
    # this machine does.
    if [ "$base" != / ]; then
        while read -r shared; do
            mkdir -p "$work/root$shared"
            mount --rbind -o ro "$shared" "$work/root$shared"
        done <"$work/shared"
    fi
    if [ "$mode" = desktop ]; then
        desktop_root "$work/root"
    else
        mount --rbind /dev "$work/root/dev"
    fi
    mount -t proc proc "$work/root/proc"
    mount -t tmpfs tmpfs "$work/root/run"
    # A machine that can suspend but never sleeps: logind and systemd-sleep
    # take their whole path to a wake, and the write of "mem" lands here.
    mount -t sysfs sysfs "$work/root/sys"
    mount -t tmpfs -o size=64k,mode=0755 tmpfs "$work/root/sys/power"
    echo "freeze mem" >"$work/root/sys/power/state"
    # What the tests that add users and packages check before they do.
    touch "$work/root/etc/tallix-throwaway-root"
    # Booting empties /tmp, where the checkout under test may lie.
    mkdir -p "$work/root/etc/tmpfiles.d"
    ln -sfn /dev/null "$work/root/etc/tmpfiles.d/tmp.conf"
    # Debian 13 mounts a tmpfs on it, over the checkout's bind.
    ln -sfn /dev/null "$work/root/etc/systemd/system/tmp.mount"
    # A network of its own: a test may listen on its loopback.
    ip link set lo up
    # pivot_root rather than chroot: the kernel lets nobody in a chroot make
    # a user namespace, and the tests attack the service with subordinate uids.
    mkdir -p "$work/root/run/old-root"
    cd "$work/root"
    pivot_root . run/old-root
    umount -l /run/old-root
    rmdir /run/old-root
    exec env -i container=other PATH=/usr/sbin:/usr/bin:/sbin:/bin /lib/systemd/systemd --system
}

pid() { cat "$state/pid"; }
# The overlay's own folders lie outside every tree the tests read: the
# overlay shows the folders above its upper layer only in part.
layers() { cat "$state/layers"; }
inside() { nsenter -t "$(pid)" -m -p -n -r -w "$@"; }

if [ "$(id -u)" -ne 0 ]; then
    echo "booted_system: needs root"
    exit 77
fi

case "$action" in
--inside)
    inside_root "$state" "$@"
    ;;
boot)
    packages=$(cd "$1" && pwd)
    mode=${2:-}
    base=${3:-/}
    [ -s "$state/pid" ] && kill -KILL "$(pid)" 2>/dev/null
    [ -s "$state/layers" ] && rm -rf "$(layers)"
    rm -rf "$state"
    mkdir -p "$state"
    mktemp -d /var/tmp/tallix-booted.XXXXXX >"$state/layers"
    mkdir -p "$(layers)/upper" "$(layers)/work" "$(layers)/root"
    (cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd) >"$(layers)/shared"
    case $packages in "$(head -n 1 "$(layers)/shared")"/*) ;; *) echo "$packages" >>"$(layers)/shared" ;; esac
    # A display manager switches the machine's VTs: halt gives back this one.
    if [ "$mode" = desktop ]; then cat /sys/class/tty/tty0/active >"$state/vt"; fi
    setsid unshare --pid --fork --mount --net --propagation private "$0" --inside "$(layers)" "$mode" "$base" \
        </dev/null >"$state/console.log" 2>&1 &
    unshare=$!
    # unshare's child becomes systemd, PID 1 of the new namespace.
    for _ in $(seq 100); do
        sleep 0.3
        systemd=$(pgrep -P "$unshare") || continue
        [ "$(cat "/proc/$systemd/comm" 2>/dev/null)" = systemd ] || continue
        echo "$systemd" >"$state/pid"
        break
    done
    [ -s "$state/pid" ] || { echo "booted_system: systemd did not start"; cat "$state/console.log"; exit 1; }
    for _ in $(seq 120); do
        status=$(inside systemctl is-system-running 2>/dev/null) || true
        case "$status" in running | degraded) break ;; esac
        sleep 0.5
    done
    echo "booted_system: $status in $SECONDS s"
    case "$status" in running | degraded) ;; *) exit 1 ;; esac
    # A machine image may forbid starting services from maintainer scripts.
    inside rm -f /usr/sbin/policy-rc.d
    inside dpkg -i "$packages/tallix-record.deb" "$packages/tallix.deb" >"$state/dpkg.log" 2>&1 || { cat "$state/dpkg.log"; exit 1; }
    inside systemctl is-active --quiet tallix-record.socket || { echo "booted_system: the socket is not active"; exit 1; }
    ;;
run)
    inside "$@"
    ;;
halt)
    [ -s "$state/pid" ] && kill -KILL "$(pid)" 2>/dev/null
    sleep 0.5
    if [ -s "$state/vt" ]; then
        python3 -c 'import fcntl, os, sys
tty0 = os.open("/dev/tty0", os.O_RDONLY | os.O_NOCTTY)
for request in 0x5606, 0x5607:  # VT_ACTIVATE, VT_WAITACTIVE
    fcntl.ioctl(tty0, request, int(sys.argv[1].removeprefix("tty")))' "$(cat "$state/vt")"
    fi
    [ -s "$state/layers" ] && rm -rf "$(layers)"
    rm -rf "$state"
    ;;
esac

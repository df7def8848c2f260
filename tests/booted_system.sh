#!/usr/bin/env bash
# A throwaway copy of this machine with systemd booted as its PID 1, for the
# tests that need the real service, logind and the journal: an overlay of /
# in PID, mount and network namespaces of its own, so that nothing done there (users,
# packages, units, PAM files) reaches the machine itself.
#   booted_system.sh boot STATE PACKAGE-DIR [desktop KERNEL | "" BASE]
#                                     boots, installs PACKAGE-DIR's tallix-record.deb
#                                     and tallix.deb, notes the system in STATE;
#                                     desktop: for a display manager, a virtual
#                                     machine with KERNEL's kernel (see guest.sh);
#                                     BASE: another release's root (see release_root.sh)
#                                     in place of this machine's /
#   booted_system.sh run STATE CMD…   runs CMD as root inside
#   booted_system.sh halt STATE       ends it all
set -eu

action=$1
state=$2
shift 2
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$tests/booted_root.sh"

inside_root() {
    local work=$1 base=$2 shared
    mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/work" "$work/root"
    # Another release sees the checkout under test, and its build, where
    # this machine does.
    if [ "$base" != / ]; then
        while read -r shared; do
            mkdir -p "$work/root$shared"
            mount --rbind -o ro "$shared" "$work/root$shared"
        done <"$work/shared"
    fi
    # The machine's /dev, but not its console or VTs: PID 1 and the console's
    # password agent write to a /dev/console that leads nowhere, no getty
    # takes a VT, and logind neither holds one in reserve nor starts gettys.
    mount --rbind /dev "$work/root/dev"
    if [ -e "$work/root/dev/console" ]; then mount --bind /dev/null "$work/root/dev/console"; fi
    for unit in getty@.service autovt@.service serial-getty@.service console-getty.service \
        container-getty@.service systemd-ask-password-console.path; do
        ln -sfn /dev/null "$work/root/etc/systemd/system/$unit"
    done
    mkdir -p "$work/root/etc/systemd/logind.conf.d"
    printf '[Login]\nNAutoVTs=0\nReserveVT=0\n' >"$work/root/etc/systemd/logind.conf.d/tallix-no-vt.conf"
    mount -t proc proc "$work/root/proc"
    mount -t tmpfs tmpfs "$work/root/run"
    booted_root "$work/root"
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
inside() {
    if [ -e "$state/guest" ]; then
        bash "$tests/guest.sh" run "$state" "$@"
    else
        nsenter -t "$(pid)" -m -p -n -r -w "$@"
    fi
}
# The processes of a container that hold the machine's console (5:1) or
# one of its VTs (major 4 in hex, as stat tells it), on one line, each
# with what it holds once; a virtual machine has its own.
machine_ttys_held() {
    local ns process fd
    [ -s "$state/pid" ] && [ ! -e "$state/guest" ] || return 0
    ns=$(readlink "/proc/$(pid)/ns/pid") || return 0
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/ns/pid" 2>/dev/null)" = "$ns" ] || continue
        for fd in "$process"/fd/*; do
            case $(stat -L -c '%F %t:%T' "$fd" 2>/dev/null) in
            "character special file 4:"* | "character special file 5:1")
                echo "$(cat "$process/comm" 2>/dev/null) on $(readlink "$fd")"
                ;;
            esac
        done
    done | sort -u | paste -sd ','
}

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
    # What an interrupted run left: its machine may be gone already.
    if [ -s "$state/pid" ]; then kill -KILL "$(pid)" 2>/dev/null || true; fi
    [ -s "$state/layers" ] && rm -rf "$(layers)"
    rm -rf "$state"
    mkdir -p "$state"
    if [ "$mode" = desktop ]; then
        # A display manager switches VTs, which only a kernel of its own keeps
        # from the machine's.
        bash "$tests/guest.sh" start "$state" "$3" || exit 1
    else
        base=${3:-/}
        mktemp -d /var/tmp/tallix-booted.XXXXXX >"$state/layers"
        mkdir -p "$(layers)/upper" "$(layers)/work" "$(layers)/root"
        dirname "$tests" >"$(layers)/shared"
        case $packages in "$(head -n 1 "$(layers)/shared")"/*) ;; *) echo "$packages" >>"$(layers)/shared" ;; esac
        setsid unshare --pid --fork --mount --net --propagation private "$0" --inside "$(layers)" "$base" \
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
    fi
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
    held=$(machine_ttys_held)
    [ -z "$held" ] || { echo "booted_system: the machine's console or VTs held inside: $held"; exit 1; }
    ;;
run)
    inside "$@"
    ;;
halt)
    held=$(machine_ttys_held)
    # Its machine may have ended already.
    if [ -s "$state/pid" ]; then kill -KILL "$(pid)" 2>/dev/null || true; fi
    sleep 0.5
    [ -s "$state/layers" ] && rm -rf "$(layers)"
    rm -rf "$state"
    [ -z "$held" ] || { echo "booted_system: the machine's console or VTs held inside at the end: $held"; exit 1; }
    ;;
esac

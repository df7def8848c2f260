# Sourced, by booted_system.sh's containers and by guest.sh's first process
# (busybox sh): what makes ROOT, before its systemd starts, a throwaway
# system the tests may boot and change.
booted_root() {
    # A machine that can suspend but never sleeps: logind and systemd-sleep
    # take their whole path to a wake, and the write of "mem" lands here.
    mount -t sysfs sysfs "$1/sys"
    mount -t tmpfs -o size=64k,mode=0755 tmpfs "$1/sys/power"
    echo "freeze mem" >"$1/sys/power/state"
    # What the tests that add users and packages check before they do.
    touch "$1/etc/tallix-throwaway-root"
    # Booting empties /tmp, where the checkout under test may lie.
    mkdir -p "$1/etc/tmpfiles.d"
    ln -sfn /dev/null "$1/etc/tmpfiles.d/tmp.conf"
    # Debian 13 mounts a tmpfs on it, over the checkout's bind.
    ln -sfn /dev/null "$1/etc/systemd/system/tmp.mount"
}

#!/usr/bin/env bash
# A virtual machine for the booted systems whose display manager switches
# VTs: the kernel has one set of VTs and no namespace for them, so only a
# kernel of its own keeps the machine's console out of the test. Like the
# containers of booted_system.sh, its root is this machine's / (read-only,
# over 9p) under a layer of its own in memory, and systemd is its PID 1.
# Commands reach it through a folder both sides share.
#   guest.sh kernel DIR [APT-OPTION…]
#                                  fetches this release's kernel into DIR, with
#                                  an initramfs that mounts that root
#   guest.sh start STATE DIR       boots the kernel in DIR, noting it in STATE
#                                  (its process in STATE/pid)
#   guest.sh run STATE CMD…        runs CMD as root inside, with its status
#   guest.sh serve CHANNEL         (inside) runs what arrives in CHANNEL
set -eu
source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

# What the initramfs loads to reach the root.
modules=(virtio_pci 9pnet_virtio 9p overlay)

# Debian's kernel of this machine's release and its initramfs, made again
# only when the release has a newer one.
kernel() {
    local dir=$1 package version work release tree init
    shift
    init=$(dirname "${BASH_SOURCE[0]}")/guest-init
    package=$(apt-cache "$@" depends linux-image-amd64 | awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }')
    version=$(apt-cache "$@" policy "$package" | awk '$1 == "Candidate:" { print $2 }')
    [ -n "$package" ] && [ -n "$version" ] || { echo "guest: no kernel in the package lists"; return 1; }
    # The initramfs is made again when its first process changes too.
    version="$version $(sha256sum <"$init" | cut -c 1-16)"
    if [ "$(cat "$dir/version" 2>/dev/null)" = "$package $version" ]; then
        echo "guest: $package $version"
        return
    fi
    release=${package#linux-image-}
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    # apt's own user cannot write to a folder of root's: no sandbox, no warning.
    (cd "$work" && apt-get download -q "$@" -o APT::Sandbox::User=root "$package" >/dev/null)
    dpkg-deb -x "$work"/*.deb "$work/package"
    tree=$(find "$work/package" -type d -path "*/modules/$release" | head -n 1)
    busybox depmod -b "${tree%/lib/modules/*}" "$release"
    mkdir -p "$work/initrd/bin" "$work/initrd/lib/modules/$release" "$work/initrd/proc" "$work/initrd/sys" "$work/initrd/dev"
    cp /bin/busybox "$work/initrd/bin/"
    cp "$init" "$work/initrd/init"
    # Each module with all it needs, as modules.dep lists them.
    local wanted=" ${modules[*]} " file
    awk -v wanted="$wanted" '{
        name = $1; sub(/:$/, "", name); sub(/.*\//, "", name); sub(/\.ko(\.[a-z]+)?$/, "", name)
        if (index(wanted, " " name " ")) for (i = 1; i <= NF; i++) { f = $i; sub(/:$/, "", f); print f }
    }' "$tree/modules.dep" | sort -u | while read -r file; do
        mkdir -p "$(dirname "$work/initrd/lib/modules/$release/$file")"
        cp "$tree/$file" "$work/initrd/lib/modules/$release/$file"
    done
    # busybox loads modules as they are, not compressed.
    find "$work/initrd/lib/modules" -name '*.ko.xz' -exec xz -d {} +
    busybox depmod -b "$work/initrd" "$release"
    mkdir -p "$dir"
    (cd "$work/initrd" && find . | LC_ALL=C sort | busybox cpio -o -H newc 2>/dev/null) | gzip -9n >"$dir/initrd.img"
    cp "$(find "$work/package/boot" -name 'vmlinuz-*' | head -n 1)" "$dir/vmlinuz"
    echo "$package $version" >"$dir/version"
    echo "guest: fetched $package $version"
}

# KVM where the processor offers it to a stock kernel; a nested hypervisor
# that runs only kernels made for it does not.
accelerator() {
    if [ -w /dev/kvm ] && grep -qw -e vmx -e svm /proc/cpuinfo; then
        echo "-accel kvm -cpu host"
    else
        echo "-accel tcg,thread=multi -cpu max"
    fi
}

start() {
    local state=$1 dir=$2
    mkdir -p "$state/channel"
    # systemd's messages and the kernel's go to the console log; the
    # guest's memory holds what it writes, its packages among them.
    setsid qemu-system-x86_64 $(accelerator) -smp "$(nproc)" -m 8G \
        -nodefaults -no-user-config -display none -vga none -nic none -no-reboot \
        -serial "file:$state/console.log" \
        -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img" \
        -append "console=ttyS0 panic=-1 quiet systemd.unit=multi-user.target tallix.channel=$state/channel tallix.serve=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/guest.sh" \
        -virtfs "local,path=/,mount_tag=host,security_model=passthrough,readonly=on,multidevs=remap" \
        -virtfs "local,path=$state/channel,mount_tag=channel,security_model=passthrough" \
        </dev/null >"$state/qemu.log" 2>&1 &
    echo $! >"$state/pid"
    touch "$state/guest"
    up() { [ -e "$state/channel/ready" ] || ! kill -0 "$(cat "$state/pid")" 2>/dev/null; }
    within 300 up && [ -e "$state/channel/ready" ] || {
        echo "guest: the machine did not come up"
        cat "$state/qemu.log"
        tail -n 40 "$state/console.log"
        return 1
    }
}

# A command is a script in CHANNEL; the guest runs it and writes its output
# and then its status beside it.
run() {
    local state=$1 request printed=0 size finished
    shift
    request=$(mktemp "$state/channel/XXXXXX")
    printf '%q ' "$@" >"$request"
    mv "$request" "$request.command"
    # The output as it comes, so that a test stopped at its time limit
    # shows how far it went.
    while :; do
        finished=no
        [ -e "$request.status" ] && finished=yes
        size=$(stat -c %s "$request.out" 2>/dev/null || echo 0)
        if ((size > printed)); then
            tail -c "+$((printed + 1))" "$request.out" | head -c "$((size - printed))"
            printed=$size
        fi
        [ $finished = no ] || return "$(cat "$request.status")"
        kill -0 "$(cat "$state/pid")" 2>/dev/null || { echo "guest: the machine is gone"; tail -n 40 "$state/console.log"; return 1; }
        sleep 0.2
    done
}

serve() {
    local channel=$1 command request
    cd "$channel"
    touch ready
    while :; do
        for command in *.command; do
            [ -e "$command" ] || continue
            request=${command%.command}
            mv "$command" "$request.running"
            (
                status=0
                bash "$request.running" </dev/null >"$request.out" 2>&1 || status=$?
                echo "$status" >"$request.status.new"
                mv "$request.status.new" "$request.status"
            ) &
        done
        sleep 0.1
    done
}

action=$1
shift
case $action in
kernel | start | run | serve) "$action" "$@" ;;
*)
    echo "guest: no action $action"
    exit 2
    ;;
esac

# Sourced by buildd.sh and release_root.sh: the root of a Debian release
# from mmdebstrap, kept as a tar for a day.
#   debian_base TAR RELEASE MMDEBSTRAP-OPTION...
debian_base() {
    local tar=$1 release=$2 mirror=http://deb.debian.org/debian
    shift 2
    [ -n "$(find "$tar" -mmin -1440 2>/dev/null)" ] && return 0
    local sources=("deb $mirror $release main") options=(--aptopt='Acquire::Retries "3"')
    if [ "$release" = unstable ]; then
        # Unstable's Release file is valid for a week only, and a mirror may
        # lag behind it by more: what matters here is what it builds with.
        options+=(--aptopt='Acquire::Check-Valid-Until "false"')
    else
        sources+=("deb $mirror $release-updates main" "deb $mirror-security $release-security main")
    fi
    echo "a fresh $release root in $tar"
    mkdir -p "$(dirname "$tar")"
    mmdebstrap --quiet "${options[@]}" "$@" "$release" "${tar%.tar}.new.tar" "${sources[@]}"
    mv "${tar%.tar}.new.tar" "$tar"
}

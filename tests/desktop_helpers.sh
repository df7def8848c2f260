# Sourced by the desktop tests after helpers.sh (whose within they use), inside a desktop boot of
# booted_system.sh: LightDM on Xvfb logging a test user in, logind's view of
# seat0, and the log's and the journal's accesses. The test sets log, user,
# password and recorded_id first.

records() { grep -c '' "$log"; }
at_least() { [ "$(records)" -ge "$1" ]; }
# The records added since BEFORE: waits up to SECONDS for at least
# EXPECTED, then a moment more for any that should not come.
added_since() {
    local before=$1 expected=$2 seconds=$3
    within "$seconds" at_least $((before + expected))
    sleep 2
    echo $(($(records) - before))
}
# The journal's accesses of the user since mark_journal.
accesses_told() { journalctl -q MESSAGE_ID=$recorded_id TALLIX_USER="$user" | wc -l; }
mark_journal() { told_before=$(accesses_told); }
told() { echo $(($(accesses_told) - told_before)); }
newest_field() {
    journalctl -q -o export MESSAGE_ID=$recorded_id TALLIX_USER="$user" -n 1 | sed -n "s/^$1=//p"
}
newest_source() { newest_field TALLIX_SOURCE; }

# logind's view of seat0.
active_session() { loginctl show-seat seat0 -P ActiveSession 2>/dev/null; }
session_property() { loginctl show-session "$1" -P "$2" 2>/dev/null; }
user_active() {
    local session
    session=$(active_session)
    [ -n "$session" ] && [ "$(session_property "$session" Class)" = user ] &&
        [ "$(session_property "$session" Name)" = "$user" ]
}
sessions() {
    local session
    for session in $(loginctl list-sessions --no-legend | awk '{print $1}'); do
        echo "  $(loginctl show-session "$session" -p Id -p Name -p Class -p Type -p Service -p State -p Active \
            -p LockedHint -p VTNr -p Display | tr '\n' ' ')"
    done
}

# The user's own programs, in the user's desktop session.
as_user() {
    runuser -u "$user" -- env DISPLAY="$(session_property "$(active_session)" Display)" \
        DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$(id -u "$user")/bus" "$@"
}

# Installs packages from CACHE, filled by desktop_packages.sh, and never
# from the network.
install_from() {
    local cache=$1
    shift
    DEBIAN_FRONTEND=noninteractive apt-get install -q -y --no-download --no-install-recommends \
        -o Dir::Cache::archives="$cache/archives" -o Dir::State::Lists="$cache/lists" "$@" >>/tmp/desktop-install.log 2>&1 ||
        { tail -n 30 /tmp/desktop-install.log; return 1; }
}
# The packages of a group that desktop_packages.sh wrote in CACHE/groups.
group_packages() { awk -v group="$2" '$1 == group { $1 = ""; print }' "$1/groups"; }

# The test user, with a password, and LightDM on Xvfb, which logs the user
# in on its own into SESSION (the name of its file in /usr/share/xsessions)
# each time it starts.
set_up_lightdm() {
    local session=$1
    id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user" || return 1
    echo "$user:$password" | chpasswd || return 1
    # Xvfb for Xorg: LightDM names the VT it switches to, which Xvfb has no use for.
    cat >/usr/local/sbin/tallix-xvfb <<'EOF'
#!/bin/sh
for argument; do
    shift
    case $argument in
    vt[0-9]* | -novtswitch) ;;
    *) set -- "$@" "$argument" ;;
    esac
done
exec Xvfb "$@" -screen 0 1024x768x24
EOF
    chmod 755 /usr/local/sbin/tallix-xvfb
    autologin_session "$session"
}
autologin_session() {
    # Without udev logind sees no graphics card on seat0.
    mkdir -p /etc/lightdm/lightdm.conf.d
    cat >/etc/lightdm/lightdm.conf.d/tallix-test.conf <<EOF
[LightDM]
logind-check-graphical=false
[Seat:*]
xserver-command=/usr/local/sbin/tallix-xvfb
autologin-user=$user
autologin-session=$1
user-session=$1
EOF
}

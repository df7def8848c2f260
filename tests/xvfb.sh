# Sourced by the end-to-end tests after helpers.sh: start_xvfb WORK-DIR
# starts an X server of the test's own, without a window manager, and sets
# xvfb to its process and x_display to its name (":N").
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" 2>"$1/xvfb.log" &
    xvfb=$!
    for _ in $(seq 100); do
        [ -s "$1/display" ] && break
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    [ -s "$1/display" ] || give_up "Xvfb did not start: $(cat "$1/xvfb.log")"
    x_display=:$(head -n 1 "$1/display")
}

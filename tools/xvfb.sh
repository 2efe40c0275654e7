# Sourced: start_xvfb starts an Xvfb screen on a free display number, sets
# DISPLAY and XVFB_PID, and returns non-zero when none could be started.
start_xvfb() {
    local n
    XVFB_PID=
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do
            LC_ALL=C xdpyinfo >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    done
    return 1
}

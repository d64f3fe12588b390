# Sourced by the screenshot scripts: a private X display with the openbox window manager, so
# that windows get the frames and captions a user sees.
#   start_desktop WORK WIDTHxHEIGHT
# starts Xvfb on a free display (its log and openbox's in WORK), exports DISPLAY, starts openbox
# and waits until it manages the screen. Both process ids are added to the caller's array
# `pids`, which its clean-up stops.
start_desktop() {
    local work="$1" size="$2"
    # Xvfb writes its display number once it is ready.
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$work/display")"
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    # A window mapped before the window manager has taken over may stay unmapped: wait for it.
    for _ in $(seq 50); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
}

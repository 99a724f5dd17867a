# Sourced by scripts/test-windows and scripts/bench-windows: a fresh, quiet
# 64-bit Wine prefix in a folder of the caller's, with one persistent Wine
# server, on an X display of its own (Xvfb), so that window programs run.
#
#   wine_session_start WORK_DIR   sets WINEPREFIX, DISPLAY, wine (the loader)
#   wine_session_stop             ends the Wine server and Xvfb

wine_session_start() {
    local work=$1
    export WINEPREFIX=$work/prefix
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    wine=/usr/lib/wine/wine64
    [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

    # Xvfb picks a free display number and says which.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    wine_session_xvfb=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.05
    done
    if [ ! -s "$work/display" ]; then
        echo "wine-session: Xvfb did not start" >&2
        cat "$work/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=:$(head -n1 "$work/display")

    # One persistent server for the whole run: without it every program would
    # wait for Wine's start-up, and the volatile registry keys (the serial-
    # port map) would be lost between programs.
    mkdir -p "$WINEPREFIX"
    wineserver -p
    "$wine" wineboot -i >/dev/null 2>&1
    # Debian's Wine 8 looks for its own fonts (Tahoma, MS Sans Serif, and the
    # Marlett symbols of the window frame's buttons) only in the prefix's
    # Fonts folder; and with no window manager on the display, Wine draws the
    # frames itself.
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
}

wine_session_stop() {
    wineserver -k 2>/dev/null || true
    if [ -n "${wine_session_xvfb:-}" ]; then
        kill "$wine_session_xvfb" 2>/dev/null || true
        wine_session_xvfb=
    fi
}

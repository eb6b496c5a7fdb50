# Sourced by the Wine runner and the test script: the environment of the test prefix and the steps
# that create it, warm its server up and stop it. WINE_TEST_PREFIX names the prefix folder.
#
# The server is started once, detached from every pipe, before any test runs: the first Wine
# process of a session hands its output pipe to the server and the helper processes it starts, and
# CTest would then wait for that pipe until its time-out.

# Wine's commands run without address-space randomisation: wine-fixed/wine says why.
PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-fixed:$PATH"
export PATH
export WINEPREFIX="$WINE_TEST_PREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C
unset DISPLAY

wine_prefix_create() {
    [ -f "$WINEPREFIX/.ci-ready" ] && return 0
    mkdir -p "$WINEPREFIX"
    local reg="$WINEPREFIX/../wine-ci.reg"
    cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
    wineboot -i </dev/null >/dev/null 2>&1
    wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1
    # The graphics driver is read when the server starts: restart it with the settings above.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.ci-ready"
}

# Starts a persistent server and the prefix's services if none is running. `wineserver -p` exits
# with status 0 when it became the server and at once with another status when one is running.
wine_server_warm() {
    if wineserver -p </dev/null >/dev/null 2>&1; then
        wineboot </dev/null >/dev/null 2>&1
    fi
}

wine_server_stop() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}

# Creates the prefix and warms the server, once, however many runners start at the same time.
# The lock's descriptor is closed for the Wine processes started under it: the server would
# otherwise inherit it and hold the lock for as long as it lives.
wine_ready() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        {
            wine_prefix_create
            wine_server_warm
        } 9>&-
    ) 9>"$WINEPREFIX.lock"
}

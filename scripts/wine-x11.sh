# Sourced by the run and show scripts: a Wine prefix that draws with the X11 driver, made as a copy
# of the build's test prefix (which the test environment creates without prompts) with the graphics
# driver switched. X11_PREFIX names the copy, X11_MANAGED is Y (windows are managed by the
# desktop's window manager) or N (Wine places and decorates them itself, for a bare X server).
#
# The driver is read when the prefix's server starts, so the copy is edited while no server of its
# own runs: it has none until the first program starts in it.

# Wine's commands run without address-space randomisation: cmake/wine-fixed/wine says why.
PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")/../cmake" && pwd)/wine-fixed:$PATH"
export PATH

x11_prefix_create() {
    local build_dir=$1
    [ -f "$X11_PREFIX/.x11-ready" ] && return 0
    (
        export WINE_TEST_PREFIX="$build_dir/wine/prefix"
        . "$(dirname "${BASH_SOURCE[0]}")/../cmake/wine-env.sh"
        mkdir -p "$(dirname "$WINEPREFIX")"
        (
            flock 9
            wine_prefix_create 9>&-
        ) 9>"$WINEPREFIX.lock"
    )
    rm -rf "$X11_PREFIX"
    cp -a "$build_dir/wine/prefix" "$X11_PREFIX"
    sed -i -e 's/^"Graphics"="null"/"Graphics"="x11"/' \
        -e "s/^\"Managed\"=\"[YN]\"/\"Managed\"=\"$X11_MANAGED\"/" "$X11_PREFIX/user.reg"
    grep -q '^"Graphics"="x11"' "$X11_PREFIX/user.reg"
    # Wine here does not load the fonts of its own data folder, and the caption's buttons are
    # glyphs of Marlett: without it the close box shows the letter "r". A font in the prefix's
    # Fonts folder is loaded. Only the drawing prefixes get it, so the tests' text metrics stay.
    local marlett=/usr/share/wine/fonts/marlett.ttf
    [ ! -f "$marlett" ] || cp "$marlett" "$X11_PREFIX/drive_c/windows/Fonts/"
    touch "$X11_PREFIX/.x11-ready"
}

# The environment of a Wine program in the copy, on the display $DISPLAY.
x11_prefix_use() {
    export WINEPREFIX="$X11_PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C
}

# Shared by scripts/run, scripts/test and scripts/install: the packages the project needs on
# Debian 12, and a build step that is quick when nothing changed.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

BUILD_PACKAGES=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-qpa-plugins libxcb1-dev mdbtools mdbtools-dev libmdb3 libglib2.0-dev fonts-thai-tlwg
    librsvg2-bin libcanberra-dev libcanberra-pulse sound-theme-freedesktop)
# One line per need, so that adding a package touches one line.
TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev python3
    clang-format                                          # the format check
    locales                                               # a locale made for the date tests
    xvfb openbox trayer xdotool wmctrl imagemagick x11-utils faketime  # the X desktop tests
    dbus xfce4-panel                                      # a StatusNotifierItem panel
    at-spi2-core python3-gi gir1.2-atspi-2.0              # reading windows' accessible state
    sway waybar qt6-wayland                               # the Wayland tests
    desktop-file-utils libglib2.0-bin                     # checking and launching the entries
    xfwm4 xterm pulseaudio pulseaudio-utils               # reminder boxes while typing, heard
    gnome-shell gjs gnome-shell-extension-appindicator foot  # reminders on GNOME Wayland
    lxqt-panel lxqt-notificationd                         # reminders over a fullscreen window
    kwin-wayland plasma-workspace plasma-desktop kded5 qtwayland5 xwayland  # ... on KDE Wayland
    libwayland-dev plasma-wayland-protocols               # typing there (KWin's fake input)
    kwin-x11                                              # reminders on KDE X11
)
# Building the Debian package (scripts/package) and checking it.
PACKAGE_PACKAGES=(
    dpkg-dev debhelper fakeroot                           # dpkg-buildpackage
    lintian appstream                                     # the package's and metainfo's checks
    debootstrap                                           # a clean Debian 12 to install it in
)
DESKTOP_PACKAGES=(python3 xvfb openbox trayer xdotool wmctrl imagemagick x11-utils dbus
    at-spi2-core python3-gi gir1.2-atspi-2.0)

# Installs the named packages that are missing: with apt-get as root or through sudo,
# otherwise names them and stops.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            sudo=(sudo)
        else
            echo "Missing packages: ${missing[*]}" >&2
            echo "Install them with: sudo apt-get install -y ${missing[*]}" >&2
            exit 1
        fi
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build BUILD_DIR [cmake options...] [-- targets...]
# Configures afresh when the options differ from the last configure of BUILD_DIR (a cache
# keeps options that are no longer given), then builds the targets (all when none is named).
configure_and_build() {
    local dir=$1
    shift
    local options=() targets=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        options+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift && targets=("$@")
    set -- "${options[@]}"
    local stamp="$dir/zurodid-configure-options" wanted
    wanted=$(printf '%s\n' "$@")
    if [ ! -f "$dir/CMakeCache.txt" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
        rm -f "$stamp"
        cmake --fresh -S "$ROOT" -B "$dir" "$@"
        printf '%s\n' "$wanted" >"$stamp"
    fi
    if [ ${#targets[@]} -gt 0 ]; then
        cmake --build "$dir" -j "$JOBS" --target "${targets[@]}"
    else
        cmake --build "$dir" -j "$JOBS"
    fi
}

# The release build that scripts/run starts and scripts/install installs.
build_release() {
    configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release \
        -DZURODID_BUILD_TESTS=OFF -DZURODID_BUILD_BENCH=OFF
}

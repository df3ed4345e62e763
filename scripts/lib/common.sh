# Shared by scripts/run and scripts/test: the packages the project needs on Debian 12, and a
# build step that is quick when nothing changed.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

BUILD_PACKAGES=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-qpa-plugins libxcb1-dev mdbtools mdbtools-dev libmdb3 libglib2.0-dev fonts-thai-tlwg
    librsvg2-bin)
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev python3 locales
    xvfb openbox trayer xdotool wmctrl imagemagick x11-utils faketime dbus xfce4-panel
    at-spi2-core python3-gi gir1.2-atspi-2.0 desktop-file-utils libglib2.0-bin)
DESKTOP_PACKAGES=(python3 xvfb openbox trayer xdotool wmctrl imagemagick x11-utils dbus)

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

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$ROOT" -B "$dir" "$@"
    fi
    cmake --build "$dir" -j "$JOBS"
}

# The release build that scripts/run starts and scripts/install installs.
build_release() {
    configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release \
        -DZURODID_BUILD_TESTS=OFF -DZURODID_BUILD_BENCH=OFF
}

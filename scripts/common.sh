# shellcheck shell=bash
# Shared helpers for scripts/run and scripts/test. Source it, do not run it.
#
#   install_deps   installs the Debian 12 packages the build, tests and demo need
#   build          configures ./build (Ninja, RelWithDebInfo) and builds everything
#   start_xvfb     starts a private Xvfb on a free display; sets DISPLAY and XAUTHORITY
#   stop_xvfb      stops the Xvfb that start_xvfb started
#
# LEGISDISCO_BUILD_DIR, when set, names another build folder than ./build.

REPO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${LEGISDISCO_BUILD_DIR:-$REPO_ROOT/build}"

# Everything the build, the tests, the benchmarks and the headless screenshot need.
DEPENDENCIES=(
    build-essential
    cmake
    ninja-build
    qt6-base-dev
    qt6-webengine-dev
    qt6-declarative-dev
    libqt6webenginecore6-bin
    qt6-translations-l10n
    qt6-httpserver-dev
    qt6-websockets-dev
    libzip-dev
    libsodium-dev
    libssl-dev
    minisign
    zlib1g-dev
    libboost-dev
    qt6-pdf-dev
    libgl-dev
    xvfb
    xauth
    imagemagick
    x11-apps
    fonts-dejavu-core
    fonts-liberation
    xdg-utils
    clang-format
    libbenchmark-dev
    libxapian-dev
    libpoppler-cpp-dev
    libsqlite3-dev
    qt6-pdf-dev
    poppler-utils
    pdfgrep
    bc
    time
    unzip
    qpdf
    libqpdf-dev
    at-spi2-core
    python3-pyatspi
)

log() {
    printf '==> %s\n' "$*" >&2
}

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

install_deps() {
    local missing=() pkg
    for pkg in "${DEPENDENCIES[@]}"; do
        is_installed "$pkg" || missing+=("$pkg")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        log "Missing packages: ${missing[*]}"
        log "Install them as root, then run this script again:"
        printf '  sudo apt-get update && sudo apt-get install -y --no-install-recommends %s\n' \
            "${missing[*]}" >&2
        exit 1
    fi
    log "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
}

build() {
    local generator=()
    # Keep whatever generator an existing build folder was made with.
    if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
        generator=(-G Ninja)
    fi
    log "Configuring $BUILD_DIR"
    cmake -S "$REPO_ROOT" -B "$BUILD_DIR" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    log "Building"
    cmake --build "$BUILD_DIR" -j "$(nproc)"

    # Chromium refuses to run its sandbox as root; an ordinary user keeps it.
    if [ "$(id -u)" -eq 0 ]; then
        export QTWEBENGINE_DISABLE_SANDBOX=1
    fi
}

XVFB_PID=
XVFB_DIR=

# start_xvfb [WIDTHxHEIGHTxDEPTH]
start_xvfb() {
    local screen="${1:-1280x800x24}" display cookie
    XVFB_DIR="$(mktemp -d)"
    cookie="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
    for display in $(seq 99 199); do
        if [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; then
            continue
        fi
        : >"$XVFB_DIR/Xauthority"
        xauth -q -f "$XVFB_DIR/Xauthority" add ":$display" . "$cookie"
        Xvfb ":$display" -screen 0 "$screen" -nolisten tcp -auth "$XVFB_DIR/Xauthority" \
            >"$XVFB_DIR/xvfb.log" 2>&1 &
        XVFB_PID=$!
        # Ready once its socket is there; gone if another server took the display first.
        for _ in $(seq 1 100); do
            if ! kill -0 "$XVFB_PID" 2>/dev/null; then
                break
            fi
            if [ -S "/tmp/.X11-unix/X${display}" ]; then
                export DISPLAY=":$display"
                export XAUTHORITY="$XVFB_DIR/Xauthority"
                log "Xvfb running on $DISPLAY ($screen)"
                return 0
            fi
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    done
    log "Could not start Xvfb; its last output:"
    cat "$XVFB_DIR/xvfb.log" >&2 || true
    return 1
}

stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
    if [ -n "$XVFB_DIR" ]; then
        rm -rf "$XVFB_DIR"
        XVFB_DIR=
    fi
}

#!/usr/bin/env bash
# Set-up, build and run entry point of the README:
#   bash scripts/vorlin.sh run    install missing packages, build, start the program
#   bash scripts/vorlin.sh test   install missing packages, build, run the whole test suite
# Extra environment: VORLIN_BUILD_DIR (default build), VORLIN_CMAKE_ARGS (added to cmake).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORLIN_BUILD_DIR:-$root/build}

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-qpa-plugins libgl1-mesa-dev
    libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libswresample-dev libavutil-dev
    ffmpeg googletest libgtest-dev libgmock-dev
    fonts-dejavu-core xvfb xauth
)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build_all() {
    cmake -S "$root" -B "$build" -G Ninja ${VORLIN_CMAKE_ARGS:-}
    cmake --build "$build" -j "$(nproc)"
}

case "${1:-}" in
run)
    install_missing
    build_all
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec "$build/bin/vorlin"
    else
        exec xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/vorlin"
    fi
    ;;
test)
    install_missing
    build_all
    cd "$build"
    exec ctest --output-on-failure -j "$(nproc)" --timeout 600
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac

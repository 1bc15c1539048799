#!/usr/bin/env bash
# Installs the Debian packages Quellora needs, skipping those already present.
# Usage: scripts/deps.sh build|test
set -euo pipefail

build_packages=(
    cmake ninja-build g++ pkg-config
    libfmt-dev nlohmann-json3-dev uuid-dev libsystemd-dev
    libsndfile1-dev libpipewire-0.3-dev qt6-base-dev
    libcurl4-openssl-dev libsodium-dev librsvg2-bin
    libxcb1-dev libxcb-keysyms1-dev
)
test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev clang-format libebur128-dev
    pipewire pipewire-bin wireplumber dbus
    pipewire-pulse pulseaudio-utils pipewire-alsa alsa-utils
    desktop-file-utils appstream dpkg-dev file lintian man-db bash-completion systemd
    xvfb xdotool trayer
    libssl-dev
    clang libfuzzer-14-dev libclang-rt-14-dev
)

case "${1:-build}" in
    build) wanted=("${build_packages[@]}") ;;
    test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
    *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "Quellora needs these Debian packages: ${missing[*]}" >&2
    echo "Run this script as root or install sudo." >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"

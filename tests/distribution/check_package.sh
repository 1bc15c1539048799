#!/usr/bin/env bash
# check_package.sh installed|deb BUILD_FOLDER
#   installed: `cmake --install` of the quellora component into a scratch
#              prefix; exactly the application's files, valid desktop entry
#              and AppStream metadata, an executable that needs no Qt above
#              QtCore and finds its modules where they were installed.
#   deb:       the CPack .deb; its name, dependencies and exactly those files.
set -euo pipefail
mode=$1 build=$2 id=org.quellora.Quellora sizes=(16 22 24 32 48 64 128 256)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
expected=(bin/quellora "$libdir/quellora/quellora-tray.so" "$libdir/quellora/quellora-process.so"
    "share/applications/$id.desktop"
    "share/metainfo/$id.metainfo.xml" share/quellora/update.json
    "share/icons/hicolor/scalable/apps/$id.svg")
for size in "${sizes[@]}"; do expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png"); done

if [[ $mode == installed ]]; then
    cmake --install "$build" --prefix "$scratch" --component quellora >/dev/null
    diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$scratch" && find . -type f -printf '%P\n' | sort)
    for size in "${sizes[@]}"; do
        file "$scratch/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "PNG image data, $size x $size,"
    done
    grep -Eq '^\{"feed": "[^"]*", "publicKey": "[^"]*"\}$' "$scratch/share/quellora/update.json"
    desktop-file-validate "$scratch/share/applications/$id.desktop"
    if readelf -d "$scratch/bin/quellora" | grep -E 'NEEDED.*(Qt6(Gui|Widgets|DBus)|xcb|sndfile)'; then
        echo "the executable itself needs its modules' libraries"; exit 1
    fi
    "$scratch/bin/quellora" process --help | grep -q -- '--sc-hpf'
    # A control command loads the tray module; with nothing running it says so.
    status=$(DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent "$scratch/bin/quellora" status 2>&1 || true)
    [[ $status == *"D-Bus session bus"* ]] || { echo "quellora status: $status"; exit 1; }
    appstreamcli validate --no-net "$scratch/share/metainfo/$id.metainfo.xml"
else
    cpack --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
    deb="$scratch/quellora_${version}_$(dpkg --print-architecture).deb"
    [[ $(dpkg-deb --field "$deb" Package) == quellora && $(dpkg-deb --field "$deb" Section) == sound ]]
    depends=$(dpkg-deb --field "$deb" Depends)
    # libc6 shows that dpkg-shlibdeps ran.
    for needed in 'pipewire (>= 0.3.65)' wireplumber libc6; do
        [[ "$depends" == *"$needed"* ]] || { echo "Depends lacks $needed: $depends"; exit 1; }
    done
    diff -u <(printf './usr/%s\n' "${expected[@]}" | sort) \
        <(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
fi

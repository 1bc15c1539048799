#!/usr/bin/env bash
# check_package.sh installed|deb BUILD_FOLDER
#   installed: `cmake --install` of the quellora component into a scratch
#              prefix with a space and a % in it; exactly the application's
#              files, valid desktop entry,
#              AppStream metadata and user service, an executable that needs
#              no Qt above QtCore and finds its modules where they were
#              installed, a manual page that says what --help says, and a
#              working bash completion.
#   deb:       the CPack .deb; its name, dependencies, exactly those files,
#              a changelog for this version, and nothing lintian objects to
#              unless an override says why.
set -euo pipefail
mode=$1 build=$2 id=org.quellora.Quellora sizes=(16 22 24 32 48 64 128 256)
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

installer=lib/quellora/quellora-install-update
policy="share/polkit-1/actions/$id.install-update.policy"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
expected=(bin/quellora "$libdir/quellora/modules/quellora-tray.so"
    "$libdir/quellora/modules/quellora-process.so"
    "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
    share/quellora/update.json "share/icons/hicolor/scalable/apps/$id.svg" "$installer" "$policy"
    lib/systemd/user/quellora.service share/man/man1/quellora.1.gz
    share/bash-completion/completions/quellora share/doc/quellora/copyright
    share/doc/quellora/changelog.gz share/lintian/overrides/quellora)
for size in "${sizes[@]}"; do expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png"); done

fail() { echo "$*" >&2; exit 1; }

if [[ $mode == installed ]]; then
    # Characters that a shell, a desktop entry or a systemd unit would read
    # as their own must not break the install.
    prefix="$scratch/prefix with space 100%"
    cmake --install "$build" --prefix "$prefix" --component quellora >/dev/null
    diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -printf '%P\n' | sort)
    for size in "${sizes[@]}"; do
        file "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "PNG image data, $size x $size,"
    done
    grep -Eq '^\{"feed": "[^"]*", "publicKey": "[^"]*"\}$' "$prefix/share/quellora/update.json"
    # The prompt names Quellora only when the action names the installed helper.
    grep -q "\"org.freedesktop.policykit.exec.path\">$prefix/$installer<" "$prefix/$policy"
    desktop-file-validate "$prefix/share/applications/$id.desktop"
    if readelf -d "$prefix/bin/quellora" | grep -E 'NEEDED.*(Qt6(Gui|Widgets|DBus)|xcb|sndfile)'; then
        echo "the executable itself needs its modules' libraries"; exit 1
    fi
    "$prefix/bin/quellora" process --help | grep -q -- '--sc-hpf'
    # A control command loads the tray module; with nothing running it says so.
    status=$(DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent "$prefix/bin/quellora" status 2>&1 || true)
    [[ $status == *"D-Bus session bus"* ]] || { echo "quellora status: $status"; exit 1; }
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"

    # The service starts the executable this install put there.
    unit=$prefix/lib/systemd/user/quellora.service
    grep -qxF "ExecStart=\"${prefix//%/%%}/bin/quellora\" run" "$unit" ||
        fail "ExecStart: $(grep ExecStart "$unit")"
    # It needs a runtime folder of its own, whether or not a session has one.
    mkdir -m 700 "$scratch/runtime"
    verify=$(XDG_RUNTIME_DIR=$scratch/runtime systemd-analyze --user verify --man=no "$unit" 2>&1) ||
        fail "$verify"
    [[ -z $verify ]] || fail "systemd-analyze: $verify"

    "$here/check_manual_page.sh" "$prefix/bin/quellora" "$prefix/share/man/man1/quellora.1.gz"
    "$here/check_bash_completion.sh" "$prefix/share/bash-completion/completions/quellora"
else
    cpack --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
    deb="$scratch/quellora_${version}_$(dpkg --print-architecture).deb"
    [[ $(dpkg-deb --field "$deb" Package) == quellora && $(dpkg-deb --field "$deb" Section) == sound ]]
    depends=$(dpkg-deb --field "$deb" Depends)
    # libc6 shows that dpkg-shlibdeps ran.
    for needed in 'pipewire (>= 0.3.65)' wireplumber libc6; do
        [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
    done
    contents=$(dpkg-deb --contents "$deb")
    diff -u <(printf './usr/%s\n' "${expected[@]}" | sort) \
        <(awk '$1 !~ /^d/ { print $6 }' <<<"$contents" | sort)
    # The installer runs as root: root's own, and writable by nobody else.
    grep -Eq "^-rwxr-xr-x root/root .* \./usr/$installer\$" <<<"$contents"
    policy_text=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/$policy")
    grep -q "\"org.freedesktop.policykit.exec.path\">/usr/$installer<" <<<"$policy_text"

    # A release without its changelog entry is a release nobody can read about.
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$scratch" ./usr/share/doc/quellora/changelog.gz
    newest=$(zcat "$scratch/usr/share/doc/quellora/changelog.gz" | head -n 1)
    [[ $newest == "quellora ($version) "* ]] || fail "changelog has no entry for $version: $newest"

    "$here/check_lintian.sh" "$deb"
fi

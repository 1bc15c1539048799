#!/usr/bin/env bash
# check_package.sh installed|deb BUILD_FOLDER
#   installed: `cmake --install` of the quellora component into a scratch
#              prefix; exactly the application's files, valid desktop entry
#              and AppStream metadata.
#   deb:       the CPack .deb; its name, dependencies and exactly those files.
set -euo pipefail
mode=$1 build=$2 id=org.quellora.Quellora sizes=(16 22 24 32 48 64 128 256)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

installer=lib/quellora/quellora-install-update
policy="share/polkit-1/actions/$id.install-update.policy"
expected=(bin/quellora "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
    share/quellora/update.json "share/icons/hicolor/scalable/apps/$id.svg" "$installer" "$policy")
for size in "${sizes[@]}"; do expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png"); done

if [[ $mode == installed ]]; then
    cmake --install "$build" --prefix "$scratch" --component quellora >/dev/null
    diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$scratch" && find . -type f -printf '%P\n' | sort)
    for size in "${sizes[@]}"; do
        file "$scratch/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "PNG image data, $size x $size,"
    done
    grep -Eq '^\{"feed": "[^"]*", "publicKey": "[^"]*"\}$' "$scratch/share/quellora/update.json"
    # The prompt names Quellora only when the action names the installed helper.
    grep -q "\"org.freedesktop.policykit.exec.path\">$scratch/$installer<" "$scratch/$policy"
    desktop-file-validate "$scratch/share/applications/$id.desktop"
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
    contents=$(dpkg-deb --contents "$deb")
    diff -u <(printf './usr/%s\n' "${expected[@]}" | sort) \
        <(awk '$1 !~ /^d/ { print $6 }' <<<"$contents" | sort)
    # The installer runs as root: root's own, and writable by nobody else.
    grep -Eq "^-rwxr-xr-x root/root .* \./usr/$installer\$" <<<"$contents"
    policy_text=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/$policy")
    grep -q "\"org.freedesktop.policykit.exec.path\">/usr/$installer<" <<<"$policy_text"
fi

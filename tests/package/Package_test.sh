#!/usr/bin/env bash
# Unpacks the Debian package into a temporary root, as dpkg installs it, and checks what a desktop
# finds there: the program, its menu entry (offered for text files) and icon, AppStream metainfo
# that validates, and nothing else; and that it depends on the libraries the binary links, the
# Chinese font and Qt's Chinese dialog texts.
set -euo pipefail
deb=${1:?usage: Package_test.sh pagorin_VERSION_ARCH.deb}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

sizes=(16 32 48 64 128 256)
expected=(usr/bin/pagorin usr/share/applications/pagorin.desktop
  usr/share/metainfo/io.github.pagorin.Pagorin.metainfo.xml usr/share/pixmaps/pagorin.xpm)
for size in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/pagorin.png"); done
files=$(cd "$root" && find . -type f -printf '%P\n' | sort)
[[ $files == "$(printf '%s\n' "${expected[@]}" | sort)" ]] || fail "files are not the expected ones:"$'\n'"$files"

binary=$root/usr/bin/pagorin
[[ -x $binary && $(file -b "$binary") == ELF*executable* ]] || fail "usr/bin/pagorin is not an executable program"
if ldd "$binary" | grep -q 'not found'; then fail "the binary needs libraries that are not there"; fi
if readelf -d "$binary" | grep -qE 'R(UN)?PATH'; then fail "the binary carries a library run path"; fi

desktop=$root/usr/share/applications/pagorin.desktop
# File managers offer it under Open With for text files, and hand it the file.
for line in Type=Application 'Exec=pagorin %f' 'MimeType=text/plain;' Icon=pagorin 'Name[zh_CN]=Pagorin高速文本文件浏览器'; do
  grep -qxF "$line" "$desktop" || fail "the desktop entry lacks $line"
done

for size in "${sizes[@]}"; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/pagorin.png
  [[ -f $icon && $(file -b "$icon") == "PNG image data, $size x $size,"* ]] || fail "no $size x $size PNG icon"
done

# Offline: the check is about the files, not about the network.
appstreamcli validate-tree --no-net "$root" >&2 || fail "appstreamcli rejects the metainfo"
grep -qF '<launchable type="desktop-id">pagorin.desktop</launchable>' \
  "$root/usr/share/metainfo/io.github.pagorin.Pagorin.metainfo.xml" || fail "the metainfo does not name the desktop entry"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in 'libc6 (' 'libstdc++6 (' 'libqt6core6 (' 'libqt6gui6 (' 'libqt6widgets6 (' \
  'fonts-wqy-zenhei | fonts-noto-cjk' qt6-translations-l10n; do
  grep -qF "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

if ((failures > 0)); then
  echo "Package test: $failures failed" >&2
  exit 1
fi
echo "Package test: $deb installs the program, its menu entry, icon and metainfo; Depends: $depends"

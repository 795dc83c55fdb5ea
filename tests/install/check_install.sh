#!/usr/bin/env bash
# The install as a user gets it (run by ctest): a staged `cmake --install`, its
# desktop entry, AppStream data and icons checked by readers we did not write,
# and the installed snapix-shot run from a copy of the prefix that the user
# cannot write, with a fresh home: its photographs and settings must land in
# that home's desktop folders, and an earlier version's settings must carry over.
# Usage: check_install.sh BUILD_DIR APP_ID VERSION PORTRAIT
set -euo pipefail
build=$1 id=$2 version=$3 portrait=$4

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"  # the unprivileged runs below pass through it
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >/dev/null
usr=$work/stage/usr
desktop=$usr/share/applications/$id.desktop
metainfo=$usr/share/metainfo/$id.metainfo.xml
for file in bin/snapix bin/snapix-shot "share/applications/$id.desktop" \
  "share/metainfo/$id.metainfo.xml" share/man/man1/snapix.1.gz share/man/man1/snapix-shot.1.gz \
  share/bash-completion/completions/snapix-shot share/doc/snapix/copyright; do
  [ -s "$usr/$file" ] || fail "not installed: $file"
done

# The face search is a module of its own, loaded on the first search: the programs
# themselves start without OpenCV.
module=$(find "$usr/lib" -name libsnapix-faces.so -path '*/snapix/*')
[ -n "$module" ] || fail "not installed: the face search module (libsnapix-faces.so)"
for program in snapix snapix-shot; do
  if ldd "$usr/bin/$program" | grep -q opencv; then
    fail "$program loads OpenCV at start: $(ldd "$usr/bin/$program" | grep opencv)"
  fi
done

# Desktop entry: not even a hint from the validator.
if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
  fail "desktop-file-validate: $out"
fi
# The window's X11 class is its program name; Wayland matches by the id itself.
for line in "Exec=snapix" "Icon=$id" "StartupWMClass=snapix" "StartupNotify=true"; do
  grep -qx "$line" "$desktop" || fail "desktop entry lacks $line"
done

# AppStream: the only note allowed is that the validator's list of top-level
# domains lacks .internal.
if ! out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1); then
  fail "appstreamcli validate: $out"
elif grep -E '^[EWI]: ' <<<"$out" | grep -v ": cid-maybe-not-rdns $id\$"; then
  fail "appstreamcli validate: $out"
fi
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "metainfo does not launch $id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"

# Icons: every size decodes whole (pngcheck inflates the data and checks every
# checksum) at its size; the scalable one renders.
icons=$usr/share/icons/hicolor
for size in 16 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/$id.png
  out=$(pngcheck "$png" 2>&1) || fail "icon $size: $out"
  grep -q "(${size}x${size}," <<<"$out" || fail "icon $size is not ${size}x${size}: $out"
done
if rsvg-convert --width 256 --height 256 "$icons/scalable/apps/$id.svg" --output "$work/svg.png"; then
  pngcheck -q "$work/svg.png" >/dev/null || fail "the scalable icon renders broken"
else
  fail "the scalable icon does not render"
fi

# The installed tool, run by a user who cannot write its folder: root runs it as
# nobody, anyone else gets a copy without write permission.
cp -a "$usr" "$work/ro"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  chmod -R a-w "$work/ro"
fi
new_home() {
  mkdir -p "$1"
  if [ "$(id -u)" -eq 0 ]; then chown -R 65534:65534 "$1"; fi
}
# shoot HOME PROGRAM_FOLDER [VAR=VALUE...]: one serial-named photograph; prints its path.
shoot() {
  local home=$1 bin=$2
  shift 2
  local runner=()
  if [ "$bin" = "$work/ro/bin" ]; then runner=("${as_user[@]}"); fi
  env -i HOME="$home" PATH=/usr/bin:/bin "$@" "${runner[@]}" \
    "$bin/snapix-shot" --virtual-camera --serial 2>"$work/stderr" ||
    fail "snapix-shot in $bin: $(cat "$work/stderr")"
}
is_photo() {
  [ "$1" = "$2" ] && [ "$(file -b --mime-type "$1")" = image/jpeg ]
}

home=$work/home-fresh
new_home "$home"
photo=$(shoot "$home" "$work/ro/bin")
is_photo "$photo" "$home/Pictures/Snapix/00000001.jpg" || fail "fresh home: photograph at '$photo'"
grep -qx "MaxFileNo=1" "$home/.config/snapix/snapix.ini" || fail "fresh home: no settings in ~/.config/snapix"

# An identity photo from the installed tool: it finds the face search module in the
# prefix it was copied with.
if env -i HOME="$home" PATH=/usr/bin:/bin SNAPIX_VIRTUAL_CAMERA_PICTURE="$portrait" "${as_user[@]}" \
  "$work/ro/bin/snapix-shot" --virtual-camera --size 640x480 --id-photo 1inch \
  --output "$home" >"$work/stdout" 2>"$work/stderr"; then
  [ "$(file -b --mime-type "$(cat "$work/stdout")")" = image/jpeg ] ||
    fail "identity photo: no JPEG at '$(cat "$work/stdout")'"
else
  fail "identity photo from the installed tool: $(cat "$work/stderr")"
fi

# XDG_CONFIG_HOME and xdg-user-dirs are followed; the older per-user settings
# file continues its series and stays where it was.
home=$work/home-xdg
new_home "$home"
mkdir -p "$home/cfg" "$home/.local/share/snapix"
echo 'XDG_PICTURES_DIR="$HOME/Bilder"' >"$home/cfg/user-dirs.dirs"
printf '[Snapix]\nMaxFileNo=41\n' >"$home/.local/share/snapix/snapix.ini"
new_home "$home"
photo=$(shoot "$home" "$work/ro/bin" XDG_CONFIG_HOME="$home/cfg")
is_photo "$photo" "$home/Bilder/Snapix/00000042.jpg" || fail "xdg home: photograph at '$photo'"
grep -qx "MaxFileNo=42" "$home/cfg/snapix/snapix.ini" || fail "xdg home: settings not carried over"
grep -qx "MaxFileNo=41" "$home/.local/share/snapix/snapix.ini" || fail "xdg home: older settings changed"

# A prefix the user can write (~/.local) is still an installed copy: its desktop
# entry says so.
cp -a "$usr" "$work/rw"
home=$work/home-rw
new_home "$home"
photo=$(shoot "$home" "$work/rw/bin")
is_photo "$photo" "$home/Pictures/Snapix/00000001.jpg" || fail "writable prefix: photograph at '$photo'"

# A program folder of its own is a portable copy: everything stays in it.
mkdir "$work/portable"
cp "$usr/bin/snapix-shot" "$work/portable/"
home=$work/home-portable
new_home "$home"
photo=$(shoot "$home" "$work/portable")
is_photo "$photo" "$work/portable/00000001.jpg" || fail "portable: photograph at '$photo'"
[ -f "$work/portable/snapix.ini" ] || fail "portable: settings not beside the program"
[ -z "$(ls -A "$home")" ] || fail "portable: wrote into the home folder: $(ls -A "$home")"

if [ "$failures" -gt 0 ]; then
  echo "$failures install checks failed" >&2
  exit 1
fi
echo "install checks passed"

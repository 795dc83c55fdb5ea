#!/usr/bin/env bash
# The Debian package as `make deb` builds it (run by ctest): its dependencies,
# its contents, no maintainer scripts of its own, and lintian with no error and
# no warning.
# Usage: check_package.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$work/snapix_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "FAIL: no $deb: $(ls "$work")" >&2; exit 1; }

# The libraries come from the programs; the typefaces of the captions and Qt's
# window-system plugins are loaded at run time and must be named.
depends=$(dpkg-deb --field "$deb" Depends)
# libopencv-objdetect: the face search module's.
for package in fonts-arphic-uming fonts-dejavu-core qt6-qpa-plugins libqt6widgets6 libv4lconvert0 \
  libjpeg62-turbo libopencv-objdetect406; do
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for file in ./usr/bin/snapix ./usr/bin/snapix-shot "./usr/share/applications/$id.desktop" \
  "./usr/share/metainfo/$id.metainfo.xml" "./usr/share/icons/hicolor/scalable/apps/$id.svg" \
  ./usr/share/man/man1/snapix.1.gz ./usr/share/doc/snapix/copyright; do
  grep -qx -- "$file" <<<"$contents" || fail "package lacks $file"
done

grep -qE '^\./usr/lib/(.+/)?snapix/libsnapix-faces\.so$' <<<"$contents" ||
  fail "package lacks the face search module libsnapix-faces.so"

control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | sort | tr '\n' ' ')
[ "$control" = "control md5sums " ] || fail "control files beyond control and md5sums: $control"

# Lintian's notes (I:) stay: see the README's Install section.
if ! out=$(lintian --fail-on error,warning "$deb" 2>&1) || grep -qE '^[EW]: ' <<<"$out"; then
  fail "lintian: $out"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures package checks failed" >&2
  exit 1
fi
echo "package checks passed"

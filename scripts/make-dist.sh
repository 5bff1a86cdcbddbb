#!/usr/bin/env bash
# Builds the zip for Windows users:
#   scripts/make-dist.sh BUILD_DIR OUTPUT.zip
# One folder, Glyphdock-<version>-win64, holding Glyphdock.exe, glyphdock-export.exe
# (the console program), README.txt and LICENSE.txt; the texts with Windows line ends.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=$2
version=$(cat "$top/VERSION")
name=Glyphdock-$version-win64
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

mkdir "$stage/$name"
install -m 644 "$build/bin/Glyphdock.exe" "$stage/$name/Glyphdock.exe"
install -m 644 "$build/bin/glyphdock-export.exe" "$stage/$name/glyphdock-export.exe"
# Notepad on older Windows takes a text for UTF-8 only with a byte order mark.
{ printf '\357\273\277'; sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$top/packaging/README-Windows.txt"; } > "$stage/$name/README.txt"
sed 's/$/\r/' "$top/LICENSE" > "$stage/$name/LICENSE.txt"

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
(cd "$stage" && zip -q -X -r "$out" "$name")
echo "make-dist: $out"

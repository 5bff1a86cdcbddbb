#!/usr/bin/env bash
# The zip for Windows users: one folder with the exe, the read-me and the licence, the
# texts with Windows line ends, the exe the built one.
#   dist_test.sh SOURCE_DIR BUILD_DIR
set -u
. "$(dirname "$0")/lib.sh"
pkg_init "$1" "$2"
command -v zip >/dev/null && command -v unzip >/dev/null || skip "zip or unzip is not installed"

version=$(pkg_version)
name=Glyphdock-$version-win64
zipfile=$PKG_TMP/$name.zip
"$PKG_TOP/scripts/make-dist.sh" "$PKG_BUILD" "$zipfile" >"$PKG_TMP/make-dist.log" 2>&1 ||
  { cat "$PKG_TMP/make-dist.log"; fail "make-dist.sh builds the zip"; pkg_done; }

check_eq "the zip's listing" "$name/
$name/Glyphdock.exe
$name/LICENSE.txt
$name/README.txt
$name/glyphdock-export.exe" "$(unzip -Z1 "$zipfile" | LC_ALL=C sort)"
unzip -tq "$zipfile" >/dev/null && pass "the zip tests sound" || fail "the zip tests sound"

unzip -q "$zipfile" -d "$PKG_TMP/x"
cmp -s "$PKG_BUILD/bin/Glyphdock.exe" "$PKG_TMP/x/$name/Glyphdock.exe" &&
  pass "the exe is the built one" || fail "the exe is the built one"
cmp -s "$PKG_BUILD/bin/glyphdock-export.exe" "$PKG_TMP/x/$name/glyphdock-export.exe" &&
  pass "glyphdock-export.exe is the built one" || fail "glyphdock-export.exe is the built one"
check_eq "LICENSE.txt is the licence with Windows line ends" "$(cat "$PKG_TOP/LICENSE")" \
  "$(tr -d '\r' < "$PKG_TMP/x/$name/LICENSE.txt")"
readme=$PKG_TMP/x/$name/README.txt
lines=$(wc -l < "$readme")
check_eq "every read-me line ends in CR LF" "$lines" "$(grep -c $'\r$' "$readme")"
# The settings key the read-me names is the one the program writes.
key=$(grep -o 'HKEY_CURRENT_USER\\Software\\[A-Za-z\\]*' "$readme" | head -1)
# In the sources the key is a C string: every backslash doubled.
literal=$(printf '%s' "${key#HKEY_CURRENT_USER}" | sed 's/\\/\\\\/g')
[ -n "$key" ] && grep -qF "\"$literal\"" "$PKG_TOP"/src/common/*.h &&
  pass "the read-me names the program's settings key ($key)" ||
  fail "the read-me names the program's settings key" "a key the sources use" "$key"
grep -q "Glyphdock $version" "$readme" && pass "the read-me names the version" ||
  fail "the read-me names the version" "Glyphdock $version" "$(head -1 "$readme")"

pkg_done

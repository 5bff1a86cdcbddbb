#!/usr/bin/env bash
# make install DESTDIR=... lays out exactly the expected files with the right modes,
# the desktop entry starts the installed command, the desktop icons are the program's
# own icon, and make uninstall takes every file away again.
#   install_test.sh SOURCE_DIR BUILD_DIR
set -u
. "$(dirname "$0")/lib.sh"
pkg_init "$1" "$2"

dest=$PKG_TMP/root
pkg_install "$dest" PREFIX=/opt/gd || { fail "make install"; pkg_done; }

expected="opt/gd/bin/glyphdock
opt/gd/bin/glyphdock-export
opt/gd/share/applications/glyphdock.desktop
opt/gd/share/doc/glyphdock/LICENSE
opt/gd/share/glyphdock/Glyphdock.exe
opt/gd/share/glyphdock/fonts.sh
opt/gd/share/icons/hicolor/16x16/apps/glyphdock.png
opt/gd/share/icons/hicolor/32x32/apps/glyphdock.png
opt/gd/share/icons/hicolor/48x48/apps/glyphdock.png
opt/gd/share/man/man1/glyphdock-export.1
opt/gd/share/man/man1/glyphdock.1
opt/gd/share/mime/packages/glyphdock.xml
opt/gd/share/thumbnailers/glyphdock.thumbnailer"
check_eq "installed files under the prefix" "$expected" "$(pkg_tree "$dest")"

modes=$(cd "$dest/opt/gd" && stat -c '%a %n' bin/glyphdock bin/glyphdock-export share/glyphdock/Glyphdock.exe \
  share/applications/glyphdock.desktop share/icons/hicolor/16x16/apps/glyphdock.png \
  share/thumbnailers/glyphdock.thumbnailer)
check_eq "modes: the commands executable, the rest readable" \
  "755 bin/glyphdock
755 bin/glyphdock-export
644 share/glyphdock/Glyphdock.exe
644 share/applications/glyphdock.desktop
644 share/icons/hicolor/16x16/apps/glyphdock.png
644 share/thumbnailers/glyphdock.thumbnailer" "$modes"

cmp -s "$PKG_BUILD/bin/Glyphdock.exe" "$dest/opt/gd/share/glyphdock/Glyphdock.exe" &&
  pass "the installed exe is the built one" || fail "the installed exe is the built one"
cmp -s "$PKG_TOP/LICENSE" "$dest/opt/gd/share/doc/glyphdock/LICENSE" &&
  pass "the licence installed" || fail "the licence installed"
check_eq "the menu entry runs the installed command" "Exec=/opt/gd/bin/glyphdock" \
  "$(grep '^Exec=' "$dest/opt/gd/share/applications/glyphdock.desktop")"
cmp -s "$PKG_BUILD/native/glyphdock-export" "$dest/opt/gd/bin/glyphdock-export" &&
  pass "the installed glyphdock-export is the native build" || fail "the installed glyphdock-export is the native build"
check_eq "glyphdock-export is a native program" "ELF" \
  "$(head -c 4 "$dest/opt/gd/bin/glyphdock-export" | tail -c 3)"
check_eq "the thumbnailer runs the installed command" \
  "TryExec=/opt/gd/bin/glyphdock-export|Exec=/opt/gd/bin/glyphdock-export thumbnail %i %o %s" \
  "$(grep -E '^(TryExec|Exec)=' "$dest/opt/gd/share/thumbnailers/glyphdock.thumbnailer" | paste -sd'|')"
check_eq "the thumbnailer names Windows programs, libraries and icons" \
  "application/vnd.microsoft.portable-executable application/x-ms-dos-executable image/vnd.microsoft.icon" \
  "$(sed -n 's/^MimeType=//p' "$dest/opt/gd/share/thumbnailers/glyphdock.thumbnailer" | tr ';' '\n' | sed '/^$/d' | LC_ALL=C sort | paste -sd' ')"
check_eq "both manual pages carry the version in VERSION" "2" \
  "$(grep -l "^\.TH .* \"Glyphdock $(pkg_version)\"" "$dest"/opt/gd/share/man/man1/glyphdock*.1 | wc -l)"
check_eq "the type of Windows libraries: *.dll under the type of Windows programs" \
  "application/vnd.microsoft.portable-executable|application/x-ms-dos-executable|*.dll" \
  "$(/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as E
ns = "{http://www.freedesktop.org/standards/shared-mime-info}"
t = E.parse(sys.argv[1]).getroot().find(ns + "mime-type")
print(t.get("type"), t.find(ns + "sub-class-of").get("type"), *[g.get("pattern") for g in t.iter(ns + "glob")], sep="|")' \
    "$dest/opt/gd/share/mime/packages/glyphdock.xml" 2>&1)"
man_name=$(lexgrog "$dest/opt/gd/share/man/man1/glyphdock-export.1" 2>&1)
case $man_name in
  *'"glyphdock-export - '*) pass "the manual page of glyphdock-export has its NAME line" ;;
  *) fail "the manual page of glyphdock-export has its NAME line" "glyphdock-export - ..." "$man_name" ;;
esac

# Each PNG has its folder's size; the 32 x 32 one has exactly the pixels of the icon
# inside Glyphdock.exe (transparent where the icon's mask is clear).
for s in 16 32 48; do
  check_eq "icon ${s}x${s} size" "PNG ${s}x${s}" \
    "$(identify -format '%m %wx%h' "$dest/opt/gd/share/icons/hicolor/${s}x${s}/apps/glyphdock.png" 2>&1)"
done
if wrestool -x -t 14 "$dest/opt/gd/share/glyphdock/Glyphdock.exe" > "$PKG_TMP/program.ico" 2>/dev/null &&
   [ -s "$PKG_TMP/program.ico" ]; then
  differing=$(compare -metric AE "ico:$PKG_TMP/program.ico" \
    "$dest/opt/gd/share/icons/hicolor/32x32/apps/glyphdock.png" null: 2>&1)
  check_eq "the 32 x 32 desktop icon matches the exe's icon pixel for pixel (pixels differing)" "0" "$differing"
else
  fail "the exe's icon resource could not be read with wrestool"
fi
# The 16 x 16 one is the same picture, smaller: compared with the exe's icon scaled by
# area, no pixel may be far off.
convert "ico:$PKG_TMP/program.ico" -filter box -resize 16x16 "$PKG_TMP/small.png"
rmse=$(compare -metric RMSE "$PKG_TMP/small.png" \
  "$dest/opt/gd/share/icons/hicolor/16x16/apps/glyphdock.png" null: 2>&1 | sed 's/.*(\(.*\)).*/\1/')
awk -v e="$rmse" 'BEGIN { exit !(e < 0.08) }' &&
  pass "the 16 x 16 icon is the program icon scaled down (RMSE $rmse)" ||
  fail "the 16 x 16 icon is the program icon scaled down" "RMSE < 0.08" "$rmse"

# Uninstall: every file gone, nothing else touched (the thumbnailers folder only when empty).
touch "$dest/opt/gd/share/applications/other.desktop"
env -u MAKEFLAGS -u MAKELEVEL make -s -C "$PKG_TOP" --no-print-directory uninstall \
  BUILD="$PKG_BUILD" DESTDIR="$dest" PREFIX=/opt/gd >/dev/null 2>&1 ||
  fail "make uninstall exits 0"
check_eq "after make uninstall only the other program's file is left" \
  "opt/gd/share/applications/other.desktop" "$(pkg_tree "$dest")"
[ ! -e "$dest/opt/gd/share/glyphdock" ] && pass "the program's own folder removed" ||
  fail "the program's own folder removed"

# Straight into a system (no DESTDIR): the file type database under the prefix is
# brought up to date on install and again on uninstall.
if command -v update-mime-database >/dev/null; then
  direct=$PKG_TMP/direct
  env -u MAKEFLAGS -u MAKELEVEL make -s -C "$PKG_TOP" --no-print-directory install BUILD="$PKG_BUILD" PREFIX="$direct" \
    >/dev/null 2>&1
  installed=$(grep -c '^application/vnd.microsoft.portable-executable$' "$direct/share/mime/types" 2>&1)
  env -u MAKEFLAGS -u MAKELEVEL make -s -C "$PKG_TOP" --no-print-directory uninstall BUILD="$PKG_BUILD" PREFIX="$direct" \
    >/dev/null 2>&1
  check_eq "without DESTDIR: the database knows the type after install, not after uninstall" "1|0" \
    "$installed|$(grep -c '^application/vnd.microsoft.portable-executable$' "$direct/share/mime/types" 2>&1)"
else
  echo "SKIP: the database under the prefix: update-mime-database is not installed"
fi

pkg_done

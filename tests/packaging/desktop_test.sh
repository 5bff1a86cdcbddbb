#!/usr/bin/env bash
# The installed menu entry: desktop-file-validate finds nothing to report, and the entry
# names the program, in Japanese too, with an icon that the install provides.
#   desktop_test.sh SOURCE_DIR BUILD_DIR
set -u
. "$(dirname "$0")/lib.sh"
pkg_init "$1" "$2"
command -v desktop-file-validate >/dev/null ||
  skip "desktop-file-validate is not installed (Debian package desktop-file-utils)"

dest=$PKG_TMP/root
pkg_install "$dest" PREFIX=/usr || { fail "make install"; pkg_done; }
entry=$dest/usr/share/applications/glyphdock.desktop

report=$(desktop-file-validate "$entry" 2>&1)
check_eq "desktop-file-validate reports nothing" "" "$report"

value() { sed -n "s/^$1=//p" "$entry"; }
check_eq "Name" "Glyphdock" "$(value 'Name')"
[ -n "$(value 'Name\[ja\]')" ] && [ -n "$(value 'Comment\[ja\]')" ] && [ -n "$(value 'Comment')" ] &&
  pass "Name[ja], Comment and Comment[ja] given" || fail "Name[ja], Comment and Comment[ja] given"
check_eq "Exec: the installed command" "/usr/bin/glyphdock" "$(value Exec)"
[ -x "$dest$(value Exec)" ] && pass "the Exec command is installed and executable" ||
  fail "the Exec command is installed and executable"
icon=$(value Icon)
found=$(cd "$dest/usr/share/icons/hicolor" && ls */apps/"$icon".png 2>/dev/null | LC_ALL=C sort -V | tr '\n' ' ')
check_eq "the Icon name found in the hicolor theme at 16, 32 and 48" \
  "16x16/apps/glyphdock.png 32x32/apps/glyphdock.png 48x48/apps/glyphdock.png " "$found"
case ";$(value Categories)" in
  *";Graphics;"*) pass "in the Graphics category" ;;
  *) fail "in the Graphics category" "Graphics in Categories" "$(value Categories)" ;;
esac

pkg_done

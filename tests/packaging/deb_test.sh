#!/usr/bin/env bash
# The Debian package: its files are the make install tree (PREFIX=/usr) with the
# copyright file and changelog in place of the bare licence, its control fields name
# what the command needs, and lintian finds no error.
#   deb_test.sh SOURCE_DIR BUILD_DIR
set -u
. "$(dirname "$0")/lib.sh"
pkg_init "$1" "$2"
command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"

version=$(pkg_version)
deb=$PKG_TMP/glyphdock_${version}_amd64.deb
"$PKG_TOP/scripts/make-deb.sh" "$PKG_BUILD" "$deb" >"$PKG_TMP/make-deb.log" 2>&1 ||
  { cat "$PKG_TMP/make-deb.log"; fail "make-deb.sh builds the package"; pkg_done; }

fields=$(dpkg-deb -f "$deb" Package Version Architecture)
check_eq "control fields" "Package: glyphdock
Version: $version
Architecture: amd64" "$fields"
# What the window needs, then the libraries of the native glyphdock-export.
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in
  "wine, wine64, fonts-ipafont-gothic, locales, libc6 (>= "*"zlib1g (>= "*) pass "Depends: $depends" ;;
  *) fail "Depends names Wine, the font, the locales and glyphdock-export's libraries" \
       "wine, wine64, fonts-ipafont-gothic, locales, libc6 (>= ...), ..., zlib1g (>= ...)" "$depends" ;;
esac

listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | LC_ALL=C sort -k3)
check_eq "files, modes and owners" "-rwxr-xr-x root/root ./usr/bin/glyphdock
-rwxr-xr-x root/root ./usr/bin/glyphdock-export
-rw-r--r-- root/root ./usr/share/applications/glyphdock.desktop
-rw-r--r-- root/root ./usr/share/doc/glyphdock/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/glyphdock/copyright
-rw-r--r-- root/root ./usr/share/glyphdock/Glyphdock.exe
-rw-r--r-- root/root ./usr/share/glyphdock/fonts.sh
-rw-r--r-- root/root ./usr/share/icons/hicolor/16x16/apps/glyphdock.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/32x32/apps/glyphdock.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/48x48/apps/glyphdock.png
-rw-r--r-- root/root ./usr/share/man/man1/glyphdock-export.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/glyphdock.1.gz
-rw-r--r-- root/root ./usr/share/mime/packages/glyphdock.xml
-rw-r--r-- root/root ./usr/share/thumbnailers/glyphdock.thumbnailer" "$listing"

odd_dirs=$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") { print $1, $2, $6 }')
check_eq "every folder, the top one too, drwxr-xr-x root/root" "" "$odd_dirs"

mkdir "$PKG_TMP/x"
dpkg-deb -x "$deb" "$PKG_TMP/x"
doc=$PKG_TMP/x/usr/share/doc/glyphdock
# The licence text (after its title and copyright lines) appears in the copyright file.
licence=$(sed -n '/^Permission/,$p' "$PKG_TOP/LICENSE" | tr -s ' \n' ' ')
in_copyright=$(sed -n '/^ Permission/,$p' "$doc/copyright" | sed 's/^ \.\{0,1\}//' | tr -s ' \n' ' ')
check_eq "the MIT licence in the copyright file" "$licence" "$in_copyright"
grep -q '^Copyright: .*Quillfen' "$doc/copyright" && pass "copyright held by Quillfen" ||
  fail "copyright held by Quillfen"
check_eq "the changelog's entry is this version" "glyphdock ($version) bookworm; urgency=medium" \
  "$(zcat "$doc/changelog.gz" | head -1)"
cmp -s "$PKG_BUILD/bin/Glyphdock.exe" "$PKG_TMP/x/usr/share/glyphdock/Glyphdock.exe" &&
  pass "the packaged exe is the built one" || fail "the packaged exe is the built one"
check_eq "the packaged glyphdock-export runs and is stripped" "glyphdock-export $version|no symbols" \
  "$("$PKG_TMP/x/usr/bin/glyphdock-export" --version)|$(LC_ALL=C nm "$PKG_TMP/x/usr/bin/glyphdock-export" 2>&1 | sed 's/.*: //')"
check_eq "the packaged thumbnailer runs /usr/bin/glyphdock-export" \
  "Exec=/usr/bin/glyphdock-export thumbnail %i %o %s" \
  "$(grep '^Exec=' "$PKG_TMP/x/usr/share/thumbnailers/glyphdock.thumbnailer")"
check_eq "the file type database is brought up to date as the package comes and goes" \
  "activate-noawait /usr/share/mime/packages" "$(dpkg-deb -I "$deb" triggers 2>&1)"
(cd "$PKG_TMP/x" && dpkg-deb -e "$deb" DEBIAN && md5sum --quiet -c DEBIAN/md5sums) >/dev/null 2>&1 &&
  pass "md5sums match the files" || fail "md5sums match the files"

# The maintainer script's locale step, on a copy of its list of locales to generate
# (never the machine's own): with ja_JP.UTF-8 missing from "locale -a" it enables the
# commented-out entry, or adds one, then has locale-gen keep what exists. locale and
# locale-gen are stand-ins here that report what they were asked.
pi=$PKG_TMP/postinst
mkdir -p "$pi/bin"
sed "s|/etc/locale.gen|$pi/locale.gen|g" "$PKG_TMP/x/DEBIAN/postinst" > "$pi/postinst"
printf '#!/bin/sh\nprintf "C\\nC.utf8\\nPOSIX\\n"\n' > "$pi/bin/locale"
printf '#!/bin/sh\necho "locale-gen $*" >> "%s/calls"\n' "$pi" > "$pi/bin/locale-gen"
chmod 755 "$pi/bin/locale" "$pi/bin/locale-gen"
printf '# en_US.UTF-8 UTF-8\n# ja_JP.EUC-JP EUC-JP\n# ja_JP.UTF-8 UTF-8\n' > "$pi/locale.gen"
PATH="$pi/bin:$PATH" sh "$pi/postinst" configure >/dev/null 2>&1
check_eq "postinst: the commented-out ja_JP.UTF-8 entry enabled" \
  "# en_US.UTF-8 UTF-8|# ja_JP.EUC-JP EUC-JP|ja_JP.UTF-8 UTF-8|locale-gen --keep-existing" \
  "$(cat "$pi/locale.gen" "$pi/calls" 2>&1 | paste -sd'|')"
rm -f "$pi/calls"
printf '# en_US.UTF-8 UTF-8\n' > "$pi/locale.gen"
PATH="$pi/bin:$PATH" sh "$pi/postinst" configure >/dev/null 2>&1
check_eq "postinst: a ja_JP.UTF-8 entry added when the list has none" \
  "# en_US.UTF-8 UTF-8|ja_JP.UTF-8 UTF-8|locale-gen --keep-existing" \
  "$(cat "$pi/locale.gen" "$pi/calls" 2>&1 | paste -sd'|')"
rm -f "$pi/calls"
printf '#!/bin/sh\nprintf "C\\nja_JP.utf8\\n"\n' > "$pi/bin/locale"
PATH="$pi/bin:$PATH" sh "$pi/postinst" configure >/dev/null 2>&1
check_eq "postinst: nothing done where the locale exists" "# en_US.UTF-8 UTF-8|ja_JP.UTF-8 UTF-8|" \
  "$(cat "$pi/locale.gen" | paste -sd'|')|$(cat "$pi/calls" 2>/dev/null)"

if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$PKG_TMP/lintian" 2>&1
  code=$?
  cat "$PKG_TMP/lintian"
  check_eq "lintian: no errors" "" "$(grep '^E:' "$PKG_TMP/lintian")"
  check_eq "lintian: no warnings" "" "$(grep '^W:' "$PKG_TMP/lintian")"
  [ $code -eq 0 ] && pass "lintian exits 0" || fail "lintian exits 0" "0" "$code"
else
  echo "SKIP: lintian is not installed"
fi

pkg_done

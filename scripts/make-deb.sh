#!/usr/bin/env bash
# Builds the Debian package from a make install tree (PREFIX=/usr):
#   scripts/make-deb.sh BUILD_DIR OUTPUT.deb
# The tree gets the package's control files, the copyright file (the licence) and the
# compressed changelog and manual page, then dpkg-deb packs it with root as the owner of every file.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=$2
version=$(cat "$top/VERSION")
# A new version wants its changelog entry: the newest entry must name it.
newest=$(sed -n '1s/^glyphdock (\([^)]*\)).*/\1/p' "$top/packaging/deb/changelog")
if [ "$newest" != "$version" ]; then
  echo "make-deb: VERSION says $version but the newest entry of packaging/deb/changelog is $newest; add an entry" >&2
  exit 1
fi
root=$(mktemp -d)
chmod 755 "$root"
trap 'rm -rf "$root"' EXIT

# The nested make must not take part in a calling make's job server.
env -u MAKEFLAGS -u MAKELEVEL make -s -C "$top" --no-print-directory install \
  BUILD="$build" DESTDIR="$root" PREFIX=/usr >/dev/null
doc=$root/usr/share/doc/glyphdock
# The copyright file carries the licence in a Debian package.
rm "$doc/LICENSE"
install -m 644 "$top/packaging/deb/copyright" "$doc/copyright"
gzip -9n -c "$top/packaging/deb/changelog" > "$doc/changelog.gz"
chmod 644 "$doc/changelog.gz"
gzip -9n "$root/usr/share/man/man1/glyphdock.1" "$root/usr/share/man/man1/glyphdock-export.1"
# glyphdock-export is a native program: stripped, and its libraries named in Depends as
# dpkg-shlibdeps finds them (it wants a debian/control to stand beside).
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/glyphdock-export"
shlib=$(mktemp -d)
mkdir "$shlib/debian"
printf 'Source: glyphdock\n\nPackage: glyphdock\nArchitecture: amd64\n' > "$shlib/debian/control"
libs=$(cd "$shlib" && dpkg-shlibdeps -O "$root/usr/bin/glyphdock-export" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
rm -rf "$shlib"
[ -n "$libs" ] || { echo "make-deb: dpkg-shlibdeps found no libraries for glyphdock-export" >&2; exit 1; }

install -d -m 755 "$root/DEBIAN"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@SIZE@/$size/" -e "s/@LIBS@/$libs/" "$top/packaging/deb/control.in" > "$root/DEBIAN/control"
install -m 755 "$top/packaging/deb/postinst" "$root/DEBIAN/postinst"
# The file type database (shared-mime-info's update-mime-database) is brought up to
# date when the package's type of Windows libraries comes and goes.
install -m 644 "$top/packaging/deb/triggers" "$root/DEBIAN/triggers"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$(dirname "$out")"
dpkg-deb --root-owner-group -Zxz --build "$root" "$out" >/dev/null
echo "make-deb: $out"

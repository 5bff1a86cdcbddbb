#!/usr/bin/env bash
# The file manager's picture for make screenshot: PCManFM in icon view over a folder of
# Windows programs and libraries (copies from Wine's system folder) and one Linux
# library, each program showing its own icon through glyphdock-export's thumbnailer.
#   scripts/filemanager-shot.sh BUILD_DIR OUT.png
# Runs on the display in $DISPLAY (under a window manager). The thumbnailer and the file
# type of Windows libraries come from a make install into a folder of its own; the user's
# settings, caches and data are folders of their own too, so nothing of the caller's is
# read or written.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=$2
wine_system=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
for need in pcmanfm import update-mime-database xdotool; do
  command -v "$need" >/dev/null || { echo "filemanager-shot: $need is not installed" >&2; exit 1; }
done
[ -d "$wine_system" ] || { echo "filemanager-shot: $wine_system is missing" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "filemanager-shot: no X display" >&2; exit 1; }

work=$(mktemp -d /tmp/glyphdock-fmshot.XXXXXX)
fm_pid=
# PCManFM and its session bus are the children of dbus-run-session: ended with it.
cleanup() {
  if [ -n "$fm_pid" ]; then
    pkill -P "$fm_pid" 2>/dev/null
    kill "$fm_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

env -u MAKEFLAGS -u MAKELEVEL make -s -C "$top" --no-print-directory install BUILD="$build" \
  PREFIX="$work/prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; exit 1; }

# The desktop's data: every type definition the machine has (PCManFM's own calls *.dll
# shared libraries) with the installed one beside them, in one database.
data=$work/data
mkdir -p "$data/mime/packages" "$data/thumbnailers"
cp /usr/share/mime/packages/*.xml "$work/prefix/share/mime/packages/glyphdock.xml" "$data/mime/packages/"
update-mime-database "$data/mime" >/dev/null 2>&1
cp "$work/prefix/share/thumbnailers/glyphdock.thumbnailer" "$data/thumbnailers/"

folder="$work/Windows programs"
mkdir -p "$folder"
# Eleven files with icons, and a Linux library, which keeps its generic icon.
for name in notepad.exe shell32.dll winemine.exe regedit.exe wordpad.exe joy.cpl winecfg.exe taskmgr.exe \
            comdlg32.dll iexplore.exe appwiz.cpl; do
  [ -f "$wine_system/$name" ] && cp "$wine_system/$name" "$folder/"
done
due=$(cd "$folder" && for f in *; do "$work/prefix/bin/glyphdock-export" list "$f" >/dev/null 2>&1 && echo "$f"; done | wc -l)
cp "$(ls /usr/lib/x86_64-linux-gnu/libz.so.1.* | head -1)" "$folder/libz.so.1"

config=$work/config
mkdir -p "$config/pcmanfm/default" "$config/libfm"
# Icon view, large icons, thumbnails of files of any size (shell32.dll is 15 MB).
cat > "$config/libfm/libfm.conf" <<'EOF'
[config]
single_click=0
show_thumbnail=1
thumbnail_local=1
thumbnail_max=65536
[ui]
big_icon_size=96
thumbnail_size=128
EOF
cat > "$config/pcmanfm/default/pcmanfm.conf" <<'EOF'
[config]
bm_open_method=0
[ui]
win_width=780
win_height=540
view_mode=icon
show_hidden=0
sort=name;ascending;
side_pane_mode=places
show_statusbar=1
EOF

env XDG_DATA_DIRS="$data:/usr/share" XDG_DATA_HOME="$work/home-data" XDG_CONFIG_HOME="$config" \
  XDG_CACHE_HOME="$work/cache" HOME="$work/home" GSETTINGS_BACKEND=memory \
  dbus-run-session -- pcmanfm --no-desktop "$folder" >"$work/pcmanfm.log" 2>&1 &
fm_pid=$!

# Ready when the window is up and every Windows file's thumbnail is in the cache.
window=
for tries in $(seq 1 300); do
  [ -z "$window" ] && window=$(xdotool search --onlyvisible --name 'Windows programs' 2>/dev/null | head -1)
  made=$(find "$work/cache/thumbnails" -name '*.png' 2>/dev/null | wc -l)
  [ -n "$window" ] && [ "$made" -ge "$due" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "filemanager-shot: PCManFM's window did not appear" >&2; cat "$work/pcmanfm.log" >&2; exit 1; }
sleep 1
xdotool windowmove "$window" 20 20 2>/dev/null
sleep 0.5
import -window root -crop 820x600+0+0 +repage "$out"
echo "filemanager-shot: $out ($made thumbnails made for $due files with icons)"

#!/usr/bin/env bash
# The installed glyphdock command without what it needs: one sentence naming the
# command that installs the missing piece, exit status 69, no Wine output, nothing
# started; on a desktop the sentence is also shown in a message window.
#   missing_test.sh SOURCE_DIR BUILD_DIR
set -u
. "$(dirname "$0")/lib.sh"
pkg_init "$1" "$2"

dest=$PKG_TMP/root
pkg_install "$dest" || { fail "make install"; pkg_done; }
launcher=$dest/usr/local/bin/glyphdock
home=$PKG_TMP/home
mkdir -p "$home"

# A PATH of the few tools the launcher uses up to its checks, without wine.
nowine=$PKG_TMP/nowine
mkdir -p "$nowine"
for tool in readlink dirname grep locale fc-list sed fold; do
  ln -s "$(command -v "$tool")" "$nowine/$tool"
done

# Found before PATH is narrowed for the launcher.
timeout=$(command -v timeout)

# expect_refusal NAME EXPECTED_SENTENCE ENV...: runs the launcher without a display.
expect_refusal() {
  local name=$1 sentence=$2
  shift 2
  env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" "$@" "$timeout" 60 "$launcher" \
    >"$PKG_TMP/out" 2>"$PKG_TMP/err"
  check_eq "$name: exit status" "69" "$?"
  check_eq "$name: the one sentence on standard error" "glyphdock: $sentence" "$(cat "$PKG_TMP/err")"
  check_eq "$name: nothing on standard output" "" "$(cat "$PKG_TMP/out")"
}

expect_refusal "no wine on the PATH" \
  "Glyphdock needs Wine, which is not installed; install it with: sudo apt-get install wine wine64" \
  PATH="$nowine"

locale_sentence="Glyphdock needs the Japanese locale ja_JP.UTF-8, which is not generated; generate it with: sudo sh -c 'echo ja_JP.UTF-8 UTF-8 >> /etc/locale.gen && locale-gen'"
expect_refusal "locale list without ja_JP.UTF-8" "$locale_sentence" \
  GLYPHDOCK_LOCALES="$(printf 'C\nC.utf8\nPOSIX\nen_US.utf8\nja_JP.eucjp')"
expect_refusal "an empty locale list" "$locale_sentence" GLYPHDOCK_LOCALES=

# The IPA font as Wine finds it, through fontconfig: a font configuration that knows
# no font folder leaves it out.
printf '<?xml version="1.0"?>\n<fontconfig><cachedir>%s</cachedir></fontconfig>\n' "$PKG_TMP/fc-cache" \
  > "$PKG_TMP/fonts.conf"
if command -v fc-list >/dev/null; then
  expect_refusal "no IPA font known to fontconfig" \
    "Glyphdock needs the Japanese IPA font, which is not installed; install it with: sudo apt-get install fonts-ipafont-gothic" \
    FONTCONFIG_FILE="$PKG_TMP/fonts.conf" GLYPHDOCK_LOCALES=ja_JP.utf8
else
  echo "SKIP: no IPA font: fc-list is not installed"
fi
# Everything installed but no X display (a login over ssh, a cron job): Wine would end
# at once with status 0 and say nothing.
if command -v wine >/dev/null && command -v fc-list >/dev/null && [ -n "$(fc-list IPAGothic file)" ]; then
  expect_refusal "no X display" \
    "Glyphdock is a window program and needs an X display, but DISPLAY is not set; start it from the desktop's menu or a terminal on the desktop" \
    GLYPHDOCK_LOCALES=ja_JP.utf8
  # Wine draws through X (XWayland on a Wayland desktop): a Wayland socket alone is no
  # display for it. Only Wine is added to the narrow PATH, so no message window is tried.
  mkdir -p "$PKG_TMP/wayland"
  cp -P "$nowine"/* "$PKG_TMP/wayland"/
  ln -s "$(command -v wine)" "$PKG_TMP/wayland/wine"
  env -u DISPLAY HOME="$home" GLYPHDOCK_LOCALES=ja_JP.utf8 WAYLAND_DISPLAY=wayland-0 PATH="$PKG_TMP/wayland" \
    "$timeout" 60 "$launcher" >/dev/null 2>"$PKG_TMP/err"
  check_eq "a Wayland socket alone: refused as without a display" "69|1" \
    "$?|$(grep -c 'DISPLAY is not set' "$PKG_TMP/err")"
else
  echo "SKIP: no X display: Wine or the IPA font is not installed, so an earlier check refuses first"
fi
[ ! -e "$home/.local/share/glyphdock" ] && pass "no prefix made by a refused start" ||
  fail "no prefix made by a refused start" "no $home/.local/share/glyphdock" "$(ls -R "$home" | head)"

# On a desktop: the sentence in a message window titled Glyphdock, with zenity and with
# xmessage (the launcher takes zenity first, so each runs with only its own tool on the
# PATH). The locale's refusal has the longest command. What each window holds is read
# back from its process (zenity) or its WM_COMMAND (xmessage); whether it has room for
# every line is read from the window's geometry.
locale_command="sudo sh -c 'echo ja_JP.UTF-8 UTF-8 >> /etc/locale.gen && locale-gen'"
desktop_refusal() {  # TOOL: starts the launcher; window= the X window of its message
  local tool=$1 dir=$PKG_TMP/with-$1 tries
  window=
  mkdir -p "$dir"
  cp -P "$nowine"/* "$dir"/
  ln -s "$(command -v "$tool")" "$dir/$tool"
  # Wine is there: the launcher gets as far as the locale.
  ln -s "$(command -v wine)" "$dir/wine"
  env HOME="$home" PATH="$dir" GLYPHDOCK_LOCALES=C "$timeout" 60 "$launcher" >/dev/null 2>&1
  check_eq "$tool: the exit status without waiting for the window" "69" "$?"
  for tries in $(seq 1 75); do
    window=$(xdotool search --onlyvisible --name '^Glyphdock$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.2
  done
}
# check_lines TOOL TEXT: the sentence wrapped, the command whole on a line of its own.
check_lines() {
  local longest
  longest=$(printf '%s\n' "$2" | awk '{ if (length($0) > n) n = length($0) } END { print n + 0 }')
  case $2 in
    *"Glyphdock needs the Japanese locale ja_JP.UTF-8"*"generate it with:"*) pass "$1: the sentence shown" ;;
    *) fail "$1: the sentence shown" "the locale sentence" "$2" ;;
  esac
  printf '%s\n' "$2" | grep -qxF "    $locale_command" && pass "$1: the command whole, on a line of its own" ||
    fail "$1: the command whole, on a line of its own" "    $locale_command" "$2"
  [ "$longest" -le 76 ] && pass "$1: no line longer than the command's" ||
    fail "$1: no line longer than the command's" "at most 76 characters" "$longest"
}
# width_of WINDOW
width_of() { xwininfo -id "$1" 2>/dev/null | sed -n 's/^ *Width: *//p'; }

if [ -z "${DISPLAY:-}" ]; then
  echo "SKIP: message windows: no X display"
elif ! command -v xdotool >/dev/null || ! command -v xprop >/dev/null || ! command -v xwininfo >/dev/null; then
  echo "SKIP: message windows: xprop, xwininfo or xdotool is not installed"
else
  if ! command -v xmessage >/dev/null; then
    echo "SKIP: xmessage window: xmessage is not installed"
  else
    desktop_refusal xmessage
    if [ -n "$window" ]; then
      # xmessage records its command line on its window: the text is its last word.
      shown=$(xprop -id "$window" -notype -len 4096 WM_COMMAND 2>&1 |
        python3 -c 'import ast, sys; line = sys.stdin.read().split("=", 1)[1].strip(); print(ast.literal_eval("[" + line.strip("{}") + "]")[-1])' 2>&1)
      check_lines xmessage "$shown"
      # xmessage cuts a line wider than its window (726 pixels for the one long line
      # here, 83 high); wrapped, the window is well inside the screen and has the height
      # of four lines (152 here).
      height=$(xwininfo -id "$window" | sed -n 's/^ *Height: *//p')
      screen=$(xwininfo -root | sed -n 's/^ *Width: *//p')
      [ "$(width_of "$window")" -lt "$((screen * 3 / 4))" ] && [ "$height" -ge 110 ] &&
        pass "xmessage: a window sized to the lines" ||
        fail "xmessage: a window sized to the lines" "narrower than 3/4 of $screen, 110 or more high" \
          "$(width_of "$window") x $height"
      xdotool windowkill "$window"
    else
      fail "xmessage: a message window titled Glyphdock" "an X window named Glyphdock" "none within 15 s"
    fi
  fi
  if ! command -v zenity >/dev/null || ! /usr/bin/python3 -c 'import gi; gi.require_version("Gtk", "3.0")' 2>/dev/null; then
    echo "SKIP: zenity window: zenity or python3-gi with GTK 3 is not installed"
  else
    desktop_refusal zenity
    if [ -n "$window" ]; then
      # Its text as the zenity process was given it, and its wrapping switched off.
      pid=$(xprop -id "$window" _NET_WM_PID 2>/dev/null | sed -n 's/.* = //p')
      arg() {  # the value of zenity's option $1 (a flag gives its own name)
        /usr/bin/python3 -c 'import sys
for a in open(sys.argv[1], "rb").read().decode().split("\0"):
    if a == sys.argv[2] or a.startswith(sys.argv[2] + "="): print(a.partition("=")[2] or a)' "/proc/$pid/cmdline" "$1" 2>&1
      }
      check_lines zenity "$(arg --text)"
      check_eq "zenity: lines kept as given" "--no-wrap" "$(arg --no-wrap)"
      # The window is at least as wide as GTK draws the command's line.
      needed=$(/usr/bin/python3 -c 'import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
print(Gtk.Label(label=sys.argv[1]).get_preferred_width()[1])' "    $locale_command" 2>/dev/null)
      [ -n "$needed" ] && [ "$(width_of "$window")" -gt "$needed" ] &&
        pass "zenity: the window is wider than the command's line" ||
        fail "zenity: the window is wider than the command's line" "more than ${needed:-?} pixels" "$(width_of "$window")"
      xdotool windowkill "$window"
    else
      fail "zenity: a message window titled Glyphdock" "an X window named Glyphdock" "none within 15 s"
    fi
  fi
fi

pkg_done

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
for tool in readlink dirname grep locale fc-list sed; do
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
[ ! -e "$home/.local/share/glyphdock" ] && pass "no prefix made by a refused start" ||
  fail "no prefix made by a refused start" "no $home/.local/share/glyphdock" "$(ls -R "$home" | head)"

# On a desktop: the sentence in a message window titled Glyphdock (xmessage here; the
# launcher takes zenity first where it is installed, so it is left off this PATH).
if [ -z "${DISPLAY:-}" ]; then
  echo "SKIP: message window: no X display"
elif ! command -v xmessage >/dev/null || ! command -v xdotool >/dev/null || ! command -v xprop >/dev/null; then
  echo "SKIP: message window: xmessage, xprop or xdotool is not installed"
else
  ln -s "$(command -v xmessage)" "$nowine/xmessage"
  env HOME="$home" PATH="$nowine" "$timeout" 60 "$launcher" >/dev/null 2>&1
  check_eq "on a desktop: the exit status without waiting for the window" "69" "$?"
  window=
  for tries in $(seq 1 50); do
    window=$(xdotool search --name '^Glyphdock$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  if [ -n "$window" ]; then
    pass "on a desktop: a message window titled Glyphdock"
    # xmessage records its command line on its window (WM_COMMAND).
    shown=$(xprop -id "$window" WM_COMMAND 2>&1)
    case $shown in
      *"Glyphdock needs Wine, which is not installed"*) pass "on a desktop: the window shows the sentence" ;;
      *) fail "on a desktop: the window shows the sentence" "xmessage with the sentence" "$shown" ;;
    esac
    # Ends the message program by closing its connection to the display.
    xdotool windowkill "$window"
  else
    fail "on a desktop: a message window titled Glyphdock" "an X window named Glyphdock" "none within 10 s"
  fi
fi

pkg_done

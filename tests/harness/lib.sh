# Shared by the harness scripts (sourced, not run): a private X display, a Wine prefix
# of the build's own, and the Japanese locale the program runs in.
#
#   harness_start_display         starts Xvfb on a free display number, sets DISPLAY
#   harness_prepare_prefix DIR    WINEPREFIX=DIR, created once (marker file) and reused;
#                                 leaves a persistent wineserver of the prefix running
#   harness_start_window_manager  starts openbox on DISPLAY and waits until it manages it
#   harness_stop                  ends this prefix's wineserver, openbox and Xvfb, silently
#   harness_wine CMD...           runs CMD with WINEDEBUG, LANG and LC_ALL set for Wine
#   glyphdock_map_fonts [CMD...]  gives the prefix the IPA faces for the Japanese UI fonts
#                                 (harness_prepare_prefix does it on creation and on reuse)
#
# The locale is handed to the commands only, not exported into the calling shell, which
# would complain on a host where ja_JP.UTF-8 has not been generated yet (the package
# check generates it: Wine maps Japanese file names through it).

HARNESS_XVFB_PID=
HARNESS_WM_PID=

harness_wine() {
  env WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$@"
}

# A display number is free when neither its socket nor its lock file exists; Xvfb
# itself settles a race with another starter (it fails, and the next number is tried).
harness_start_display() {
  local n
  for n in $(seq 91 399); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # Started in a subshell so that it is not a job of ours: no "Terminated" notice.
    HARNESS_XVFB_PID=$( (Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & echo $!) )
    local tries
    for tries in $(seq 1 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$HARNESS_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$HARNESS_XVFB_PID" 2>/dev/null
    HARNESS_XVFB_PID=
  done
  echo "harness: could not start Xvfb on any display from :91 to :399" >&2
  return 1
}

# A desktop has a window manager. Without one, Wine's X11 driver waits up to 2 s for a
# confirmation of every hidden window, and frames and title bars are not drawn. The
# manager announces itself through _NET_SUPPORTING_WM_CHECK on the root window.
harness_start_window_manager() {
  HARNESS_WM_PID=$( (openbox --sm-disable >/dev/null 2>&1 & echo $!) )
  local tries
  for tries in $(seq 1 100); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
      return 0
    fi
    kill -0 "$HARNESS_WM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "harness: openbox did not start on $DISPLAY" >&2
  return 1
}

# A wineserver started under another locale keeps its code page for every program it
# serves afterwards: end the prefix's server before the first start.
harness_end_wineserver() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  return 0
}

# >>> Japanese UI fonts (the same text in packaging/glyphdock and tests/harness/lib.sh)
# Wine lacks the fonts the program's windows ask for and stands in for each with what
# its matching picks: under the Japanese locale the fixed-pitch IPAGothic, whose 12-pixel
# underscore falls outside the glyph's cell, so "x86_64" reads "x86 64". The prefix's
# own font replacements (HKCU\Software\Wine\Fonts\Replacements) name the IPA face of the
# same widths instead: IPAPGothic for the proportional names, IPAGothic for the fixed
# ones. "MS Sans Serif" is the main window's; asked for in Shift-JIS, Windows gives it a
# proportional Gothic. "MS UI Gothic" is what "MS Shell Dlg", the status line's, menus'
# and message boxes' font, stands for under the Japanese locale.
# A line: the name asked for | that name as the prefix's user.reg spells it | the face.
glyphdock_font_replacements() {
    cat <<'MAP'
ＭＳ Ｐゴシック|\xff2d\xff33 \xff30\x30b4\x30b7\x30c3\x30af|IPAPGothic
MS PGothic|MS PGothic|IPAPGothic
MS UI Gothic|MS UI Gothic|IPAPGothic
MS Sans Serif|MS Sans Serif|IPAPGothic
ＭＳ ゴシック|\xff2d\xff33 \x30b4\x30b7\x30c3\x30af|IPAGothic
MS Gothic|MS Gothic|IPAGothic
MAP
}

# Prints the names whose replacement the prefix $WINEPREFIX lacks, one a line. Read
# from user.reg, without starting Wine (the file is current once the server has ended).
glyphdock_fonts_unmapped() {
    glyphdock_font_replacements | while IFS='|' read -r name spelled face; do
        grep -qF "\"$spelled\"=\"$face\"" "$WINEPREFIX/user.reg" 2>/dev/null || echo "$name"
    done
}

# Sets the replacements in $WINEPREFIX when one is missing, with one "reg import" run
# through the command given (e.g. env LANG=...), or plain wine when none is.
glyphdock_map_fonts() {
    [ -z "$(glyphdock_fonts_unmapped)" ] && return 0
    gd_reg=$(mktemp "${TMPDIR:-/tmp}/glyphdock-fonts.XXXXXX") || return 1
    # The import reads UTF-16 with its byte order mark, whatever the locale.
    {
        printf '\377\376'
        {
            printf 'Windows Registry Editor Version 5.00\r\n\r\n'
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
            glyphdock_font_replacements | while IFS='|' read -r name spelled face; do
                printf '"%s"="%s"\r\n' "$name" "$face"
            done
        } | iconv -f UTF-8 -t UTF-16LE
    } > "$gd_reg"
    "$@" wine reg import "$(printf '%s' "$gd_reg" | sed 's|/|\\|g; s|^|Z:|')" >/dev/null 2>&1
    gd_status=$?
    rm -f "$gd_reg"
    return $gd_status
}
# <<< Japanese UI fonts

harness_prepare_prefix() {
  export WINEPREFIX="$1"
  harness_end_wineserver
  if [ ! -f "$WINEPREFIX/.glyphdock-prefix-ready" ]; then
    echo "harness: creating the Wine prefix $WINEPREFIX (once; takes a minute)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko installer prompts on a display nobody looks at.
    if ! harness_wine WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot -i >/dev/null 2>&1; then
      echo "harness: wineboot failed for $WINEPREFIX" >&2
      return 1
    fi
    wineserver -w >/dev/null 2>&1
    touch "$WINEPREFIX/.glyphdock-prefix-ready"
  fi
  # Checked on every reuse as well: a prefix made before the fonts were mapped gets them.
  if ! glyphdock_map_fonts harness_wine || ! wineserver -w >/dev/null 2>&1 ||
     [ -n "$(glyphdock_fonts_unmapped)" ]; then
    echo "harness: could not set the font replacements in $WINEPREFIX" >&2
    return 1
  fi
  # Wine ends its server, and with it the prefix's service processes, as soon as the
  # last program exits; every test program would then pay seconds for their restart.
  # One persistent server, and its services started once with no terminal or pipe of
  # ours to hold open, make a test program start in well under a second. The server
  # puts itself in the background once it is ready (tens of ms); started with "&", a
  # program started next could win the race and start a server that does not stay.
  harness_wine wineserver -p </dev/null >/dev/null 2>&1
  harness_wine wine cmd /c exit </dev/null >/dev/null 2>&1
  return 0
}

harness_stop() {
  harness_end_wineserver
  if [ -n "$HARNESS_WM_PID" ]; then
    kill "$HARNESS_WM_PID" 2>/dev/null
    HARNESS_WM_PID=
  fi
  if [ -n "$HARNESS_XVFB_PID" ]; then
    kill "$HARNESS_XVFB_PID" 2>/dev/null
    # Xvfb removes its socket and lock as it goes; wait so the number is truly free.
    local tries
    for tries in $(seq 1 50); do
      kill -0 "$HARNESS_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    HARNESS_XVFB_PID=
  fi
}

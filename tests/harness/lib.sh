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

# The Japanese UI font replacements, as the launcher sets them in every prefix.
. "$(dirname "${BASH_SOURCE[0]}")/../../packaging/glyphdock-fonts.sh"

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

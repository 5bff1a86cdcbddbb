#!/usr/bin/env bash
# The installed glyphdock command starts the program on the display: the first start
# under a new HOME makes the per-user Wine prefix, the program's window (class
# TMainForm) appears, closing it stores the placement in that prefix's registry, and a
# second start reuses the prefix as it is.
#   launcher_test.sh SOURCE_DIR BUILD_DIR
set -u
. "$(dirname "$0")/lib.sh"
pkg_init "$1" "$2"
[ -n "${DISPLAY:-}" ] || skip "no X display (run it through tests/harness/ctest.sh)"
command -v wine >/dev/null || skip "wine is not installed"

dest=$PKG_TMP/root
pkg_install "$dest" || { fail "make install"; pkg_done; }
launcher=$dest/usr/local/bin/glyphdock
home=$PKG_TMP/home
mkdir -p "$home"
prefix=$home/.local/share/glyphdock/prefix
# The program, the probe and the server of this prefix end with the test.
PKG_CLEANUPS+=('WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1; WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1')

# As from a desktop session: a HOME of its own, no Wine settings of the test harness.
run_launcher() {
  env -u WINEPREFIX -u WINEDEBUG -u XDG_DATA_HOME HOME="$home" "$launcher" \
    >"$PKG_TMP/out$1" 2>"$PKG_TMP/err$1" &
  LAUNCHER_PID=$!
}

# The probe lists top-level windows of the prefix by Win32 class.
main_window_line() {
  printf 'main\nquit\n' | env -u WINEDEBUG WINEDEBUG=-all WINEPREFIX="$prefix" \
    LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 timeout 60 wine "$PKG_BUILD/bin/glyphdock_probe.exe" 2>/dev/null |
    tr -d '\r' | grep '^main '
}

wait_main_window() {
  local deadline=$((SECONDS + $1)) line
  while [ $SECONDS -lt $deadline ]; do
    kill -0 "$LAUNCHER_PID" 2>/dev/null || return 1
    if [ -f "$prefix/.glyphdock-ready" ]; then
      line=$(main_window_line)
      case $line in *visible=1*) echo "$line"; return 0 ;; esac
    fi
    sleep 1
  done
  return 1
}

# Closing as the window manager's close button does: WM_CLOSE to the main window.
close_program() {
  env -u WINEDEBUG WINEDEBUG=-all WINEPREFIX="$prefix" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 \
    timeout 60 wine taskkill /im Glyphdock.exe >/dev/null 2>&1
  local tries
  for tries in $(seq 1 60); do
    kill -0 "$LAUNCHER_PID" 2>/dev/null || break
    sleep 0.5
  done
  if kill -0 "$LAUNCHER_PID" 2>/dev/null; then
    kill "$LAUNCHER_PID"
    return 1
  fi
  wait "$LAUNCHER_PID"
}

# First start: a fresh prefix.
run_launcher 1
if line=$(wait_main_window 300); then
  pass "first start: the main window (TMainForm) shown: $line"
else
  fail "first start: the main window (TMainForm) shown within 300 s"
  cat "$PKG_TMP/err1"
fi
[ -f "$prefix/system.reg" ] && [ -f "$prefix/.glyphdock-ready" ] &&
  pass "the prefix made under \$HOME/.local/share/glyphdock/prefix" ||
  fail "the prefix made under \$HOME/.local/share/glyphdock/prefix" "system.reg and the ready marker" "$(ls -A "$prefix" 2>&1)"
grep -q 'setting up the Wine prefix' "$PKG_TMP/err1" &&
  pass "the first start says it sets up the prefix" ||
  fail "the first start says it sets up the prefix" "a 'setting up' line" "$(cat "$PKG_TMP/err1")"
close_program
check_eq "the program ends with 0 after a close" "0" "$?"
# The registry reaches user.reg when the prefix's server has ended.
WINEPREFIX="$prefix" timeout 60 wineserver -w
grep -q '^\[Software\\\\Quillfen\\\\Glyphdock\\\\Status\]' "$prefix/user.reg" &&
  pass "the placement stored in the per-user prefix's registry" ||
  fail "the placement stored in the per-user prefix's registry" "[Software\\\\Quillfen\\\\Glyphdock\\\\Status] in user.reg" \
    "$(grep -c Quillfen "$prefix/user.reg" 2>&1) lines naming Quillfen"

# The Japanese UI font names mapped onto the IPA faces in the prefix's registry.
unmapped() { (. "$PKG_TOP/tests/harness/lib.sh" && WINEPREFIX="$prefix" glyphdock_fonts_unmapped); }
glyphdock_names() { (. "$PKG_TOP/tests/harness/lib.sh" && glyphdock_font_replacements | cut -d'|' -f1); }
check_eq "first start: the prefix maps every Japanese UI font name" "" "$(unmapped)"
# The installed launcher reads the font list the harness reads, installed beside the program.
cmp -s "$dest/usr/local/share/glyphdock/fonts.sh" "$PKG_TOP/packaging/glyphdock-fonts.sh" &&
  pass "the launcher's font list is the one the harness reads" ||
  fail "the launcher's font list is the one the harness reads" "packaging/glyphdock-fonts.sh installed as share/glyphdock/fonts.sh" \
    "$(ls -l "$dest/usr/local/share/glyphdock" 2>&1)"

# Second start: the same prefix, not made again. It is taken as one an older launcher
# made, without the font replacements: they are set again on the way.
env -u WINEDEBUG WINEDEBUG=-all WINEPREFIX="$prefix" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 \
  timeout 60 wine reg delete 'HKCU\Software\Wine\Fonts\Replacements' /f >/dev/null 2>&1
WINEPREFIX="$prefix" timeout 60 wineserver -w
check_eq "the replacements removed for the second start" "$(glyphdock_names)" "$(unmapped)"
touch "$prefix/drive_c/kept-between-starts"
marker_before=$(stat -c %Y.%i "$prefix/.glyphdock-ready" 2>&1)
run_launcher 2
if line=$(wait_main_window 120); then
  pass "second start: the main window shown: $line"
else
  fail "second start: the main window shown within 120 s"
  cat "$PKG_TMP/err2"
fi
check_eq "second start: the prefix reused (ready marker untouched)" "$marker_before" \
  "$(stat -c %Y.%i "$prefix/.glyphdock-ready" 2>&1)"
[ -f "$prefix/drive_c/kept-between-starts" ] && ! grep -q 'setting up' "$PKG_TMP/err2" &&
  pass "second start: nothing set up again" ||
  fail "second start: nothing set up again" "the prefix's files kept, no 'setting up' line" "$(cat "$PKG_TMP/err2")"
close_program
check_eq "the second run ends with 0 after a close" "0" "$?"
WINEPREFIX="$prefix" timeout 60 wineserver -w
check_eq "second start: the font replacements set again" "" "$(unmapped)"

pkg_done

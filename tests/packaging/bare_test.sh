#!/usr/bin/env bash
# make deb on a machine without CMake: the build tools are installed first, as make run
# and make test install theirs, or, for an ordinary user, the one apt-get command that
# installs them is printed and make stops before anything runs CMake. The machine is
# this one with CMake left off the PATH; apt-get is a stand-in that records what it is
# asked for and then "installs" CMake by putting it back on that PATH.
#   bare_test.sh SOURCE_DIR BUILD_DIR
set -u
. "$(dirname "$0")/lib.sh"
pkg_init "$1" "$2"

[ -f "$PKG_BUILD/bin/Glyphdock.exe" ] || skip "$PKG_BUILD/bin/Glyphdock.exe is not built"
real_cmake=$(command -v cmake) || skip "cmake is not installed here, so there is nothing to hide"

# Every command of the system's folders but CMake's, and a recording apt-get.
bare=$PKG_TMP/bin
mkdir -p "$bare"
for dir in /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
  for tool in "$dir"/*; do
    name=${tool##*/}
    case $name in cmake | ctest | cpack | apt-get) continue ;; esac
    [ -e "$bare/$name" ] || ln -s "$tool" "$bare/$name"
  done
done
cat > "$bare/apt-get" <<EOF
#!/bin/sh
echo "\$*" >> "$PKG_TMP/apt-get.log"
case " \$* " in *" install "*" cmake "*) ln -sf "$real_cmake" "$bare/cmake" ;; esac
exit 0
EOF
chmod 755 "$bare/apt-get"

deb=$PKG_BUILD/glyphdock_$(pkg_version)_amd64.deb
make_deb() {  # as whoever runs it, with the bare PATH
  env -u MAKEFLAGS -u MAKELEVEL PATH="$bare" "$@" make -C "$PKG_TOP" --no-print-directory deb \
    BUILD="$PKG_BUILD" >"$PKG_TMP/make.log" 2>&1
}

# An ordinary user: the one command, and make stops.
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: as an ordinary user: this test runs as that user: the case below"
elif ! id nobody >/dev/null 2>&1 || ! command -v runuser >/dev/null; then
  echo "SKIP: as an ordinary user: no user nobody or no runuser"
else
  chmod 755 "$PKG_TMP"
  make_deb runuser -u nobody --
  status=$?
  [ "$status" -ne 0 ] && pass "as an ordinary user: make deb stops" ||
    fail "as an ordinary user: make deb stops" "a non-zero status" "$status"
  grep -qx '  apt-get update && apt-get install -y --no-install-recommends cmake' "$PKG_TMP/make.log" &&
    pass "as an ordinary user: the one apt-get command, naming cmake" ||
    fail "as an ordinary user: the one apt-get command, naming cmake" "apt-get ... install ... cmake" "$(cat "$PKG_TMP/make.log")"
  ! grep -Eq 'not found|No such file' "$PKG_TMP/make.log" && pass "as an ordinary user: no command missing on the way" ||
    fail "as an ordinary user: no command missing on the way" "no 'not found' or 'No such file'" "$(cat "$PKG_TMP/make.log")"
  [ ! -e "$PKG_TMP/apt-get.log" ] && pass "as an ordinary user: nothing installed" ||
    fail "as an ordinary user: nothing installed" "apt-get not run" "$(cat "$PKG_TMP/apt-get.log")"
fi

# Root: CMake installed, then the package built.
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: as root: this test runs as an ordinary user"
else
  rm -f "$deb"
  make_deb
  check_eq "as root: make deb succeeds" "0" "$?"
  check_eq "as root: apt-get asked for the package list, then for cmake" \
    "update -q|install -y -q --no-install-recommends cmake" "$(paste -sd'|' "$PKG_TMP/apt-get.log" 2>&1)"
  dpkg-deb -c "$deb" 2>/dev/null | grep -q '\./usr/share/glyphdock/Glyphdock\.exe$' &&
    pass "as root: the package holds Glyphdock.exe" ||
    fail "as root: the package holds Glyphdock.exe" "$deb with usr/share/glyphdock/Glyphdock.exe" "$(tail -5 "$PKG_TMP/make.log")"
fi

# Without Wine: the package's configure succeeds (Wine runs only the tests); a configure
# that fails (the tests asked for, no Wine) leaves no cache behind, so the next make
# configures again instead of building the half-made tree. Real CMake runs here, with
# every wine command left off the PATH; nothing is built.
nowine=$PKG_TMP/nowine-bin
mkdir -p "$nowine"
for tool in /usr/local/sbin/* /usr/local/bin/* /usr/sbin/* /usr/bin/* /sbin/* /bin/*; do
  name=${tool##*/}
  case $name in wine | wine64 | wine-stable | wineserver | wine64-stable) continue ;; esac
  [ -e "$nowine/$name" ] || ln -s "$tool" "$nowine/$name"
done
tree=$PKG_TMP/nowine-tree
env PATH="$nowine" cmake -S "$PKG_TOP" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$PKG_TOP/cmake/mingw-w64-x86_64.cmake" \
  -DGLYPHDOCK_TESTS=OFF -DGLYPHDOCK_BENCH=OFF >"$PKG_TMP/nowine.log" 2>&1
status=$?
check_eq "without Wine: the package's configure succeeds and writes the build system" "0 yes" \
  "$status $([ -f "$tree/Makefile" ] && echo yes || echo no)"
[ "$status" -eq 0 ] || tail -5 "$PKG_TMP/nowine.log"
tree=$PKG_TMP/failed-tree
env -u MAKEFLAGS -u MAKELEVEL PATH="$nowine" make -C "$PKG_TOP" --no-print-directory build BUILD="$tree" \
  >"$PKG_TMP/failed.log" 2>&1
status=$?
grep -q 'The tests run under Wine, which is not installed' "$PKG_TMP/failed.log" && [ "$status" -ne 0 ] &&
  pass "without Wine: a test tree's configure stops, naming Wine" ||
  fail "without Wine: a test tree's configure stops, naming Wine" "status != 0 and the sentence" "$status: $(tail -3 "$PKG_TMP/failed.log")"
check_eq "the failed configure leaves no cache and no build system" "no no" \
  "$([ -e "$tree/CMakeCache.txt" ] && echo yes || echo no) $([ -e "$tree/Makefile" ] && echo yes || echo no)"
env -u MAKEFLAGS -u MAKELEVEL PATH="$nowine" make -C "$PKG_TOP" --no-print-directory build BUILD="$tree" \
  >"$PKG_TMP/again.log" 2>&1
grep -q 'The tests run under Wine, which is not installed' "$PKG_TMP/again.log" &&
  pass "the next make configures that tree again" ||
  fail "the next make configures that tree again" "CMake run again, naming Wine" "$(tail -3 "$PKG_TMP/again.log")"
# A tree that an earlier, failed configure left with a cache but no build system: make
# deb configures it again (CMake is a stand-in here that records its call and fails).
tree=$PKG_TMP/stale-tree
mkdir -p "$tree" "$PKG_TMP/failing-cmake"
cp -P "$nowine"/* "$PKG_TMP/failing-cmake"/ 2>/dev/null
rm -f "$PKG_TMP/failing-cmake/cmake"
printf '#!/bin/sh\necho "cmake $*" >> "%s/cmake.log"\nexit 1\n' "$PKG_TMP" > "$PKG_TMP/failing-cmake/cmake"
chmod 755 "$PKG_TMP/failing-cmake/cmake"
echo 'GLYPHDOCK_TESTS:BOOL=OFF' > "$tree/CMakeCache.txt"
env -u MAKEFLAGS -u MAKELEVEL PATH="$PKG_TMP/failing-cmake" make -C "$PKG_TOP" --no-print-directory deb BUILD="$tree" \
  >"$PKG_TMP/stale.log" 2>&1
check_eq "a stale cache without a build system: make deb configures again, and the failure takes the cache" \
  "cmake -S . -B $tree|no cache" \
  "$(cut -d' ' -f1-5 "$PKG_TMP/cmake.log" 2>&1 | head -1)|$([ -e "$tree/CMakeCache.txt" ] && echo cache || echo no cache)"

# What a fresh tree builds for the package: the program alone, configured without tests
# and benchmarks (shown by make -n, which runs nothing).
plan=$(env -u MAKEFLAGS -u MAKELEVEL make -n -C "$PKG_TOP" --no-print-directory deb BUILD="$PKG_TMP/fresh" 2>&1)
printf '%s\n' "$plan" | grep -q -- '-DGLYPHDOCK_TESTS=OFF -DGLYPHDOCK_BENCH=OFF' &&
  pass "a fresh tree is configured without tests and benchmarks" ||
  fail "a fresh tree is configured without tests and benchmarks" "cmake ... -DGLYPHDOCK_TESTS=OFF -DGLYPHDOCK_BENCH=OFF" "$plan"
printf '%s\n' "$plan" | grep -q -- "cmake --build $PKG_TMP/fresh .*--target Glyphdock" &&
  pass "only the shipped program is built" ||
  fail "only the shipped program is built" "cmake --build ... --target Glyphdock" "$plan"

pkg_done

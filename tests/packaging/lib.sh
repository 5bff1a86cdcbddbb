# Shared by the packaging tests (sourced): checks that report what was expected and what
# was seen, a skip that CTest counts as skipped, and a make install into a fresh tree.
#
#   usage in a test: . lib.sh; pkg_init SOURCE_DIR BUILD_DIR; ...; pkg_done
# Every check runs; the test fails at pkg_done when one of them failed.

PKG_FAILED=0
PKG_SKIP=77

pkg_init() {
  PKG_TOP=$1
  PKG_BUILD=$2
  PKG_TMP=$(mktemp -d /tmp/glyphdock-pkgtest.XXXXXX)
  trap 'pkg_cleanup' EXIT
}

# Tests add their own clean-up steps (a program to end) to this list.
PKG_CLEANUPS=()
pkg_cleanup() {
  local step
  for step in "${PKG_CLEANUPS[@]}"; do eval "$step"; done
  rm -rf "$PKG_TMP"
}

pass() { echo "PASS: $1"; }
fail() {
  echo "FAIL: $1"
  [ $# -ge 2 ] && printf '      expected: %s\n      seen:     %s\n' "$2" "$3"
  PKG_FAILED=1
}
# check_eq NAME EXPECTED SEEN
check_eq() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "$2" "$3"; fi
}
skip() {
  echo "SKIP: $1"
  exit "$PKG_SKIP"
}
pkg_done() {
  [ "$PKG_FAILED" -eq 0 ] || exit 1
  exit 0
}

# pkg_install DESTDIR [make variables...]: make install of the built tree, quietly.
pkg_install() {
  local dest=$1
  shift
  env -u MAKEFLAGS -u MAKELEVEL make -s -C "$PKG_TOP" --no-print-directory install \
    BUILD="$PKG_BUILD" DESTDIR="$dest" "$@" >"$PKG_TMP/install.log" 2>&1 || {
    cat "$PKG_TMP/install.log"
    return 1
  }
}

# Files and links of a tree, one relative path a line, sorted.
pkg_tree() {
  (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
}

# The version in VERSION, as the packages name it.
pkg_version() {
  cat "$PKG_TOP/VERSION"
}

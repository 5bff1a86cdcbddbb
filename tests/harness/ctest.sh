#!/usr/bin/env bash
# Runs some of the tests in the same environment as make test, e.g.
#   tests/harness/ctest.sh -R FixtureIcons
#   tests/harness/ctest.sh -R 'MainForm\.' -V
# Every option goes to ctest. Build first (make); the build directory is
# $GLYPHDOCK_BUILD_DIR, or build/ at the top of the tree.
exec "$(dirname "$0")/run-tests.sh" "$@"

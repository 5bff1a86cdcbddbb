#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need, when some
# are missing. As root it installs them; otherwise it prints the one command to run.
#
#   scripts/install-deps.sh           everything: make run, make test, make bench, ...
#   scripts/install-deps.sh --build   what make install, make deb and make dist need to
#                                     build what they ship (no tests, no Wine)
set -u
# What building the shipped files takes: the cross compilers and resource tools, CMake,
# python3 for the pictures, the native compiler and zlib for glyphdock-export, zip for
# the Windows zip (dpkg-deb comes with dpkg).
build_packages=(
  cmake make python3
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  g++ zlib1g-dev libz-mingw-w64-dev
  zip
)
if [ "${1:-}" = --build ]; then
  packages=("${build_packages[@]}")
else
  packages=(
    "${build_packages[@]}" locales
    googletest
    wine wine64 xvfb xauth xdotool fonts-ipafont-gothic
    imagemagick icoutils xclip python3-gi gir1.2-gtk-3.0 openbox x11-utils
    desktop-file-utils lintian unzip dpkg-dev fakeroot
    clang libclang-rt-14-dev time
    # the desktops' thumbnail clients the thumbnailer is tested through, and the file
    # manager of make screenshot
    shared-mime-info libglib2.0-bin gir1.2-gnomedesktop-3.0 bubblewrap tumbler dbus pcmanfm
  )
fi
# The command a build package is run by: one that is not on the PATH counts as missing
# even where dpkg lists the package (a tool removed or left off the PATH).
declare -A command_of=(
  [cmake]=cmake [make]=make [python3]=python3 [zip]=zip [g++]=g++
  [g++-mingw-w64-x86-64-posix]=x86_64-w64-mingw32-g++-posix
  [gcc-mingw-w64-x86-64-posix]=x86_64-w64-mingw32-gcc-posix
  [binutils-mingw-w64-x86-64]=x86_64-w64-mingw32-windres
)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)
  if [ "$status" != "install ok installed" ] ||
     { [ -n "${command_of[$p]:-}" ] && ! command -v "${command_of[$p]}" >/dev/null 2>&1; }; then
    missing+=("$p")
  fi
done
# Wine takes file names through the Unix locale: without a real ja_JP.UTF-8 locale every
# Japanese file name fails to open.
ensure_locale() {
  locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "The ja_JP.UTF-8 locale is missing. As root: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8"
    return 1
  fi
  echo "Generating the ja_JP.UTF-8 locale"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}
if [ ${#missing[@]} -eq 0 ]; then
  [ "${1:-}" = --build ] && exit 0
  ensure_locale
  exit $?
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}"
  echo "Install them as root, then run make again:"
  echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  exit 1
fi
echo "Installing missing Debian packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}" || exit 1
[ "${1:-}" = --build ] && exit 0
ensure_locale

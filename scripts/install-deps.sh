#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need, when some
# are missing. As root it installs them; otherwise it prints the one command to run.
set -u
packages=(
  cmake make python3 locales
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  googletest
  wine wine64 xvfb xauth xdotool fonts-ipafont-gothic
  imagemagick icoutils xclip python3-gi gir1.2-gtk-3.0 openbox x11-utils
  desktop-file-utils lintian zip unzip dpkg-dev fakeroot
  g++ zlib1g-dev libz-mingw-w64-dev
)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)
  [ "$status" = "install ok installed" ] || missing+=("$p")
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
apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"
ensure_locale

#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tomebox (installs what is missing), builds
# it out of tree, then starts the program ("run") or runs every test
# ("test"); "cli" builds only tomebox-cli and its tools, with no windows, in
# build-cli/ (for pipelines).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev fonts-dejavu-core
  qt6-translations-l10n xdg-utils
  libgtest-dev libbenchmark-dev
  libchm-dev libchm-bin
  desktop-file-utils appstream dpkg-dev xvfb
  libmspack-dev p7zip-full python3-chm
  python3-doc libicu-dev
  gettext help2man locales libc-l10n x11-utils xauth
  clang-format
  qt6-webengine-dev
  python3-sphinx python3-sphinxcontrib.htmlhelp doxygen docbook-xsl xsltproc
)

install_missing() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The C++ sources as .clang-format lays them out; a difference fails.
check_format() {
  git ls-files -z 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'tests/*.cpp' 'tests/*.h' \
    'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' | xargs -0 clang-format --dry-run -Werror
}

build() { # folder, cmake options...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j 2
}

case "${1:-}" in
run)
  install_missing
  build build
  exec build/bin/tomebox
  ;;
test)
  install_missing
  check_format
  build build -DTOMEBOX_WERROR=ON
  (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2)
  # The core and its tests once more under AddressSanitizer and UBSan.
  build build-asan -DTOMEBOX_SANITIZE=ON -DTOMEBOX_UI=OFF -DTOMEBOX_BENCH=OFF -DTOMEBOX_WERROR=ON
  (cd build-asan && ctest --output-on-failure -j 2)
  ;;
cli)
  install_missing
  cmake -S . -B build-cli -G Ninja -DTOMEBOX_UI=OFF -DTOMEBOX_BENCH=OFF >/dev/null
  cmake --build build-cli -j 2 --target tomebox-cli hhc hh
  echo "$PWD/build-cli/bin/tomebox-cli"
  ;;
*)
  echo "usage: $0 run|test|cli" >&2
  exit 2
  ;;
esac

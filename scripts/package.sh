#!/usr/bin/env bash
# Builds the Debian package nodewarden_VERSION_ARCH.deb from a release build in build-release/
# (warnings are errors): the two programs, the desktop entry and the icons, the man pages, bash
# completion, and the stand-alone TFTP server's systemd unit. The package's dependencies come
# from the libraries the programs link (dpkg-shlibdeps). Prints the package's path last.
# Extra arguments go to cmake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NW_PACKAGE_BUILD_DIR:-$root/build-release}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNW_WERROR=ON \
  -DNW_BUILD_TESTS=OFF -DNW_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
rm -f nodewarden_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
package=$(ls "$build"/nodewarden_*.deb)
echo "$package"

#!/usr/bin/env bash
# Builds the Debian source package and its three binary packages (nodewarden, nodewarden-sim,
# nodewarden-ansible) with dpkg-buildpackage from a clean copy of the source tree in
# build-release/source/ (what git tracks, and new files it does not ignore). Prints the path of
# the .changes file last; the packages lie beside it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${NW_PACKAGE_BUILD_DIR:-$root/build-release}
"$root/scripts/install-deps.sh"

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
out=$work/source
tree=$out/nodewarden-$version
rm -rf "$out"
mkdir -p "$tree"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf -) | tar -C "$tree" -xf -

cd "$tree"
if ! dpkg-buildpackage -us -uc -j"$(nproc)" >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  echo "package: dpkg-buildpackage failed (the whole log: $out/build.log)" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
changes=$out/nodewarden_${version}_${arch}.changes
[ -f "$changes" ] || { echo "package: no $changes" >&2; exit 1; }
echo "$changes"

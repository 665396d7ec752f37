#!/usr/bin/env bash
# Installs every Debian package that building, testing, the demo and the benchmarks
# need. Idempotent: installs only what is missing. Works as root or through sudo.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config git
  qt6-base-dev libssl-dev libgtest-dev libgmock-dev
  # (not needed by the build: it keeps Qt's CMake files from reporting it missing)
  libxkbcommon-dev
  # window tests and screenshots
  xvfb xauth imagemagick xdotool
  # TFTP interoperability tests and the TFTP benchmark's reference server
  tftp-hpa tftpd-hpa curl
  # network namespaces for the LAN runs, process figures in the benchmarks
  iproute2 procps time
  # fuzz targets (libFuzzer with ASan/UBSan) and their seed script
  clang libclang-rt-14-dev python3
  # the Debian packages (debhelper, lintian, the AppStream metainfo's validator), their check
  # in a clean Debian 12 root, and the man pages' check (groff also formats the window's
  # Help > Manual Page)
  dpkg-dev debhelper lintian appstream file libcap2-bin debootstrap groff-base
  # the Ansible collection's tests (ansible-playbook, ansible-doc, ansible-test), and what
  # ansible-test sanity's pylint, pep8, yamllint and validate-modules run on offline
  ansible-core python3-venv pylint pycodestyle yamllint python3-voluptuous
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
# tftpd-hpa must not start a system service on port 69 while we only want its binary.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee /usr/sbin/policy-rc.d >/dev/null
  "${sudo[@]}" chmod +x /usr/sbin/policy-rc.d
  trap '"${sudo[@]}" rm -f /usr/sbin/policy-rc.d' EXIT
fi
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

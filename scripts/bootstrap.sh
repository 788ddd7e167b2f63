#!/usr/bin/env bash
# Installs everything the project builds and tests with, from Debian 12's own
# archive. Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev llvm
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libhidapi-dev libopenvr-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64
  socat python3 locales
)

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "bootstrap: need root or sudo to install packages" >&2
  exit 1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# A decimal-comma locale, so the tests can prove numbers ignore the host locale.
need_locale=0
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  need_locale=1
fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_locale" -eq 0 ]; then
  echo "bootstrap: everything is installed"
  exit 0
fi

if [ "${#missing[@]}" -gt 0 ]; then
  # libopenvr-dev lives in Debian's contrib component.
  src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    if grep -q '^Components:' "$src" && ! grep -q '^Components:.*contrib' "$src"; then
      "${SUDO[@]}" sed -i -E 's/^(Components:.*\bmain\b.*)$/\1 contrib/' "$src"
    fi
  elif [ -f /etc/apt/sources.list ]; then
    if ! grep -qE '^deb .* contrib' /etc/apt/sources.list; then
      "${SUDO[@]}" sed -i -E '/^deb /s/ main( |$)/ main contrib\1/' /etc/apt/sources.list
    fi
  fi
  echo "bootstrap: installing ${missing[*]}"
  "${SUDO[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ "$need_locale" -eq 1 ]; then
  if ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'de_DE.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${SUDO[@]}" locale-gen >/dev/null
fi
echo "bootstrap: done"

#!/usr/bin/env bash
# Installs everything the project builds and tests with, from Debian 12's own
# archive, and unpacks hidapi's source package for the Windows hidapi.dll and
# cpp-httplib's for the panel's web server (its single header, built without
# TLS, so the shipped zelvan-ctl needs no OpenSSL or brotli).
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev llvm
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libhidapi-dev libopenvr-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64
  nsis
  socat python3 locales
  ccache
  dpkg-dev
  fuse3
  libfuse3-dev
  desktop-file-utils
  chromium chromium-driver python3-selenium
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
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep "install ok installed" >/dev/null; then
    missing+=("$p")
  fi
done

# A decimal-comma locale, so the tests can prove numbers ignore the host locale.
need_locale=0
if ! locale -a 2>/dev/null | grep -i '^de_DE\.utf-\?8$' >/dev/null; then
  need_locale=1
fi

# hidapi's source package, from which the Windows build makes hidapi.dll;
# the build finds it by the same glob, so a point release still works.
hidapi_src_root=/usr/local/src/hidapi
need_hidapi_src=1
if compgen -G "$hidapi_src_root/hidapi-*/windows/hid.c" >/dev/null; then
  need_hidapi_src=0
fi

httplib_src_root=/usr/local/src/cpp-httplib
need_httplib_src=1
if compgen -G "$httplib_src_root/cpp-httplib-*/httplib.h" >/dev/null; then
  need_httplib_src=0
fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_locale" -eq 0 ] && [ "$need_hidapi_src" -eq 0 ] &&
   [ "$need_httplib_src" -eq 0 ]; then
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
if [ "$need_hidapi_src" -eq 1 ] || [ "$need_httplib_src" -eq 1 ]; then
  # apt-get source needs deb-src entries for bookworm main; the machine's own
  # mirror and keyring are reused.
  src=/etc/apt/sources.list.d/debian.sources
  srcdeb=/etc/apt/sources.list.d/zelvan-deb-src.sources
  if [ -f "$src" ]; then
    if [ ! -f "$srcdeb" ]; then
      stanza=$(awk -v RS= '/(^|\n)Types:([^\n]*[ \t])?deb([ \t\n]|$)/ && /(^|\n)Suites:([^\n]*[ \t])?bookworm([ \t\n]|$)/ {print; exit}' "$src")
      uris=$(echo "$stanza" | grep -m1 '^URIs:' || true)
      signed=$(echo "$stanza" | grep -m1 '^Signed-By:' || true)
      [ -n "$uris" ] || { echo "bootstrap: no bookworm entry in $src" >&2; exit 1; }
      printf 'Types: deb-src\n%s\nSuites: bookworm\nComponents: main\n%s\n' "$uris" "$signed" |
        "${SUDO[@]}" tee "$srcdeb" >/dev/null
    fi
  elif [ -f /etc/apt/sources.list ]; then
    if ! grep -qE '^deb-src .* bookworm .*main' /etc/apt/sources.list; then
      line=$(grep -m1 -E '^deb .* bookworm .*main' /etc/apt/sources.list || true)
      [ -n "$line" ] || { echo "bootstrap: no bookworm entry in /etc/apt/sources.list" >&2; exit 1; }
      echo "$line" | sed -E 's/^deb /deb-src /; s/ bookworm .*$/ bookworm main/' |
        "${SUDO[@]}" tee -a /etc/apt/sources.list >/dev/null
    fi
  fi
  "${SUDO[@]}" apt-get update -q
fi
if [ "$need_hidapi_src" -eq 1 ]; then
  echo "bootstrap: unpacking hidapi's source package into $hidapi_src_root"
  "${SUDO[@]}" mkdir -p "$hidapi_src_root"
  (cd "$hidapi_src_root" && "${SUDO[@]}" apt-get source -q hidapi)
  compgen -G "$hidapi_src_root/hidapi-*/windows/hid.c" >/dev/null ||
    { echo "bootstrap: hidapi's source did not unpack into $hidapi_src_root" >&2; exit 1; }
fi
if [ "$need_httplib_src" -eq 1 ]; then
  echo "bootstrap: unpacking cpp-httplib's source package into $httplib_src_root"
  "${SUDO[@]}" mkdir -p "$httplib_src_root"
  (cd "$httplib_src_root" && "${SUDO[@]}" apt-get source -q cpp-httplib)
  compgen -G "$httplib_src_root/cpp-httplib-*/httplib.h" >/dev/null ||
    { echo "bootstrap: cpp-httplib's source did not unpack into $httplib_src_root" >&2; exit 1; }
fi
echo "bootstrap: done"

#!/usr/bin/env bash
# Checks the dynamic symbol table of the built driver: HmdDriverFactory must
# be its only export, and the Windows DLL may import only from system DLLs and
# hidapi.dll (a SteamVR installation has no mingw runtime DLLs).
set -euo pipefail
lib=$1
platform=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$platform" = posix ]; then
  exports=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
  [ "$exports" = "HmdDriverFactory" ] || fail "exports of $lib are:"$'\n'"$exports"
  needed=$(objdump -p "$lib" | awk '/NEEDED/ {print $2}')
  echo "$needed" | grep -q '^libhidapi-hidraw\.so' || fail "$lib does not link libhidapi-hidraw dynamically"
else
  dump=$(x86_64-w64-mingw32-objdump -p "$lib")
  exports=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[/ {print $NF; next} t {t=0}' | sort)
  [ "$exports" = "HmdDriverFactory" ] || fail "exports of $lib are:"$'\n'"$exports"
  imports=$(echo "$dump" | awk '/DLL Name:/ {print $3}' | sort -u)
  for dll in $imports; do
    case "$dll" in
      KERNEL32.dll|msvcrt.dll|hidapi.dll|api-ms-win-crt-*.dll|ADVAPI32.dll|USER32.dll) ;;
      *) fail "$lib imports from $dll" ;;
    esac
  done
  echo "$imports" | grep -qx hidapi.dll || fail "$lib does not import hidapi.dll"
fi
echo "exports: $exports"

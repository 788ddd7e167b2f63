#!/usr/bin/env bash
# Checks the dynamic symbol table of the built driver: HmdDriverFactory must
# be its only export, and the Windows DLL may import only from system DLLs and
# hidapi.dll (a SteamVR installation has no mingw runtime DLLs). With
# `windows-hidapi`, checks the hidapi.dll shipped beside it instead.
set -euo pipefail
lib=$1
platform=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

# The hidapi.dll shipped beside the Windows driver must be hidapi's own build
# (not the simulated sensor's), need no mingw runtime DLLs, and provide every
# function the driver (third argument) imports from it.
if [ "$platform" = windows-hidapi ]; then
  driver=$3
  dump=$(x86_64-w64-mingw32-objdump -p "$lib")
  exports=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[/ {print $NF; next} t {t=0}' | sort)
  echo "$exports" | grep -qx hid_winapi_get_container_id || fail "$lib is not hidapi's Windows build"
  if echo "$exports" | grep -q '^zelvan_sim_'; then fail "$lib is the simulated sensor"; fi
  for dll in $(echo "$dump" | awk '/DLL Name:/ {print $3}' | sort -u); do
    case "$dll" in
      KERNEL32.dll|msvcrt.dll|api-ms-win-crt-*.dll|ADVAPI32.dll|SETUPAPI.dll|CFGMGR32.dll|HID.DLL) ;;
      *) fail "$lib imports from $dll" ;;
    esac
  done
  wanted=$(x86_64-w64-mingw32-objdump -p "$driver" |
    awk '/DLL Name:/ {t = ($3 == "hidapi.dll"); next} t && /^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+[A-Za-z_]/ {print $NF}' | sort)
  [ -n "$wanted" ] || fail "$driver imports nothing from hidapi.dll"
  for fn in $wanted; do
    echo "$exports" | grep -qx "$fn" || fail "$lib lacks $fn, which $driver imports"
  done
  echo "hidapi.dll provides:" $wanted
  exit 0
fi

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

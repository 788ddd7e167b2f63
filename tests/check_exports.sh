#!/usr/bin/env bash
# Checks the dynamic symbol table of the built driver: HmdDriverFactory must
# be its only export, and the Windows DLL may import only from system DLLs and
# hidapi.dll (a SteamVR installation has no mingw runtime DLLs). With
# `windows-hidapi`, checks the hidapi.dll shipped beside it instead.
# The Linux library must load inside SteamVR's runtime container, which shows
# none of the host's libraries: it may need only the C library, libudev and
# the hidapi beside it (found through RUNPATH $ORIGIN), and no glibc newer
# than the floor the README states; so must that hidapi, when it is there.
# Sanitizer builds (ZELVAN_SANITIZE set) are not shipped and skip that part.
set -euo pipefail
lib=$1
platform=$2
glibc_floor=2.34

fail() { echo "FAIL: $*" >&2; exit 1; }

# The hidapi.dll shipped beside the Windows driver must be hidapi's own build
# (not the simulated sensor's), need no mingw runtime DLLs, and provide every
# function the driver (third argument) imports from it.
if [ "$platform" = windows-hidapi ]; then
  driver=$3
  dump=$(x86_64-w64-mingw32-objdump -p "$lib")
  exports=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[/ {print $NF; next} t {t=0}' | sort)
  grep -qx hid_winapi_get_container_id <<<"$exports" || fail "$lib is not hidapi's Windows build"
  if grep -q '^zelvan_sim_' <<<"$exports"; then fail "$lib is the simulated sensor"; fi
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
    grep -qx "$fn" <<<"$exports" || fail "$lib lacks $fn, which $driver imports"
  done
  echo "hidapi.dll provides:" $wanted
  exit 0
fi

# check_loadable LIB ALLOWED...: LIB needs no library outside ALLOWED and no
# glibc version newer than the floor.
check_loadable() {
  local file=$1 dump name newest
  shift
  dump=$(objdump -p "$file")
  for name in $(echo "$dump" | awk '$1 == "NEEDED" {print $2}'); do
    case " $* " in *" $name "*) ;; *) fail "$file needs $name" ;; esac
  done
  newest=$(echo "$dump" | grep -o 'GLIBC_[0-9][0-9.]*' | sed 's/^GLIBC_//' | sort -uV | tail -n 1)
  [ "$(printf '%s\n' "$newest" "$glibc_floor" | sort -V | tail -n 1)" = "$glibc_floor" ] ||
    fail "$file needs glibc $newest, newer than the floor $glibc_floor"
}

if [ "$platform" = posix ]; then
  exports=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
  [ "$exports" = "HmdDriverFactory" ] || fail "exports of $lib are:"$'\n'"$exports"
  needed=$(objdump -p "$lib" | awk '/NEEDED/ {print $2}')
  grep -q '^libhidapi-hidraw\.so' <<<"$needed" || fail "$lib does not link libhidapi-hidraw dynamically"
  if [ -z "${ZELVAN_SANITIZE:-}" ]; then
    # libm and the dynamic loader belong to the C library.
    check_loadable "$lib" libc.so.6 libm.so.6 ld-linux-x86-64.so.2 libudev.so.1 libhidapi-hidraw.so.0
    paths=$(objdump -p "$lib" | awk '$1 == "RPATH" || $1 == "RUNPATH" {print $1, $2}')
    [ "$paths" = 'RUNPATH $ORIGIN' ] || fail "$lib has '$paths', not RUNPATH \$ORIGIN alone"
    bundled=$(dirname "$lib")/libhidapi-hidraw.so.0
    if [ -e "$bundled" ]; then
      check_loadable "$bundled" libc.so.6 libudev.so.1
    fi
  fi
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
  grep -qx hidapi.dll <<<"$imports" || fail "$lib does not import hidapi.dll"
fi
echo "exports: $exports"

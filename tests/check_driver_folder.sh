#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the SteamVR driver
# folder: its files, and that both JSON files parse and carry the right names.
set -euo pipefail
build=$1
platform=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
root=$prefix/zelvanproximity

fail() { echo "FAIL: $*" >&2; exit 1; }
if [ "$platform" = posix ]; then
  expected=(bin/linux64/driver_ZelvanProximity.so bin/linux64/zelvan-ctl bin/linux64/libhidapi-hidraw.so.0 install.sh
    udev/70-zelvan-proximity.rules)
else
  expected=(bin/win64/driver_ZelvanProximity.dll bin/win64/zelvan-ctl.exe bin/win64/hidapi.dll install.cmd)
fi
expected+=(driver.vrdrivermanifest resources/settings/default.vrsettings README.txt)
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] || fail "missing $f"
done
# The README names this package's files, not the other platform's.
other=$([ "$platform" = posix ] && echo win64 || echo linux64)
! grep -q "$other" "$root/README.txt" || fail "README.txt names $other files"
if [ "$platform" = posix ]; then
  # The real file under its soname: an archive or a copy may drop a link.
  [ ! -L "$root/bin/linux64/libhidapi-hidraw.so.0" ] || fail "the bundled hidapi is a symbolic link"
  soname=$(objdump -p "$root/bin/linux64/libhidapi-hidraw.so.0" | awk '$1 == "SONAME" {print $2}')
  [ "$soname" = libhidapi-hidraw.so.0 ] || fail "the bundled hidapi is '$soname', not libhidapi-hidraw.so.0"
  [ -x "$root/install.sh" ] || fail "install.sh is not executable"
fi

python3 - "$root" <<'PY'
import json, sys
root = sys.argv[1]
manifest = json.load(open(root + "/driver.vrdrivermanifest"))
assert manifest["name"] == "ZelvanProximity", manifest
assert manifest["alwaysActivate"] is True, manifest
assert manifest["resourceOnly"] is False and manifest["directory"] == "", manifest
settings = json.load(open(root + "/resources/settings/default.vrsettings"))
section = settings["driver_ZelvanProximity"]
assert section == {"enable": True, "report_rate_ms": 200, "log_verbosity": 0, "moving_avg_length": 8, "presence_mode": "auto"}, section
assert "ipd_mm" not in section
PY
if [ "$platform" = posix ]; then
  rules=$(cat "$root/udev/70-zelvan-proximity.rules")
  grep -q 'ATTRS{idVendor}=="35bd"' <<<"$rules" || fail "udev rule without the vendor id"
  grep -q 'TAG+="uaccess"' <<<"$rules" || fail "udev rule without uaccess"
  if grep -q 'MODE="0666"' <<<"$rules"; then fail "udev rule makes the node world-writable"; fi
fi
# What users install is what must export only the factory.
"$(dirname "$0")/check_exports.sh" "$root/${expected[0]}" "$platform" >/dev/null
if [ "$platform" = windows ]; then
  "$(dirname "$0")/check_exports.sh" "$root/bin/win64/hidapi.dll" windows-hidapi "$root/${expected[0]}" >/dev/null
fi
echo "driver folder OK: ${expected[*]}"

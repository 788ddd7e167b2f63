#!/usr/bin/env bash
# The setup program under Wine, in one scratch Wine prefix that its steps
# share, against a fake SteamVR: a vrpathreg.exe stand-in that records its
# calls and edits the path registry as SteamVR's does, and a vrserver.exe
# stand-in for a running SteamVR. Each row is a step run on the state the
# previous steps left.
# Usage: setup_program_test.sh SOURCE_DIR SETUP_EXE VERSION VRPATHREG_STANDIN VRSERVER_STANDIN
set -euo pipefail
source_tree=$1
setup=$2
version=$3
vrpathreg_standin=$4
vrserver_standin=$5
scratch=$(mktemp -d)
wine_run=$source_tree/scripts/wine-run.sh
export ZELVAN_WINE_PREFIX=$scratch/prefix
cleanup() {
  "$wine_run" --kill >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

"$wine_run" cmd /c exit >/dev/null 2>&1  # makes the prefix
user=$(ls "$ZELVAN_WINE_PREFIX/drive_c/users" | grep -vx Public | head -n1)
local_app_data=$ZELVAN_WINE_PREFIX/drive_c/users/$user/AppData/Local
runtime="$ZELVAN_WINE_PREFIX/drive_c/Program Files (x86)/Steam/steamapps/common/SteamVR"
mkdir -p "$runtime/bin/win64" "$local_app_data/openvr"
cp "$vrpathreg_standin" "$runtime/bin/win64/vrpathreg.exe"
cp "$vrserver_standin" "$scratch/vrserver.exe"
cp "$setup" "$scratch/setup.exe"
registry=$local_app_data/openvr/openvrpaths.vrpath
export ZELVAN_VRPATHREG_LOG=$(winpath "$scratch/vrpathreg.log")
export ZELVAN_VRPATHREG_REGISTRY=$(winpath "$registry")
target=$local_app_data/Programs/zelvanproximity
T="C:\\users\\$user\\AppData\\Local\\Programs\\zelvanproximity"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelvanProximity'

# Setups a row can name. The fixture's runtime is the folder made above.
steamvr() { cp "$source_tree/tests/fixtures/real/openvrpaths_windows.vrpath" "$registry"; }
no_steamvr() { rm -f "$registry"; }
user_file() { echo mine >"$target/notes.txt"; }
# SteamVR blocked the driver after a crash; the setup clears the block.
settings="$ZELVAN_WINE_PREFIX/drive_c/Program Files (x86)/Steam/config/steamvr.vrsettings"
blocked() {
  mkdir -p "$(dirname "$settings")"
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true,\n      "enable" : false\n   }\n}\n' >"$settings"
}
# SteamVR running while the step runs.
vrserver() {
  "$wine_run" "$(winpath "$scratch/vrserver.exe")" "$(winpath "$scratch/running")" 120 >/dev/null 2>&1 &
  for _ in $(seq 100); do [ -f "$scratch/running" ] && return; sleep 0.2; done
  fail "the vrserver.exe stand-in did not start"
}

fail() {
  echo "FAIL [$name]: $*" >&2
  echo "--- $target:" >&2; ls -AR "$target" >&2 2>/dev/null || true
  exit 1
}

snapshot() { [ ! -d "$target" ] || (cd "$target" && find . -printf '%p %s %T@\n' | sort); }

registrations() {
  python3 - "$registry" "$T" <<'PY'
import json, os, sys
path, target = sys.argv[1:3]
drivers = (json.load(open(path)).get("external_drivers") or []) if os.path.exists(path) else []
print(sum(1 for d in drivers if d.lower() == target.lower()))
PY
}

# Checks one step: exit status, the vrpathreg calls, the registrations of the
# folder, its files (all: the setup's files and the uninstaller; same: as
# before the step, times included; none; user: the user's file only) and the
# Add/Remove Programs entry (yes/no).
check() {
  local got
  [ "$got_status" = "$status" ] || fail "exit status $got_status, expected $status"
  got=$({ tr -d '\r' <"$scratch/vrpathreg.log"; } 2>/dev/null | paste -sd ';' || true)
  [ "$got" = "$calls" ] || fail "vrpathreg calls '$got', expected '$calls'"
  got=$(registrations)
  [ "$got" = "$registered" ] || fail "registered $got times, expected $registered"
  case $folder in
    all)
      for f in driver.vrdrivermanifest README.txt resources/settings/default.vrsettings uninstall.exe \
          bin/win64/driver_ZelvanProximity.dll bin/win64/hidapi.dll bin/win64/zelvan-ctl.exe; do
        [ -f "$target/$f" ] || fail "$f is missing"
      done
      for f in install.cmd install.sh udev; do [ ! -e "$target/$f" ] || fail "$f was installed"; done
      # One version: the installed zelvan-ctl says the one the setup carries.
      # Its standard output alone: Wine may report its own troubles on stderr.
      got=$("$wine_run" "$T\\bin\\win64\\zelvan-ctl.exe" --version 2>"$scratch/version.err" | tr -d '\r')
      [ "$got" = "zelvan-ctl $version" ] ||
        fail "zelvan-ctl --version says '$got' (stderr: $(cat "$scratch/version.err"))" ;;
    same) snapshot | diff "$scratch/before" - >/dev/null || fail "the installed files changed" ;;
    none) [ ! -e "$target" ] || fail "$target is still there" ;;
    user) [ "$(ls -A "$target")" = notes.txt ] || fail "$target holds '$(ls -A "$target")', not only the user's file" ;;
  esac
  if [ "$setup" = blocked ]; then
    # Only the block goes: turning the driver off stays the user's choice.
    python3 -c 'import json,sys; assert json.load(open(sys.argv[1])) == {"driver_ZelvanProximity": {"enable": False}}' \
      "$settings" || fail "the block is still in $(cat "$settings")"
    [ -f "$settings.zelvan-backup" ] || fail "no backup of the settings file"
  fi
  got=$("$wine_run" reg query "$key" 2>/dev/null | tr -d '\r' || true)
  if [ "$entry" = yes ]; then
    for value in "DisplayName.*Zelvan Proximity" "DisplayVersion.*REG_SZ *$version\$" "Publisher" \
        "InstallLocation.*REG_SZ *${T//\\/\\\\}\$" "UninstallString.*uninstall.exe\"\$" \
        "QuietUninstallString.*uninstall.exe\" /S\$" "EstimatedSize.*REG_DWORD *0x[1-9a-f]" \
        "NoModify.*0x1\$" "NoRepair.*0x1\$"; do
      grep -q -- "$value" <<<"$got" || fail "the entry lacks '$value': $got"
    done
  else
    [ -z "$(grep -i displayname <<<"$got")" ] || fail "the entry is still there: $got"
  fi
}

# name | setup | program (setup, uninstall) | arguments | status | vrpathreg calls | registrations | folder | entry
steps=(
  "silent install|steamvr|setup|/S|0|adddriver $T|1|all|yes"
  "second install|user_file|setup|/S|0||1|all|yes"
  "a reinstall clears SteamVR's block|blocked|setup|/S|0||1|all|yes"
  "install while SteamVR runs|vrserver|setup|/S|2||1|same|yes"
  "silent uninstall keeps the user's file||uninstall|/S|0|removedriver $T|0|user|no"
  "install without SteamVR|no_steamvr|setup|/S|0||0|all|yes"
  "uninstall without SteamVR|user_file|uninstall|/S|0||0|user|no"
)

for row in "${steps[@]}"; do
  IFS='|' read -r name setup program args status calls registered folder entry <<<"$row"
  rm -f "$scratch/vrpathreg.log"
  [ -z "$setup" ] || eval "$setup"
  snapshot >"$scratch/before"
  if [ "$program" = setup ]; then exe=$(winpath "$scratch/setup.exe"); else exe="$T\\uninstall.exe"; fi
  got_status=0
  "$wine_run" "$exe" $args >"$scratch/out" 2>&1 || got_status=$?
  # The uninstaller finishes from a copy of itself in %TEMP%; the refused
  # step leaves SteamVR's stand-in running.
  if [ "$setup" = vrserver ]; then "$wine_run" --kill >/dev/null 2>&1 || true; else "$wine_run" --wait; fi
  check
done

echo "setup program: ${#steps[@]} steps OK"

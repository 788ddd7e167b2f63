#!/usr/bin/env bash
# install.cmd under Wine against a fake SteamVR in a scratch home: a
# vrpathreg.exe stand-in that records its calls and the real Windows
# registries pointed at it. Each row is a step run on the state the previous
# steps left, all in one Wine prefix of their own (a new one per step cost
# more than most steps), with %LOCALAPPDATA% and %TEMP% in the scratch home.
# PROFILE names the home folder and LIBRARY the Steam folder; folders named
# in another script than ASCII run the steps marked "*". ESCAPED=escaped
# writes their names into the registry as \uXXXX.
# Usage: install_cmd_test.sh SOURCE_DIR VRPATHREG_STANDIN_EXE ZELVAN_CTL_EXE [PROFILE LIBRARY [ESCAPED]]
set -euo pipefail
source_tree=$1
standin=$2
ctl=$3
profile=${4:-home}
library=${5:-Steam (x86)}
escaped=${6:-raw}
# Wine turns the names it is given into UTF-16 through the locale.
export LC_ALL=${LC_ALL:-C.UTF-8}
scratch=$(mktemp -d)
export ZELVAN_WINE_PREFIX=$scratch/prefix
trap '"$source_tree/scripts/wine-run.sh" --kill >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
# A Windows path as a JSON string's inside.
json_path() {
  python3 -c 'import json, sys; print(json.dumps(sys.argv[1], ensure_ascii=sys.argv[2] == "escaped")[1:-1])' \
    "$(winpath "$1")" "$escaped"
}

home=$scratch/$profile
local_app_data=$home/AppData/Local
mkdir -p "$home/Temp"
runtime="$scratch/$library/steamapps/common/SteamVR"
mkdir -p "$runtime/bin/win64" "$local_app_data/openvr"
cp "$standin" "$runtime/bin/win64/vrpathreg.exe"
registry=$local_app_data/openvr/openvrpaths.vrpath
export ZELVAN_VRPATHREG_LOG=$(winpath "$scratch/vrpathreg.log")
export ZELVAN_VRPATHREG_REGISTRY=$(winpath "$registry")

# The driver folder as unpacked from a second download of the zip.
src="$home/Downloads/zelvanproximity (1)/zelvanproximity"
mkdir -p "$src/bin/win64" "$src/resources/settings"
cp "$source_tree/package/"{driver.vrdrivermanifest,install.cmd} "$src/"
cp "$source_tree/package/README-windows.txt" "$src/README.txt"
cp "$source_tree/package/resources/settings/default.vrsettings" "$src/resources/settings/"
for f in driver_ZelvanProximity.dll hidapi.dll; do echo "$f" >"$src/bin/win64/$f"; done
cp "$ctl" "$src/bin/win64/zelvan-ctl.exe"
target=$local_app_data/Programs/zelvanproximity
T=$(winpath "$target")

# Runs the install.cmd named by STEP_SCRIPT (a path with spaces would not
# survive Wine's command line) with the step's arguments. Wine sets its own
# %LOCALAPPDATA% and %TEMP%, so they are set from inside.
printf '@set "LOCALAPPDATA=%%STEP_LOCALAPPDATA%%"\r\n@set "TEMP=%%STEP_TEMP%%"\r\n@set "TMP=%%STEP_TEMP%%"\r\n@call "%%STEP_SCRIPT%%" %%*\r\n@exit /b %%errorlevel%%\r\n' >"$scratch/step.cmd"

# Setups a row can name.
registry_from() {
  local json_runtime
  json_runtime=$(json_path "$runtime" | sed 's/\\/\\\\/g')
  sed -e "s/C:..Program Files (x86)..Steam..steamapps..common..SteamVR/$json_runtime/" \
    -e "s/C:..steamcmd..steamapps..common..SteamVR/$json_runtime/" \
    "$source_tree/tests/fixtures/real/$1" >"$registry"
}
no_steamvr() { rm -f "$registry"; }
# A registry of a SteamVR in folder $1 (made, with the stand-in) and the
# external drivers $2..., as Windows paths.
registry_with() {
  local drivers=
  mkdir -p "$1/bin/win64" && cp "$standin" "$1/bin/win64/vrpathreg.exe"
  for d in "${@:2}"; do drivers+="${drivers:+, }\"$(json_path "$d")\""; done
  printf '{"runtime": ["%s"], "external_drivers": [%s], "version": 1}\n' "$(json_path "$1")" "$drivers" >"$registry"
}
# Marker entries that lead out of the folder, and the files they name.
hostile_marker() {
  mkdir -p "$home/Documents" && echo thesis >"$home/Documents/thesis.odt"
  echo keep >"$local_app_data/Programs/keep.txt"
  printf 'F %s\r\n' '..\keep.txt' '\..\..\..\..\Documents\thesis.odt' "$(winpath "$home/Documents/thesis.odt")" >>"$target/.zelvan-install"
}
# The settings folder moved elsewhere and linked back (Wine shows a Unix
# link as a reparse point).
linked_resources() { mv "$target/resources" "$scratch/my-settings" && ln -s "$scratch/my-settings" "$target/resources"; }
kept() { for f in "$@"; do [ -e "$f" ] || fail "$f was deleted"; done; }
user_file() { mkdir -p "$1" && echo mine >"$1/notes.txt"; }
# SteamVR blocked the driver after a crash; the real zelvan-ctl clears it.
blocked() {
  rm -rf "$target"
  install -m 0755 "$ctl" "$src/bin/win64/zelvan-ctl.exe"
  registry_from openvrpaths_windows.vrpath
  local json_config
  json_config=$(json_path "$scratch/$library/config" | sed 's/\\/\\\\/g')
  sed -i "s/c:..program files (x86)..steam..config/$json_config/" "$registry"
  mkdir -p "$scratch/$library/config"
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true\n   }\n}\n' >"$scratch/$library/config/steamvr.vrsettings"
}
# ... in a file zelvan-ctl cannot read (SteamVR may): the install fails.
blocked_unreadable() {
  blocked
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true,\n   }\n}\n' >"$scratch/$library/config/steamvr.vrsettings"
}

# A profile and a download folder whose names hold & and ^: an echo of such a
# name unquoted runs what follows the & and drops the caret. (Wine's for /f
# finds no lines when %TEMP% holds a space, so the profile has none.)
odd_home="$scratch/R&D^x"
odd_target=$odd_home/AppData/Local/Programs/zelvanproximity
OT=$(winpath "$odd_target")
odd_names() {
  local odd="$odd_home/Downloads/drivers^ &hostname"
  mkdir -p "$odd_home/Temp" "$(dirname "$odd")"
  cp -a "$src" "$odd"
  src=$odd home=$odd_home local_app_data=$odd_home/AppData/Local target=$odd_target T=$OT
  registry=$local_app_data/openvr/openvrpaths.vrpath
  export ZELVAN_VRPATHREG_REGISTRY=$(winpath "$registry")
  mkdir -p "$local_app_data/openvr"
  registry_with "$runtime"
}

fail() {
  echo "FAIL [$name]: $*" >&2
  echo "--- output:" >&2; cat "$scratch/out" >&2
  echo "--- $target:" >&2; ls -AR "$target" >&2 2>/dev/null || true
  exit 1
}

# Checks one step: exit status, the vrpathreg calls, what the folder holds
# (same: a copy of the source; none; emptied; user: the user's file only) and a line
# the user must see.
check() {
  local got
  [ "$got_status" = "$status" ] || fail "exit status $got_status, expected $status"
  got=$({ tr -d '\r' <"$scratch/vrpathreg.log"; } 2>/dev/null | paste -sd ';' || true)
  [ "$got" = "$calls" ] || fail "vrpathreg calls '$got', expected '$calls'"
  case $folder in
    same) diff -r -x .zelvan-install "$src" "$target" >/dev/null || fail "$target differs from the source" ;;
    none) [ ! -e "$target" ] || fail "$target is still there" ;;
    # Wine keeps a batch file open until cmd exits, even once another one
    # has taken over; Windows does not. Either way nothing may be left in it.
    emptied) [ -z "$(ls -A "$target" 2>/dev/null)" ] || fail "$target is not empty" ;;
    user) [ "$(ls -A "$target")" = notes.txt ] || fail "$target holds '$(ls -A "$target")', not only the user's file" ;;
  esac
  plain <"$scratch/out" | grep -F -- "$(plain <<<"$text")" >/dev/null || fail "output lacks '$text'"
}

# cmd writes what it echoes to a pipe in the code page, which may lack a
# letter of a folder's name, and zelvan-ctl writes UTF-8: lines are compared
# in their ASCII letters (the vrpathreg calls above compare whole names).
plain() { LC_ALL=C tr -d '\r' | LC_ALL=C tr -cd '\11\12\40-\76\100-\176'; }

# name (*: also with folders named in other scripts) | setup | environment |
# script (src: unpacked, installed) | arguments | status | vrpathreg calls | folder | output
steps=(
  "*install (SteamVR's own registry)|registry_from openvrpaths_windows.vrpath||src||0|adddriver $T|same|ran "
  "*second install|||src||0||same|already registered"
  "*it says where the panel is|||src||0||same|to open the Zelvan panel, run $T\\bin\\win64\\zelvan-panel.exe"
  "*register in place from the installed folder|||installed||0||same|in place"
  "*uninstall from the installed folder|||installed|--uninstall|0|removedriver $T|emptied|$T"
  "*SteamVR not found|no_steamvr||src||0||same|vrpathreg.exe\" adddriver \"$T\""
  "*uninstall, SteamVR not found|||src|--uninstall|0||none|vrpathreg.exe\" removedriver \"$T\""
  "*vrpathreg fails (a registry with two runtimes)|registry_from openvrpaths_windows_openvr_issue548.vrpath|ZELVAN_VRPATHREG_FAIL=1|src||1|adddriver $T|same|failed"
  "*uninstall keeps a file the user added|user_file \"\$target\"||src|--uninstall|0||user|left $T"
  "a folder install.cmd did not make|||src||1||user|not installed by install.cmd"
  "uninstall leaves a folder install.cmd did not make registered|registry_with \"\$runtime\" \"\$target\"||src|--uninstall|1||user|not installed by install.cmd"
  "drive root prefix|||src|--prefix Z:\\|1||user|refusing"
  "install for the hostile marker|rm -rf \"\$target\"; registry_from openvrpaths_windows.vrpath||src||0|adddriver $T|same|ran "
  "uninstall skips .. and absolute entries|hostile_marker||src|--uninstall|0|removedriver $T|none|climbs out with .."
  "install for the linked settings|kept \"\$home/Documents/thesis.odt\" \"\$local_app_data/Programs/keep.txt\"||src||0|adddriver $T|same|ran "
  "a reinstall does not copy through a linked folder|linked_resources||src||1||-|not copying through it"
  "uninstall leaves the linked folder|||src|--uninstall|0|removedriver $T|-|it is a link or junction"
  "a runtime folder with brackets|kept \"\$scratch/my-settings/settings/default.vrsettings\"; rm -rf \"\$target\"; registry_with \"\$scratch/rv/Games [SSD]/SteamVR\"||src||0|adddriver $T|same|ran "
  "another driver with brackets before ours|registry_with \"\$scratch/rv/Games [SSD]/SteamVR\" \"/opt/other [beta]/driver\" \"\$target\"||src|--uninstall|0|removedriver $T|none|ran "
  "*a block on the driver is cleared|blocked||src||0|adddriver $T|same|cleared SteamVR's safe-mode block on the driver: removed \"blocked_by_safe_mode\" : true"
  "*a block that cannot be cleared fails the install|blocked_unreadable||src||1|adddriver $T|same|SteamVR may still block the driver"
  "a profile and a download folder named with & and ^|odd_names||src||0|adddriver $OT|same|copied Z:"
  "the panel's path through & and ^|||src||0||same|run $OT\\bin\\win64\\zelvan-panel.exe (or"
  "uninstall from them|||src|--uninstall|0|removedriver $OT|none|deleted $OT"
)

ascii=1
LC_ALL=C grep -q '^[ -~]*$' <<<"$profile$library" && [ "$escaped" = raw ] || ascii=0
ran=0
for row in "${steps[@]}"; do
  IFS='|' read -r name setup environment script args status calls folder text <<<"$row"
  [ "${name:0:1}" = '*' ] || [ "$ascii" = 1 ] || continue
  ran=$((ran + 1))
  rm -f "$scratch/vrpathreg.log"
  [ -z "$setup" ] || eval "$setup"
  if [ "$script" = src ]; then script=$src/install.cmd; else script=$target/install.cmd; fi
  read -r -a words <<<"$args"
  got_status=0
  (cd "$scratch" && env $environment STEP_SCRIPT="$(winpath "$script")" \
    STEP_LOCALAPPDATA="$(winpath "$local_app_data")" STEP_TEMP="$(winpath "$home/Temp")" \
    "$source_tree/scripts/wine-run.sh" cmd /c "$(winpath "$scratch/step.cmd")" "${words[@]}") \
    >"$scratch/out" 2>&1 || got_status=$?
  check
done
echo "install.cmd: $ran steps OK in $profile, $library ($escaped)"

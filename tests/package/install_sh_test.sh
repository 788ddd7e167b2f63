#!/usr/bin/env bash
# install.sh against a fake SteamVR in a scratch home: a vrpathreg.sh
# stand-in that records its calls, the real registry layouts pointed at it,
# and sudo/udevadm stand-ins. Each row is a step run on the state the
# previous steps left.
# Usage: install_sh_test.sh SOURCE_DIR VRPATHREG_STANDIN ZELVAN_CTL
set -euo pipefail
source_tree=$1
standin=$2
ctl=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

export HOME=$scratch/home
unset XDG_CONFIG_HOME XDG_DATA_HOME
runtime="$scratch/Steam Library (x86)/steamapps/common/SteamVR"
mkdir -p "$runtime/bin" "$HOME/.config/openvr" "$scratch/stand-ins" "$scratch/rules.d"
cp "$standin" "$runtime/bin/vrpathreg.sh"
registry=$HOME/.config/openvr/openvrpaths.vrpath
export ZELVAN_VRPATHREG_LOG=$scratch/vrpathreg.log ZELVAN_VRPATHREG_REGISTRY=$registry
export ZELVAN_UDEV_RULES_DIR=$scratch/rules.d
printf '#!/bin/sh\nexec "$@"\n' >"$scratch/stand-ins/sudo"
printf '#!/bin/sh\necho "$*" >>"%s/udevadm.log"\n' "$scratch" >"$scratch/stand-ins/udevadm"
chmod +x "$scratch/stand-ins/"*
export PATH=$scratch/stand-ins:$PATH

# The driver folder as unpacked from the package, with stand-in binaries.
src=$scratch/unpacked/zelvanproximity
mkdir -p "$src/bin/linux64" "$src/bin/win64" "$src/resources/settings" "$src/udev"
cp "$source_tree/package/"{driver.vrdrivermanifest,README.txt,install.sh,install.cmd} "$src/"
cp "$source_tree/package/resources/settings/default.vrsettings" "$src/resources/settings/"
cp "$source_tree/package/udev/70-zelvan-proximity.rules" "$src/udev/"
for f in linux64/driver_ZelvanProximity.so linux64/zelvan-ctl win64/driver_ZelvanProximity.dll; do
  echo "$f" >"$src/bin/$f"
done
target=$HOME/.local/share/zelvanproximity
spaced="$scratch/My Drivers"

# Setups a row can name.
registry_from() {
  sed -e "s|/home/jay/.local/share/Steam/steamapps/common/SteamVR|$runtime|" \
    -e "s|C:..Program Files (x86)..Steam..steamapps..common..SteamVR|$runtime|" \
    "$source_tree/tests/fixtures/real/$1" >"$registry"
}
no_steamvr() { rm -f "$registry"; }
user_file() { mkdir -p "$1" && echo mine >"$1/notes.txt"; }
# SteamVR blocked the driver after a crash; the real zelvan-ctl clears it.
blocked() {
  install -m 0755 "$ctl" "$src/bin/linux64/zelvan-ctl"
  registry_from openvrpaths_linux.vrpath
  sed -i "s|/home/jay/.local/share/Steam/config|$scratch/config|" "$registry"
  mkdir -p "$scratch/config"
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true\n   }\n}\n' >"$scratch/config/steamvr.vrsettings"
}

fail() { echo "FAIL [$name]: $*" >&2; echo "--- output:" >&2; cat "$scratch/out" >&2; exit 1; }

# Checks one step: exit status, the vrpathreg and udevadm calls, what the
# folder holds (same: a copy of the source; none; user: the user's file
# only), whether the udev rule is installed, and a line the user must see.
check() {
  local got
  [ "$got_status" = "$status" ] || fail "exit status $got_status, expected $status"
  got=$(paste -sd ';' "$scratch/vrpathreg.log" 2>/dev/null || true)
  [ "$got" = "$calls" ] || fail "vrpathreg calls '$got', expected '$calls'"
  got=$(paste -sd ';' "$scratch/udevadm.log" 2>/dev/null || true)
  [ "$got" = "$udevadm" ] || fail "udevadm calls '$got', expected '$udevadm'"
  case $folder in
    same) diff -r -x .zelvan-install "$src" "$where" >/dev/null || fail "$where differs from the source" ;;
    none) [ ! -e "$where" ] || fail "$where is still there" ;;
    user) [ "$(ls -A "$where")" = notes.txt ] || fail "$where holds '$(ls -A "$where")', not only the user's file" ;;
  esac
  if [ "$rule" = yes ]; then
    cmp -s "$src/udev/70-zelvan-proximity.rules" "$scratch/rules.d/70-zelvan-proximity.rules" || fail "udev rule not installed"
  else
    [ ! -e "$scratch/rules.d/70-zelvan-proximity.rules" ] || fail "udev rule installed"
  fi
  grep -qF -- "$text" "$scratch/out" || fail "output lacks '$text'"
}

T=$target
S="$scratch/My Drivers/zelvanproximity"
I='"$src/install.sh"'
# name | setup | command | folder checked | status | vrpathreg calls | folder | udev rule | udevadm calls | output
steps=(
  "install (a Linux registry)|registry_from openvrpaths_linux.vrpath|$I|$T|0|adddriver $T|same|no||ran "
  "second install||$I|$T|0||same|no||already registered"
  "register in place from the installed folder||\"\$T/install.sh\"|$T|0||same|no||in place"
  "in place through a symlinked prefix|ln -sfn \"\$HOME/.local/share\" \"\$scratch/link\"|\"\$T/install.sh\" --prefix \"\$scratch/link\"|$T|0||same|no||in place"
  "uninstall from the installed folder||\"\$T/install.sh\" --uninstall|$T|0|removedriver $T|none|no||deleted $T"
  "install --udev (SteamVR's own layout)|registry_from openvrpaths_windows.vrpath|$I --udev|$T|0|adddriver $T|same|yes|control --reload;trigger|installed $scratch/rules.d"
  "a plain second install keeps the rule||$I|$T|0||same|yes||already registered"
  "uninstall removes the rule||$I --uninstall|$T|0|removedriver $T|none|no|control --reload;trigger|removed $scratch/rules.d"
  "SteamVR not found|no_steamvr|$I|$T|0||same|no||vrpathreg.sh adddriver \"$T\""
  "uninstall, SteamVR not found||$I --uninstall|$T|0||none|no||vrpathreg.sh removedriver \"$T\""
  "vrpathreg fails|registry_from openvrpaths_linux.vrpath|ZELVAN_VRPATHREG_FAIL=1 $I|$T|1|adddriver $T|same|no||failed"
  "uninstall after a failed registration||$I --uninstall|$T|0||none|no||not registered"
  "a prefix with spaces||$I --prefix \"\${S%/*}\"|$S|0|adddriver $S|same|no||ran "
  "uninstall keeps a file the user added|user_file \"\$S\"|$I --prefix \"\${S%/*}\" --uninstall|$S|0|removedriver $S|user|no||left "
  "a folder install.sh did not make|user_file \"\$T\"|$I|$T|1||user|no||not installed by install.sh"
  "root prefix||$I --prefix /|/zelvanproximity|1||none|no||refusing"
  "unknown argument||$I --prefixx /tmp|$T|1||user|no||unknown argument"
  "a block on the driver is cleared|blocked|$I --prefix \"\$scratch/b\"|$scratch/b/zelvanproximity|0|adddriver $scratch/b/zelvanproximity|same|no||cleared SteamVR's safe-mode block on the driver: removed \"blocked_by_safe_mode\" : true"
)

for row in "${steps[@]}"; do
  IFS='|' read -r name setup command where status calls folder rule udevadm text <<<"$row"
  rm -f "$scratch/vrpathreg.log" "$scratch/udevadm.log"
  [ -z "$setup" ] || eval "$setup"
  got_status=0
  eval "$command" >"$scratch/out" 2>&1 || got_status=$?
  check
done
echo "install.sh: ${#steps[@]} steps OK"

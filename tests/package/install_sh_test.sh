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
# id -u as another user when FAKE_UID is set.
printf '#!/bin/sh\n[ -n "$FAKE_UID" ] && [ "$1" = -u ] && { echo "$FAKE_UID"; exit 0; }\nexec /usr/bin/id "$@"\n' >"$scratch/stand-ins/id"
# getent passwd lists one account more when FAKE_ACCOUNT is set, getent
# group one group more when FAKE_GROUP is.
printf '#!/bin/sh\n/usr/bin/getent "$@" || exit\n[ -n "$FAKE_ACCOUNT" ] && [ "$*" = passwd ] && echo "$FAKE_ACCOUNT"\n[ -n "$FAKE_GROUP" ] && [ "$*" = group ] && echo "$FAKE_GROUP"\nexit 0\n' >"$scratch/stand-ins/getent"
chmod +x "$scratch/stand-ins/"*
export PATH=$scratch/stand-ins:$PATH

# The driver folder as unpacked from the package, with stand-in binaries.
src=$scratch/unpacked/zelvanproximity
mkdir -p "$src/bin/linux64" "$src/bin/win64" "$src/resources/settings" "$src/resources/icons" "$src/udev"
cp "$source_tree/package/"{driver.vrdrivermanifest,install.sh,install.cmd} "$src/"
cp "$source_tree/package/README-linux.txt" "$src/README.txt"
cp "$source_tree/package/resources/settings/default.vrsettings" "$src/resources/settings/"
cp "$source_tree/package/resources/icons/zelvan-panel.svg" "$src/resources/icons/"
cp "$source_tree/package/udev/70-zelvan-proximity.rules" "$src/udev/"
for f in linux64/driver_ZelvanProximity.so win64/driver_ZelvanProximity.dll; do
  echo "$f" >"$src/bin/$f"
done
cp "$ctl" "$src/bin/linux64/zelvan-ctl"
target=$HOME/.local/share/zelvanproximity
spaced="$scratch/My Drivers"

# Setups a row can name.
registry_from() {
  sed -e "s|/home/jay/.local/share/Steam/steamapps/common/SteamVR|$runtime|" \
    -e "s|C:..Program Files (x86)..Steam..steamapps..common..SteamVR|$runtime|" \
    "$source_tree/tests/fixtures/real/$1" >"$registry"
}
no_steamvr() { rm -f "$registry"; }
# A registry of SteamVR in folder $1 (made, with the stand-in) and the
# external drivers $2..., each written into the JSON as given.
registry_with() {
  local json_runtime=$1 drivers=
  shift
  mkdir -p "$(printf "$json_runtime")/bin" && cp "$standin" "$(printf "$json_runtime")/bin/vrpathreg.sh"
  for d in "$@"; do drivers+="${drivers:+, }\"$d\""; done
  printf '{"runtime": ["%s"], "external_drivers": [%s], "version": 1}\n' "$json_runtime" "$drivers" >"$registry"
}
# Marker entries that lead out of the folder, and the files they name.
hostile_marker() {
  mkdir -p "$HOME/Documents" && echo thesis >"$HOME/Documents/thesis.odt" && echo keep >"$HOME/.local/share/keep.txt"
  printf '%s\n' ../keep.txt /../../../Documents/thesis.odt >>"$T/.zelvan-install"
}
# The settings folder moved elsewhere and linked back.
linked_resources() { mv "$T/resources" "$HOME/my-settings" && ln -s "$HOME/my-settings" "$T/resources"; }
kept() { ls -- "$@" && echo kept; }
# The menu's desktop entry: valid, and its Exec and Icon lines on one line.
entry=$HOME/.local/share/applications/zelvan-panel.desktop
desktop_entry() {
  [ -e "$entry" ] || { echo "no desktop entry"; return 0; }
  desktop-file-validate "$entry" && [ "$(stat -c %a "$entry")" = 644 ] &&
    grep -e '^Exec=' -e '^Icon=' "$entry" | paste -sd ';'
}
# The entry's Exec line run as the menu runs it (its quoting undone), with an
# xdg-open stand-in that keeps the launch file it was given; the panel must
# serve and end through its own Quit.
panel_from_entry() {
  local exec_line argv pid
  exec_line=$(sed -n 's/^Exec=//p' "$entry" | sed -e 's/\\\\/\\/g' -e 's/%%/%/g')
  eval "argv=($exec_line)"
  printf '#!/bin/sh\nprintf "%%s\\n" "$1" >"%s/xdg-open.arg"\n' "$scratch" >"$scratch/stand-ins/xdg-open"
  chmod +x "$scratch/stand-ins/xdg-open"
  rm -f "$scratch/xdg-open.arg"
  ZELVAN_TEST_CHANNEL=zelvan_install_test-$$ "${argv[@]}" >"$scratch/panel.out" 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    if [ -s "$scratch/xdg-open.arg" ] || ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  rm "$scratch/stand-ins/xdg-open"
  python3 "$source_tree/tests/package/panel_knock.py" "$(cat "$scratch/xdg-open.arg" 2>/dev/null)" || { kill "$pid"; return 1; }
  for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null && { echo "the panel did not end after Quit"; return 1; }
  wait "$pid"
}
foreign_entry() { mkdir -p "${entry%/*}" && printf '[Desktop Entry]\nType=Application\nName=Theirs\nExec=theirs\n' >"$entry"; }
foreign_kept() { grep -qx 'Exec=theirs' "$entry" && rm "$entry" && echo kept; }
# A folder $1 made with mode $2 for uid $3 (root when not given).
folder_of() { rm -rf "$1" && mkdir -p "$1" && chmod "$2" "$1" && chown "${3:-0}" "$1"; }
# The mode and owner of the folder $1, and how many entries in it others may write to.
modes() { echo "modes $(stat -c '%a %u' "$1") $(find "$1" -perm /022 | wc -l)"; }
# An access control list on $1 that lets uid 1001 write there (set through
# its extended attribute, so without the acl tools).
acl_for_1001() {
  python3 - "$1" <<'EOF'
import os, struct, sys
entries = [(0x01, 7, 0xFFFFFFFF), (0x02, 7, 1001), (0x04, 5, 0xFFFFFFFF), (0x10, 7, 0xFFFFFFFF), (0x20, 5, 0xFFFFFFFF)]
os.setxattr(sys.argv[1], "system.posix_acl_access", struct.pack("<I", 2) + b"".join(struct.pack("<HHI", *e) for e in entries))
EOF
}
# Another user slips a folder of theirs onto the way while install.sh makes it.
racing_mkdir() {
  printf '#!/bin/sh\n[ "$1" = -p ] && /bin/mkdir -m 777 "$3" && chown 1001 "$3"\nexec /bin/mkdir "$@"\n' >"$scratch/stand-ins/mkdir"
  chmod +x "$scratch/stand-ins/mkdir"
}
# uid 1000 itself runs install.sh, from a copy it can read, with its own home.
as_1000() {
  local copy=$scratch/for-1000/zelvanproximity
  rm -rf "$scratch/for-1000" "$scratch/home-1000" && mkdir -p "$scratch/for-1000" "$scratch/home-1000"
  cp -R "$src" "$copy" && chown -R 1000 "$scratch/for-1000" "$scratch/home-1000" && chmod 711 "$scratch"
  setpriv --reuid 1000 --regid 1000 --clear-groups env HOME="$scratch/home-1000" "$copy/install.sh" "$@"
}
no_sudo() { mv "$scratch/stand-ins/sudo" "$scratch/sudo.off"; }
sudo_back() {
  mv "$scratch/sudo.off" "$scratch/stand-ins/sudo"
  ! grep -q '^udev ' "$T/.zelvan-install" 2>/dev/null || fail "the marker records a rule that was not installed"
}
user_file() { mkdir -p "$1" && echo mine >"$1/notes.txt"; }
# SteamVR blocked the driver after a crash; the real zelvan-ctl clears it.
blocked() {
  install -m 0755 "$ctl" "$src/bin/linux64/zelvan-ctl"
  registry_from openvrpaths_linux.vrpath
  sed -i "s|/home/jay/.local/share/Steam/config|$scratch/config|" "$registry"
  mkdir -p "$scratch/config"
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true\n   }\n}\n' >"$scratch/config/steamvr.vrsettings"
}

# ... in a file zelvan-ctl cannot read (SteamVR may): the install fails.
blocked_unreadable() {
  blocked
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true,\n   }\n}\n' >"$scratch/config/steamvr.vrsettings"
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
    empty) [ -d "$where" ] && [ -z "$(ls -A "$where")" ] || fail "$where is not an empty folder" ;;
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
X=$scratch/shared/zelvanproximity
I='"$src/install.sh"'
NL=$'\n'
ESC=$'\e'
# name | setup | command | folder checked | status | vrpathreg calls | folder | udev rule | udevadm calls | output
steps=(
  "install (a Linux registry)|registry_from openvrpaths_linux.vrpath|$I|$T|0|adddriver $T|same|no||ran "
  "second install||$I|$T|0||same|no||already registered"
  "a desktop entry of another program is left alone|foreign_entry|$I|$T|0||same|no||left $HOME/.local/share/applications/zelvan-panel.desktop: install.sh did not write it"
  "uninstall leaves it too||$I --uninstall|$T|0|removedriver $T|none|no||left $HOME/.local/share/applications/zelvan-panel.desktop: it is not this install's"
  "it is as it was||foreign_kept|$T|0||none|no||kept"
  "install again|registry_from openvrpaths_linux.vrpath|$I|$T|0|adddriver $T|same|no||added Zelvan Panel"
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
  "the desktop entry starts the panel from the folder with spaces||desktop_entry|$S|0||same|no||Exec=\"$S/bin/linux64/zelvan-ctl\" panel;Icon=$S/resources/icons/zelvan-panel.svg"
  "the desktop entry's command serves the panel until its Quit||panel_from_entry|$S|0||same|no||served / and quit"
  "uninstall keeps a file the user added|user_file \"\$S\"|$I --prefix \"\${S%/*}\" --uninstall|$S|0|removedriver $S|user|no||left "
  "the uninstall took the desktop entry||desktop_entry|$S|0||user|no||no desktop entry"
  "a folder install.sh did not make|user_file \"\$T\"|$I|$T|1||user|no||not installed by install.sh"
  "uninstall leaves a folder install.sh did not make registered|\"\$runtime/bin/vrpathreg.sh\" adddriver \"\$T\"; rm \"\$scratch/vrpathreg.log\"|$I --uninstall|$T|1||user|no||not installed by install.sh"
  "root prefix||$I --prefix /|/zelvanproximity|1||none|no||refusing"
  "unknown argument||$I --prefixx /tmp|$T|1||user|no||unknown argument"
  "a target another user made|folder_of \"\$scratch/shared\" 1777; folder_of \"\$X\" 777 1001|$I --prefix \"\$scratch/shared\"|$X|1||empty|no||$X belongs to another user (uid 1001)"
  "a target others can write to|folder_of \"\$X\" 777|$I --prefix \"\$scratch/shared\"|$X|1||empty|no||other users can write to $X (mode 777)"
  "the same through a symlinked prefix|ln -sfn \"\$scratch/shared\" \"\$scratch/shared-link\"|$I --prefix \"\$scratch/shared-link\"|$X|1||empty|no||chmod go-w \"$X\""
  "a folder above that others can write to|folder_of \"\$scratch/open\" 777|$I --prefix \"\$scratch/open/drivers\"|$scratch/open/drivers|1||none|no||$scratch/open (mode 777, no sticky bit)"
  "a folder above that another user owns|folder_of \"\$scratch/theirs\" 755 1001|$I --prefix \"\$scratch/theirs\"|$scratch/theirs/zelvanproximity|1||none|no||$scratch/theirs belongs to another user (uid 1001)"
  "a folder above writable by a group with others in it|folder_of \"\$scratch/team\" 775; chgrp 1001 \"\$scratch/team\"|$I --prefix \"\$scratch/team\"|$scratch/team/zelvanproximity|1||none|no||$scratch/team (mode 775, no sticky bit)"
  "'..' through folders still to be made||$I --prefix \"\$scratch/new/../x\"|$scratch/new|1||none|no||climbs with '..'"
  "a folder of another user slipped in while the prefix is made|racing_mkdir|$I --prefix \"\$scratch/shared/new\"|$scratch/shared/new/zelvanproximity|1||empty|no||$scratch/shared/new belongs to another user (uid 1001)"
  "a sticky shared folder: the install makes the target, whatever the umask|rm -f \"\$scratch/stand-ins/mkdir\"; registry_from openvrpaths_linux.vrpath; rm -rf \"\$X\"|(umask 0; $I --prefix \"\$scratch/shared\")|$X|0|adddriver $X|same|no||ran "
  "what it made only we can write to||modes \"\$X\"|$X|0||same|no||modes 755 0 0"
  "a folder inside the target others can write to|chmod 777 \"\$X/bin\"|$I --prefix \"\$scratch/shared\"|$X|1||same|no||other users can write to $X/bin (mode 777)"
  "another user's file where the driver goes|chmod 755 \"\$X/bin\"; chown 1001 \"\$X/bin/linux64/driver_ZelvanProximity.so\"|$I --prefix \"\$scratch/shared\"|$X|1||same|no||$X/bin/linux64/driver_ZelvanProximity.so belongs to another user (uid 1001)"
  "a target whose access control list lets another user write|chown 0 \"\$X/bin/linux64/driver_ZelvanProximity.so\"; acl_for_1001 \"\$X\"|$I --prefix \"\$scratch/shared\"|$X|1||same|no||other users can write to $X (mode 775 with an access control list)"
  "a folder writable by our own private group|folder_of \"\$scratch/mine\" 775|$I --prefix \"\$scratch/mine\"|$scratch/mine/zelvanproximity|0|adddriver $scratch/mine/zelvanproximity|same|no||ran "
  "a private group that another account has as its primary group||FAKE_ACCOUNT=mallory:x:1002:\$(id -g)::/nonexistent:/bin/sh $I --prefix \"\$scratch/mine\"|$scratch/mine/zelvanproximity|1||same|no||other users can write to $scratch/mine (mode 775, no sticky bit)"
  "a private group whose number another group with members shares||FAKE_GROUP=team:x:\$(id -g):mallory $I --prefix \"\$scratch/mine\"|$scratch/mine/zelvanproximity|1||same|no||other users can write to $scratch/mine (mode 775, no sticky bit)"
  "the installing user's own folders (uid 1001)|folder_of \"\$scratch/u1001\" 700 1001|FAKE_UID=1001 $I --prefix \"\$scratch/u1001\"|$scratch/u1001/zelvanproximity|0|adddriver $scratch/u1001/zelvanproximity|same|no||ran "
  "uninstall still removes a folder others can now write to|chmod 777 \"\$X\"|$I --prefix \"\$scratch/shared\" --uninstall|$X|0|removedriver $X|none|no||deleted $X"
  "uid 1000 installs into the sticky shared folder|no_steamvr|as_1000 --prefix \"\$scratch/shared\"|$X|0||same|no||copied "
  "it made the target as itself||modes \"\$X\"|$X|0||same|no||modes 755 1000 0"
  "a file uid 1000 cannot delete stops its reinstall, named|chmod 555 \"\$X/bin/linux64\"|as_1000 --prefix \"\$scratch/shared\"|$X|1||-|no||could not delete $X/bin/linux64/"
  "the marker stays, so the next run finishes once it can|chmod 755 \"\$X/bin/linux64\"|as_1000 --prefix \"\$scratch/shared\"|$X|0||same|no||copied "
  "a target uid 1000 made is refused to root||$I --prefix \"\$scratch/shared\"|$X|1||same|no||$X belongs to another user (uid 1000)"
  "another user's link to their folder named with an escape sequence|rm -rf \"\$X\"; folder_of \"\$scratch/e\$ESC[31mred\" 755 1001; ln -s \"\$scratch/e\$ESC[31mred\" \"\$X\"; chown -h 1001 \"\$X\"|$I --prefix \"\$scratch/shared\"|$X|1||empty|no||not installing into $scratch/e?[31mred: $X is a symbolic link of another user (uid 1001)"
  "another user's link to a folder of ours where the target goes|rm -rf \"\$X\"; folder_of \"\$scratch/ours\" 755; ln -s \"\$scratch/ours\" \"\$X\"; chown -h 1001 \"\$X\"|$I --prefix \"\$scratch/shared\"|$scratch/ours|1||empty|no||$X is a symbolic link of another user (uid 1001)"
  "install for the hostile marker|rm -rf \"\$T\"; registry_from openvrpaths_linux.vrpath|$I|$T|0|adddriver $T|same|no||ran "
  "uninstall skips .. and absolute entries|hostile_marker|$I --uninstall|$T|0|removedriver $T|none|no||left '../keep.txt'"
  "what they named is still there||kept \"\$HOME/.local/share/keep.txt\" \"\$HOME/Documents/thesis.odt\"|$T|0||none|no||kept"
  "install for the linked settings||$I|$T|0|adddriver $T|same|no||ran "
  "a reinstall does not copy through a symlinked folder|linked_resources|$I|$T|1||-|no||not copying through it"
  "uninstall leaves the symlinked folder||$I --uninstall|$T|0|removedriver $T|-|no||left $T/resources and what it leads to"
  "the linked settings are still there||kept \"\$HOME/my-settings/settings/default.vrsettings\"|$T|0||-|no||kept"
  "a runtime folder with brackets|rm -rf \"\$T\"; registry_with \"\$scratch/rv/Games [SSD]/SteamVR\"|$I|$T|0|adddriver $T|same|no||ran $scratch/rv/Games [SSD]"
  "another driver with brackets before ours|registry_with \"\$scratch/rv/Games [SSD]/SteamVR\" \"/opt/other [beta]/driver\" \"\$T\"|$I --uninstall|$T|0|removedriver $T|none|no||ran "
  "a runtime folder with an escaped accent|registry_with \"\$scratch/rv/Caf\\\\u00e9/SteamVR\"|$I|$T|0|adddriver $T|same|no||ran $scratch/rv/Café/SteamVR"
  "a registry path with a line break|registry_with \"\$scratch/rv/a\\\\nb\"|$I --uninstall|$T|1||same|no||holds a line break"
  "--udev without root or sudo|rm -rf \"\$T\"; registry_from openvrpaths_linux.vrpath; no_sudo|FAKE_UID=65534 $I --udev|$T|1|adddriver $T|same|no||udevadm control --reload && udevadm trigger"
  "uninstall after the missed rule|sudo_back|$I --uninstall|$T|0|removedriver $T|none|no||deleted"
  "install with the rule again|registry_from openvrpaths_linux.vrpath|$I --udev|$T|0|adddriver $T|same|yes|control --reload;trigger|installed $scratch/rules.d"
  "uninstall without root or sudo undoes the rest|no_sudo|FAKE_UID=65534 $I --uninstall|$T|1|removedriver $T|none|yes||rm -f \"$scratch/rules.d/70-zelvan-proximity.rules\""
  "the rule removed by hand|sudo_back; rm -f \"\$scratch/rules.d/70-zelvan-proximity.rules\"|echo removed|$T|0||none|no||removed"
  "a prefix with a line break||$I --prefix \"\$scratch/pre\${NL}fix\"|$T|1||none|no||line break"
  "the command shown for a vrpathreg.sh that cannot run pastes as printed|registry_with \"\$scratch/rv/Steam (x86)/SteamVR\"; chmod -x \"\$scratch/rv/Steam (x86)/SteamVR/bin/vrpathreg.sh\"|$I --prefix \"\$scratch/d\\\$x\"|$scratch/d\$x/zelvanproximity|0||same|no||\"$scratch/rv/Steam (x86)/SteamVR/bin/vrpathreg.sh\" adddriver '$scratch/d\$x/zelvanproximity'"
  "a block on the driver is cleared|blocked|$I --prefix \"\$scratch/b\"|$scratch/b/zelvanproximity|0|adddriver $scratch/b/zelvanproximity|same|no||cleared SteamVR's safe-mode block on the driver: removed \"blocked_by_safe_mode\" : true"
  "a block that cannot be cleared fails the install|blocked_unreadable|$I --prefix \"\$scratch/b\"|$scratch/b/zelvanproximity|1|adddriver $scratch/b/zelvanproximity|same|no||SteamVR may still block the driver"
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

#!/usr/bin/env bash
# Installs the SteamVR driver folder this script sits in: copies it to a
# permanent place, registers it with SteamVR and, on request, installs the
# udev rule. --uninstall undoes what an install did.
set -euo pipefail

name=zelvanproximity
marker=.zelvan-install
rule_name=70-zelvan-proximity.rules
# For tests only: where udev rules go.
rules_dir=${ZELVAN_UDEV_RULES_DIR:-/etc/udev/rules.d}

usage() {
  cat <<EOF
Usage: install.sh [--prefix DIR] [--udev] [--uninstall]

Copies this driver folder to DIR/$name and registers it with SteamVR
(vrpathreg.sh adddriver). Running it again replaces the copy; running it
from the installed folder registers that folder in place.

  --prefix DIR   where the folder goes (default: \${XDG_DATA_HOME:-~/.local/share})
  --udev         also install the udev rule that lets you open the sensor
                 ($rules_dir/$rule_name, through sudo)
  --uninstall    unregister, delete the copied folder and the udev rule
                 if an install put it there (or --udev is given)
  -h, --help     this text

When SteamVR is not found, the script prints the vrpathreg command to run.
EOF
}

say() { echo "install.sh: $*"; }
die() { echo "install.sh: error: $*" >&2; exit 1; }

prefix=${XDG_DATA_HOME:-${HOME:?HOME is not set}/.local/share}
udev=0
keep_udev=0
uninstall=0
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) [ $# -ge 2 ] || die "--prefix needs a folder"; prefix=$2; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --udev) udev=1; shift ;;
    --uninstall) uninstall=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) die "unknown argument '$1' (see --help)" ;;
  esac
done

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
[ -n "$prefix" ] || die "--prefix is empty"
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
# An empty or root prefix is a typo, never a place to install to.
[ -n "${prefix//\//}" ] || die "refusing to install into '/'"
prefix=${prefix%/}
# Resolved like the script's own folder, so that a symlink cannot hide that
# the two are the same.
if [ -d "$prefix" ]; then prefix=$(cd "$prefix" && pwd -P); fi
target=$prefix/$name
if [ -d "$target" ]; then target=$(cd "$target" && pwd -P); fi

# Prints the strings of the array named $1 in the JSON file $2, unescaped,
# one a line. Enough for the path registry, which vrpathreg writes.
json_array() {
  tr '\r\n\t' '   ' <"$2" |
    sed -n 's/.*"'"$1"'"[[:space:]]*:[[:space:]]*\[\([^]]*\)\].*/\1/p' |
    grep -o '"\([^"\\]\|\\.\)*"' |
    sed -e 's/^"//' -e 's/"$//' -e 's/\\\\/\x01/g' -e 's/\\\//\//g' -e 's/\\"/"/g' -e 's/\x01/\\/g' || true
}

registry=
for f in ${XDG_CONFIG_HOME:+"$XDG_CONFIG_HOME/openvr/openvrpaths.vrpath"} "$HOME/.config/openvr/openvrpaths.vrpath"; do
  if [ -f "$f" ]; then registry=$f; break; fi
done

# SteamVR uses the first runtime folder that exists.
vrpathreg=
hint="~/.steam/steam/steamapps/common/SteamVR/bin/vrpathreg.sh"
if [ -n "$registry" ]; then
  while IFS= read -r runtime; do
    runtime=${runtime%/}
    if [ -n "$runtime" ] && [ -d "$runtime" ]; then
      hint=$runtime/bin/vrpathreg.sh
      [ -x "$runtime/bin/vrpathreg.sh" ] && vrpathreg=$runtime/bin/vrpathreg.sh
      break
    fi
  done < <(json_array runtime "$registry")
fi

registered() {
  local drivers
  [ -n "$registry" ] || return 1
  drivers=$(json_array external_drivers "$registry")
  grep -qxF -- "$target" <<<"$drivers"
}

# Runs vrpathreg with $1 (adddriver or removedriver) for the target, or
# prints the command when SteamVR is not found.
vrpathreg() {
  if [ -z "$vrpathreg" ]; then
    say "SteamVR not found (no runtime with bin/vrpathreg.sh in ${registry:-~/.config/openvr/openvrpaths.vrpath}); run:"
    echo "  $hint $1 \"$target\""
    return 0
  fi
  "$vrpathreg" "$1" "$target" || die "'$vrpathreg $1 $target' failed"
  say "ran $vrpathreg $1 $target"
}

sudo_cmd() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

reload_udev() {
  sudo_cmd udevadm control --reload || die "udevadm control --reload failed"
  sudo_cmd udevadm trigger || die "udevadm trigger failed"
}

install_udev_rule() {
  sudo_cmd install -m 0644 "$target/udev/$rule_name" "$rules_dir/$rule_name" ||
    die "could not copy the udev rule to $rules_dir"
  say "installed $rules_dir/$rule_name"
  reload_udev
}

remove_udev_rule() {
  if [ -e "$rules_dir/$rule_name" ]; then
    sudo_cmd rm -f "$rules_dir/$rule_name" || die "could not remove $rules_dir/$rule_name"
    say "removed $rules_dir/$rule_name"
    reload_udev
  else
    say "no udev rule in $rules_dir"
  fi
}

# The marker lists what an install copied (first line: the folder it was
# copied to), so that only those files are ever deleted.
check_marker() {
  [ -f "$target/$marker" ] || die "$target was not installed by install.sh; not touching it"
  [ "$(head -n 1 "$target/$marker")" = "$target" ] ||
    die "$target/$marker names another folder (was the folder moved?); not touching it"
}

write_marker() {
  {
    echo "$target"
    (cd "$source_dir" && find . -mindepth 1 \( -type d -printf '%p/\n' \) -o \( -type f ! -name "$marker" -print \))
    [ "$udev$keep_udev" = 00 ] || echo "udev $rules_dir/$rule_name"
  } >"$target/$marker.new" && mv "$target/$marker.new" "$target/$marker" ||
    die "could not write $target/$marker"
}

remove_installed_files() {
  local entry i dirs=()
  while IFS= read -r entry; do
    case $entry in
      "udev "*) ;;
      */) dirs+=("$entry") ;;
      *) rm -f -- "$target/$entry" ;;
    esac
  done < <(tail -n +2 "$target/$marker")
  # The marker lists parents first; rmdir keeps any folder the user added to.
  for ((i = ${#dirs[@]} - 1; i >= 0; i--)); do
    rmdir -- "$target/${dirs[i]}" 2>/dev/null || true
  done
  rm -f -- "$target/$marker"
  if rmdir -- "$target" 2>/dev/null; then
    say "deleted $target"
  else
    say "left $target: it holds files the install did not put there"
  fi
}

# SteamVR blocks a driver it suspects of a crash and skips it at every start
# until the block goes; a reinstall clears it while SteamVR is closed.
# zelvan-ctl does it (rewriting the settings file as SteamVR writes it) and
# says so, or says why it cannot.
clear_steamvr_block() {
  local ctl=$target/bin/linux64/zelvan-ctl out line
  [ -x "$ctl" ] || return 0
  out=$("$ctl" unblock 2>&1) || true
  while IFS= read -r line; do
    [ -z "$line" ] || say "$line"
  done <<<"$out"
}

do_install() {
  [ -f "$source_dir/driver.vrdrivermanifest" ] || die "$source_dir is not a driver folder (no driver.vrdrivermanifest)"
  if [ "$source_dir" = "$target" ]; then
    say "registering $target in place"
  else
    case $target/ in "$source_dir"/*) die "$target is inside $source_dir" ;; esac
    case $source_dir/ in "$target"/*) die "$source_dir is inside $target" ;; esac
    if [ -e "$target" ]; then
      if [ -n "$(ls -A "$target" 2>/dev/null)" ]; then
        check_marker
        if grep -q '^udev ' "$target/$marker"; then keep_udev=1; fi
        remove_installed_files >/dev/null
        say "removed the previous install in $target"
      fi
    fi
    mkdir -p "$target" || die "could not create $target"
    write_marker
    cp -R "$source_dir/." "$target/" || die "could not copy $source_dir to $target"
    write_marker
    say "copied $source_dir to $target"
  fi
  [ "$udev" = 0 ] || install_udev_rule
  if registered; then
    say "$target is already registered with SteamVR"
  else
    vrpathreg adddriver
  fi
  clear_steamvr_block
  say "done; restart SteamVR to load the driver"
}

do_uninstall() {
  if registered || [ -z "$vrpathreg" ]; then
    vrpathreg removedriver
  else
    say "$target is not registered with SteamVR"
  fi
  if [ -f "$target/$marker" ]; then
    check_marker
    if grep -q '^udev ' "$target/$marker"; then udev=1; fi
  fi
  [ "$udev" = 0 ] || remove_udev_rule
  if [ -d "$target" ]; then
    check_marker
    remove_installed_files
  else
    say "nothing installed in $target"
  fi
}

if [ "$uninstall" = 1 ]; then do_uninstall; else do_install; fi

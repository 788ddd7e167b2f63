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
(vrpathreg.sh adddriver), and adds Zelvan Panel to the applications menu
(\${XDG_DATA_HOME:-~/.local/share}/applications/zelvan-panel.desktop).
Running it again replaces the copy; running it
from the installed folder registers that folder in place.

  --prefix DIR   where the folder goes (default: \${XDG_DATA_HOME:-~/.local/share})
  --udev         also install the udev rule that lets you open the sensor
                 ($rules_dir/$rule_name, through sudo)
  --uninstall    unregister, delete the copied folder, its menu entry and
                 the udev rule if an install put it there (or --udev is given)
  -h, --help     this text

When SteamVR is not found, the script prints the vrpathreg command to run.
EOF
}

# Control characters in a name (another user's folder or link may hold
# escape sequences) reach the terminal as '?'.
say() { local text="$*"; echo "install.sh: ${text//[[:cntrl:]]/?}"; }
die() { local text="$*"; echo "install.sh: error: ${text//[[:cntrl:]]/?}" >&2; exit 1; }
# A name as a shell word in a command printed for the user to paste: with
# control characters in \$'...' (escaped, so they do not reach the
# terminal), with $ ` \ or " in single quotes (which expand nothing),
# otherwise in double quotes.
shell_word() {
  case $1 in
    *[[:cntrl:]]*) printf '%q' "$1" ;;
    *[\$\`\\\"]*) printf "'%s'" "${1//\'/\'\\\'\'}" ;;
    *) printf '"%s"' "$1" ;;
  esac
}

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
# The marker and the registry's reader give one path a line.
case $prefix in *$'\n'*) die "the --prefix folder's name holds a line break; choose another folder" ;; esac
case $source_dir in *$'\n'*) die "this folder's path holds a line break; move the folder and run again" ;; esac
[ -z "$(cd "$source_dir" && find . -name $'*\n*' -print -quit)" ] ||
  die "a file name in $source_dir holds a line break; unpack the package again"
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
# An empty or root prefix is a typo, never a place to install to.
[ -n "${prefix//\//}" ] || die "refusing to install into '/'"
prefix=${prefix%/}
# Resolved like the script's own folder, so that a symlink cannot hide that
# the two are the same, nor lead through a folder another user can change:
# the deepest folder that exists is resolved, the rest is made by the install.
existing=$prefix
missing=
while [ ! -d "$existing" ]; do
  missing=${existing##*/}${missing:+/$missing}
  existing=${existing%/*}
  existing=${existing:-/}
done
existing=$(cd "$existing" && pwd -P) || die "cannot enter $existing"
prefix=${existing%/}
IFS=/ read -r -a parts <<<"$missing"
for part in "${parts[@]}"; do
  case $part in
    ""|.) ;;
    ..) die "the --prefix folder's name climbs with '..' out of folders that do not exist yet; give it without them" ;;
    *) prefix=$prefix/$part ;;
  esac
done
[ -n "$prefix" ] || die "refusing to install into '/'"
target=$prefix/$name
named=$target
if [ -d "$target" ]; then target=$(cd "$target" && pwd -P); fi

# Prints the strings of the array named $1 in the path registry, one a line,
# read by the folder's zelvan-ctl with a JSON parser; a registry it cannot
# read stops the script before anything is changed.
ctl=$source_dir/bin/linux64/zelvan-ctl
json_array() {
  local out
  out=$("$ctl" paths "$1" "$2" 2>&1) || die "cannot read SteamVR's path registry with $ctl: ${out:-it did not run}"
  [ -z "$out" ] || printf '%s\n' "$out"
}

registry=
for f in ${XDG_CONFIG_HOME:+"$XDG_CONFIG_HOME/openvr/openvrpaths.vrpath"} "$HOME/.config/openvr/openvrpaths.vrpath"; do
  if [ -f "$f" ]; then registry=$f; break; fi
done

# SteamVR uses the first runtime folder that exists.
vrpathreg=
hint="~/.steam/steam/steamapps/common/SteamVR/bin/vrpathreg.sh"
if [ -n "$registry" ]; then
  runtimes=$(json_array runtime "$registry")
  drivers=$(json_array external_drivers "$registry")
  while IFS= read -r runtime; do
    runtime=${runtime%/}
    if [ -n "$runtime" ] && [ -d "$runtime" ]; then
      hint=$(shell_word "$runtime/bin/vrpathreg.sh")
      [ -x "$runtime/bin/vrpathreg.sh" ] && vrpathreg=$runtime/bin/vrpathreg.sh
      break
    fi
  done <<<"$runtimes"
fi

registered() {
  [ -n "$registry" ] || return 1
  grep -qxF -- "$target" <<<"$drivers"
}

# Runs vrpathreg with $1 (adddriver or removedriver) for the target, or
# prints the command when SteamVR is not found.
vrpathreg() {
  if [ -z "$vrpathreg" ]; then
    say "SteamVR not found (no runtime with bin/vrpathreg.sh in ${registry:-~/.config/openvr/openvrpaths.vrpath}); run:"
    echo "  $hint $1 $(shell_word "$target")"
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

# Why the udev rule was not installed, once that is known; the rest of the
# install goes on and the script ends non-zero with the commands to run.
udev_missed=

install_udev_rule() {
  if ! sudo_cmd install -m 0644 "$target/udev/$rule_name" "$rules_dir/$rule_name"; then
    udev_missed="copying it to $rules_dir failed"
    return 0
  fi
  say "installed $rules_dir/$rule_name"
  # Recorded only now, so that an uninstall removes only a rule that is there.
  keep_udev=1
  if [ -f "$target/$marker" ] && ! grep -q '^udev ' "$target/$marker"; then
    echo "udev $rules_dir/$rule_name" >>"$target/$marker" || die "could not write $target/$marker"
  fi
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
    [ "$keep_udev" = 0 ] || echo "udev $rules_dir/$rule_name"
  } >"$target/$marker.new" && mv "$target/$marker.new" "$target/$marker" ||
    die "could not write $target/$marker"
}

# Succeeds when the marker entry $1 is a plain relative path that stays in
# the target; sets "why" otherwise.
plain_entry() {
  local part parts
  case $1 in
    "") why="an empty name"; return 1 ;;
    /*) why="an absolute path"; return 1 ;;
  esac
  IFS=/ read -r -a parts <<<"$1"
  for part in "${parts[@]}"; do
    [ "$part" != .. ] || { why="it climbs out with .."; return 1; }
  done
}

# Prints the first symbolic link on the way from the target to the entry
# $1, the entry itself included: whatever lies beyond one is not ours.
link_on_path() {
  local part parts path=$target
  IFS=/ read -r -a parts <<<"${1%/}"
  for part in "${parts[@]}"; do
    case $part in ""|.) continue ;; esac
    path=$path/$part
    if [ -L "$path" ]; then echo "$path"; return 0; fi
    [ -e "$path" ] || return 1
  done
  return 1
}

# Deletes only the marker's plain files and empty folders inside the target;
# names every entry it leaves, once for each symbolic link on the way. A
# file it cannot delete (a read-only folder) stops it with the marker kept,
# so that a run once the folder is writable again finishes the job.
remove_installed_files() {
  local entry i link why dirs=() links=" " stuck=0
  while IFS= read -r entry; do
    case $entry in "udev "*) continue ;; esac
    if ! plain_entry "$entry"; then
      say "left '$entry' named in $marker: $why"
    elif link=$(link_on_path "$entry"); then
      case $links in *" $link "*) ;; *)
        links+="$link "
        say "left $link and what it leads to: it is a symbolic link" ;;
      esac
    elif [ "${entry%/}" != "$entry" ]; then
      [ ! -e "$target/$entry" ] || [ -d "$target/$entry" ] || say "left $target/$entry: not a folder"
      dirs+=("$entry")
    elif [ -f "$target/$entry" ]; then
      rm -f -- "$target/$entry" 2>/dev/null || { say "could not delete $target/${entry#./}"; stuck=$((stuck + 1)); }
    elif [ -e "$target/$entry" ]; then
      say "left $target/$entry: not a regular file"
    fi
  done < <(tail -n +2 "$target/$marker")
  [ "$stuck" = 0 ] ||
    die "$stuck of the installed files in $target could not be deleted (named above), the rest are; make their folders writable (chmod -R u+w $(shell_word "$target")) and run this again"
  # The marker lists parents first; rmdir keeps any folder the user added to.
  for ((i = ${#dirs[@]} - 1; i >= 0; i--)); do
    [ ! -d "$target/${dirs[i]}" ] || rmdir -- "$target/${dirs[i]}" 2>/dev/null || true
  done
  rm -f -- "$target/$marker"
  [ "${1:-}" != replacing ] || return 0
  if rmdir -- "$target" 2>/dev/null; then
    say "deleted $target"
  else
    say "left $target: it holds files the install did not put there"
  fi
}

# A copy would write through a symbolic link that stands where one of the
# driver's files or folders goes, into a folder that is not ours.
refuse_links_in_target() {
  local entry link
  while IFS= read -r entry; do
    if link=$(link_on_path "$entry"); then
      die "$link is a symbolic link where the driver's files go; not copying through it (move it away and run again)"
    fi
  done < <(cd "$source_dir" && find . -mindepth 1)
}

# Succeeds when group members other than us could write to a folder of
# group $1 that is group-writable: not when it is our own private group (as
# systems with umask 002 make folders), with nobody else in it. A member
# whose primary group it is appears only in the account list, not in the
# group's own member list; one of another group of the same number (the
# kernel goes by the number) only in that group's list.
group_has_others() {
  local members me accounts user pgid groups gid
  me=$(id -un)
  [ "$1" = "$(id -g)" ] && [ "$(id -gn)" = "$me" ] || return 0
  members=$(getent group "$1" | cut -d: -f4)
  [ -z "$members" ] || [ "$members" = "$me" ] || return 0
  groups=$(getent group) || return 0
  while IFS=: read -r _ _ gid members; do
    [ "$gid" != "$1" ] || [ -z "$members" ] || [ "$members" = "$me" ] || return 0
  done <<<"$groups"
  accounts=$(getent passwd) || return 0
  while IFS=: read -r user _ _ pgid _; do
    [ "$pgid" != "$1" ] || [ "$user" = "$me" ] || return 0
  done <<<"$accounts"
  return 1
}

# Sets "why" to why another user could change what SteamVR loads from the
# folder $1 (the target with $2 = target, a folder above it with $2 = above),
# and "remedy"; fails when nobody but us and root can. A folder above that
# others may write to lets them rename ours away and put theirs in its place,
# unless its sticky bit (as on /tmp) keeps each user to their own entries.
folder_risk() {
  local owner gid mode acl=
  remedy=
  if ! read -r owner gid mode < <(stat -L -c '%u %g %a' -- "$1" 2>/dev/null); then
    why="$1 cannot be examined"
    return 0
  fi
  if [ "$owner" != "$my_uid" ] && [ "$owner" != 0 ]; then
    why="$1 belongs to another user (uid $owner)"
    return 0
  fi
  if (( 8#$mode & 8#020 )) && [[ $(ls -ld -- "$1") == ??????????+* ]]; then
    # With an access control list the group bits are the most any listed
    # user or group may do: someone may write.
    acl=" with an access control list"
  elif ! (( 8#$mode & 8#002 )) && ! { (( 8#$mode & 8#020 )) && group_has_others "$gid"; }; then
    return 1
  fi
  if [ "$2" = above ]; then
    (( 8#$mode & 8#1000 )) && return 1
    why="other users can write to $1 (mode $mode$acl, no sticky bit)"
  else
    why="other users can write to $1 (mode $mode$acl)"
  fi
  [ "$owner" != "$my_uid" ] || remedy="chmod go-w \"$1\""
  return 0
}

refuse_folder() {
  die "not installing into $target: $why; another user could replace the driver SteamVR loads from there (choose another --prefix${remedy:+, or run: $remedy})"
}

# Before anything changes: the target, when it exists, with whatever already
# stands where the driver's files go, and every folder above it (or above
# where it will be made) must be safe from other users.
check_install_folders() {
  local dir=$target rule=target entry owner
  my_uid=$(id -u)
  # Even a link to a folder of ours: where our driver goes is not theirs to say.
  if [ -L "$named" ]; then
    owner=$(stat -c %u -- "$named")
    if [ "$owner" != "$my_uid" ] && [ "$owner" != 0 ]; then
      why="$named is a symbolic link of another user (uid $owner)" remedy=
      refuse_folder
    fi
  fi
  [ -e "$target" ] || { dir=$existing; rule=above; }
  while :; do
    ! folder_risk "$dir" "$rule" || refuse_folder
    [ "$dir" != / ] || break
    dir=${dir%/*}
    dir=${dir:-/}
    rule=above
  done
  [ -e "$target" ] || return 0
  while IFS= read -r entry; do
    entry=${entry#./}
    [ -L "$target/$entry" ] || [ ! -e "$target/$entry" ] || ! folder_risk "$target/$entry" target || refuse_folder
  done < <(cd "$source_dir" && find . -mindepth 1)
}

# Makes the missing folders, the target last and alone so that it is ours
# whatever the umask, and checks what it made: someone who could slip a
# folder or link of their own onto the way meanwhile is caught here.
make_target() {
  [ -d "$prefix" ] || mkdir -p -- "$prefix" || die "could not create $prefix"
  [ -d "$target" ] || mkdir -m 755 -- "$target" || die "could not create $target"
  [ "$(cd "$target" && pwd -P)" = "$target" ] || die "$target leads elsewhere since it was checked; not installing there"
  check_install_folders
}

# The desktop entry that puts the panel in the applications menu. Ours
# carry X-Zelvan-Install=<folder>; a file of that name without it is
# someone else's and stays as it is.
entry_file=${XDG_DATA_HOME:-$HOME/.local/share}/applications/zelvan-panel.desktop
# A value as the Desktop Entry format reads it: backslashes doubled, tabs
# escaped (line breaks are refused above).
desktop_value() { local v=${1//\\/\\\\}; printf '%s' "${v//$'\t'/\\t}"; }
# One argument of Exec: in double quotes, with " ` $ \ escaped inside them,
# % doubled, then escaped again as any value is.
desktop_arg() {
  local v=${1//\\/\\\\}
  v=${v//\"/\\\"}
  v=${v//\`/\\\`}
  v=${v//\$/\\\$}
  v=${v//%/%%}
  desktop_value "\"$v\""
}
# Succeeds when the entry is a plain file of ours (naming folder $1, when given).
our_entry() {
  [ -f "$entry_file" ] && [ ! -L "$entry_file" ] || return 1
  if [ -n "${1:-}" ]; then
    grep -qxF -- "X-Zelvan-Install=$(desktop_value "$1")" "$entry_file"
  else
    grep -q '^X-Zelvan-Install=' "$entry_file"
  fi
}

# Written next to the entry and renamed over it, so that the menu never
# reads half a file; a failure is said, and the install goes on.
write_desktop_entry() {
  local dir=${entry_file%/*} tmp
  if { [ -e "$entry_file" ] || [ -L "$entry_file" ]; } && ! our_entry; then
    say "left $entry_file: install.sh did not write it"
    return 0
  fi
  if ! mkdir -p -- "$dir" || ! tmp=$(mktemp "$dir/.zelvan-panel.desktop.XXXXXX"); then
    say "could not write $entry_file; start the panel with \"$target/bin/linux64/zelvan-ctl\" panel"
    return 0
  fi
  if {
    echo "[Desktop Entry]"
    echo "Type=Application"
    echo "Name=Zelvan Panel"
    echo "Comment=Status, presence, IPD and tuning of the Zelvan proximity driver"
    echo "Exec=$(desktop_arg "$target/bin/linux64/zelvan-ctl") panel"
    echo "Icon=$(desktop_value "$target/resources/icons/zelvan-panel.svg")"
    echo "Terminal=false"
    echo "Categories=Settings;HardwareSettings;"
    echo "X-Zelvan-Install=$(desktop_value "$target")"
  } >"$tmp" && chmod 0644 "$tmp" && mv -f -- "$tmp" "$entry_file"; then
    say "added Zelvan Panel to the applications menu ($entry_file)"
  else
    rm -f -- "$tmp"
    say "could not write $entry_file; start the panel with \"$target/bin/linux64/zelvan-ctl\" panel"
  fi
}

remove_desktop_entry() {
  if our_entry "$target"; then
    rm -f -- "$entry_file" && say "removed $entry_file"
  elif [ -e "$entry_file" ]; then
    say "left $entry_file: it is not this install's"
  fi
}

# SteamVR blocks a driver it suspects of a crash and skips it at every start
# until the block goes; a reinstall clears it while SteamVR is closed.
# zelvan-ctl does it (changing only that entry of the settings file) and
# says so, or says why it cannot and fails; then the install fails too.
still_blocked=
clear_steamvr_block() {
  local ctl=$target/bin/linux64/zelvan-ctl out line status=0
  [ -x "$ctl" ] || return 0
  out=$("$ctl" unblock 2>&1) || status=$?
  while IFS= read -r line; do
    [ -z "$line" ] || say "$line"
  done <<<"$out"
  [ "$status" = 0 ] || still_blocked=1
}

do_install() {
  [ -f "$source_dir/driver.vrdrivermanifest" ] || die "$source_dir is not a driver folder (no driver.vrdrivermanifest)"
  check_install_folders
  # What the install makes is writable by us alone, whatever the umask.
  umask "$(printf '%04o' $(( $(umask) | 8#022 )))"
  if [ "$udev" = 1 ] && [ "$(id -u)" != 0 ] && ! command -v sudo >/dev/null 2>&1; then
    udev=0
    udev_missed="not root, and no sudo to become root"
    say "cannot install the udev rule ($udev_missed); installing the rest"
  fi
  if [ "$source_dir" = "$target" ]; then
    say "registering $target in place"
  else
    case $target/ in "$source_dir"/*) die "$target is inside $source_dir" ;; esac
    case $source_dir/ in "$target"/*) die "$source_dir is inside $target" ;; esac
    if [ -e "$target" ]; then
      if [ -n "$(ls -A "$target" 2>/dev/null)" ]; then
        check_marker
        if grep -q '^udev ' "$target/$marker"; then keep_udev=1; fi
        refuse_links_in_target
        remove_installed_files replacing
        say "removed the previous install in $target"
      fi
    fi
    make_target
    write_marker
    cp -R "$source_dir/." "$target/" || die "could not copy $source_dir to $target"
    write_marker
    say "copied $source_dir to $target"
  fi
  write_desktop_entry
  [ "$udev" = 0 ] || install_udev_rule
  if registered; then
    say "$target is already registered with SteamVR"
  else
    vrpathreg adddriver
  fi
  clear_steamvr_block
  if [ -n "$still_blocked" ]; then
    say "installed, but SteamVR may still block the driver (see above); close SteamVR and run \"$target/bin/linux64/zelvan-ctl\" doctor --fix, which clears the block or says why it cannot"
  else
    say "done; restart SteamVR to load the driver"
  fi
  if [ -n "$udev_missed" ]; then
    say "the udev rule is not installed ($udev_missed); run as root:"
    echo "  install -m 0644 $(shell_word "$target/udev/$rule_name") $(shell_word "$rules_dir/$rule_name")"
    echo "  udevadm control --reload && udevadm trigger"
    exit 1
  fi
  [ -z "$still_blocked" ] || exit 1
}

do_uninstall() {
  # Checked before anything changes, as for --udev: without a way to become
  # root the rule stays, the rest is undone, and the end says what to run.
  local wants_udev=$udev
  if [ -f "$target/$marker" ] && grep -q '^udev ' "$target/$marker"; then wants_udev=1; fi
  if [ "$wants_udev" = 1 ] && [ -e "$rules_dir/$rule_name" ] && [ "$(id -u)" != 0 ] &&
     ! command -v sudo >/dev/null 2>&1; then
    udev_missed="not root, and no sudo to become root"
    say "cannot remove the udev rule ($udev_missed); uninstalling the rest"
  fi
  # A folder that is there but not an install of ours stays registered too.
  [ ! -d "$target" ] || check_marker
  if registered || [ -z "$vrpathreg" ]; then
    vrpathreg removedriver
  else
    say "$target is not registered with SteamVR"
  fi
  if [ -f "$target/$marker" ]; then
    check_marker
    if grep -q '^udev ' "$target/$marker"; then udev=1; fi
  fi
  [ "$udev" = 0 ] || [ -n "$udev_missed" ] || remove_udev_rule
  remove_desktop_entry
  if [ -d "$target" ]; then
    check_marker
    remove_installed_files
  else
    say "nothing installed in $target"
  fi
  if [ -n "$udev_missed" ]; then
    say "the udev rule is left in $rules_dir ($udev_missed); run as root:"
    echo "  rm -f $(shell_word "$rules_dir/$rule_name")"
    echo "  udevadm control --reload"
    exit 1
  fi
}

if [ "$uninstall" = 1 ]; then do_uninstall; else do_install; fi

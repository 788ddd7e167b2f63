#!/usr/bin/env bash
# The setup program under Wine, in one scratch Wine prefix that its steps
# share, against a fake SteamVR: a vrpathreg.exe stand-in that records its
# calls and edits the path registry as SteamVR's does, and a vrserver.exe
# stand-in for a running SteamVR. Each row is a step run on the state the
# previous steps left. ROWS "names" runs, instead of the plain rows, rows
# whose profile and Steam library are named in other scripts; "registry"
# rows whose path registry was written to mislead.
# Usage: setup_program_test.sh SOURCE_DIR SETUP_EXE VERSION VRPATHREG_STANDIN VRSERVER_STANDIN [ROWS]
set -euo pipefail
source_tree=$1
setup=$2
version=$3
vrpathreg_standin=$4
vrserver_standin=$5
rows=${6:-plain}
# Wine takes names from its command line and environment as the locale's
# text, so the locale must be a UTF-8 one unless the caller chose it.
export LC_ALL=${LC_ALL:-C.UTF-8}
# Wine would copy each Start-menu entry into this machine's own menu.
export WINEDLLOVERRIDES=winemenubuilder.exe=d
scratch=$(mktemp -d)
wine_run=$source_tree/scripts/wine-run.sh
export ZELVAN_WINE_PREFIX=$scratch/prefix
cleanup() {
  "$wine_run" --kill >/dev/null 2>&1 || true
  ! mountpoint -q "$scratch/prefix/drive_e" || umount "$scratch/prefix/drive_e"
  rm -rf "$scratch"
}
trap cleanup EXIT
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

"$wine_run" cmd /c exit >/dev/null 2>&1  # makes the prefix
# Under a Japanese locale the rows prove something only with code page 932.
if [[ $LC_ALL = ja_JP* ]]; then
  acp=$("$wine_run" reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null | tr -d '\r' | awk '/ACP/ {print $3}')
  [ "$acp" = 932 ] || { echo "FAIL: Wine runs with code page '$acp' under $LC_ALL, not 932" >&2; exit 1; }
fi
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
start_menu="$ZELVAN_WINE_PREFIX/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"

# Setups a row can name. The fixture's runtime is the folder made above.
steamvr() { cp "$source_tree/tests/fixtures/real/openvrpaths_windows.vrpath" "$registry"; }
no_steamvr() { rm -f "$registry"; }
user_file() { echo mine >"$target/notes.txt"; }
# SteamVR blocked the driver after a crash; the setup clears the block.
settings="$ZELVAN_WINE_PREFIX/drive_c/Program Files (x86)/Steam/config/steamvr.vrsettings"
blocked() {
  mkdir -p "$(dirname "$settings")"
  rm -rf "$settings.zelvan-backup" "$settings.zelvan-backup.tmp"
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true,\n      "enable" : false\n   }\n}\n' >"$settings"
  expect_unblocked=1
}
# A block zelvan-ctl cannot clear: the settings file does not parse (a
# comma before the brace), and it changes nothing it cannot read.
blocked_for_good() {
  blocked
  expect_unblocked=
  printf '{\n   "driver_ZelvanProximity" : {\n      "blocked_by_safe_mode" : true,\n   }\n}\n' >"$settings"
}
# An older version shipped files this one does not (a file in a folder of
# its own, one beside ours); its list names them.
older_version() {
  mkdir -p "$target/old" && echo old >"$target/old/old.txt" && echo old >"$target/bin/win64/old.dll"
  printf 'F bin\\win64\\old.dll\r\nF old\\old.txt\r\nD old\r\n' >>"$target/installed-files.txt"
}
# Another copy's Start-menu entry: a .lnk that starts in "<our folder> (1)".
foreign_shortcut() {
  python3 - "$start_menu/Zelvan Panel.lnk" "$T (1)\\bin\\win64" <<'PY'
import struct, sys, uuid
path, folder = sys.argv[1:3]
# The header (HasWorkingDir, IsUnicode), then the folder as UTF-16.
header = struct.pack("<I16sI", 0x4C, uuid.UUID("00021401-0000-0000-C000-000000000046").bytes_le, 0x90) + bytes(0x4C - 24)
text = folder.encode("utf-16-le")
open(path, "wb").write(header + struct.pack("<H", len(folder)) + text)
PY
  cp "$start_menu/Zelvan Panel.lnk" "$scratch/foreign.lnk"
}
# The program the Start-menu entry names, started as the menu starts it, with
# an xdg-open stand-in where Wine's browser bridge looks for one: it keeps
# what ShellExecuteW was asked to open. The panel must serve that launch
# file, and the program end once the page's Quit ends the panel.
panel_from_shortcut() {
  local exe pid launch
  exe=$(python3 - "$start_menu/Zelvan Panel.lnk" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
# The link's local base path (ANSI) or its Unicode strings, at either parity.
for text in (data.decode("latin-1"), data.decode("utf-16-le", "replace"), data[1:].decode("utf-16-le", "replace")):
    found = re.search(r"[A-Za-z]:\\[^\x00<>\"|?*]*?zelvan-panel\.exe", text, re.I)
    if found:
        print(found[0])
        break
PY
)
  [ -n "$exe" ] || { echo "the Start-menu entry names no zelvan-panel.exe"; return 1; }
  mkdir -p "$scratch/browser" && rm -f "$scratch/browser.arg"
  printf '#!/bin/sh\nprintf "%%s\\n" "$1" >"%s/browser.arg"\n' "$scratch" >"$scratch/browser/xdg-open"
  chmod +x "$scratch/browser/xdg-open"
  PATH=$scratch/browser:$PATH "$wine_run" "$exe" &
  pid=$!
  for _ in $(seq 600); do
    if [ -s "$scratch/browser.arg" ] || ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  launch=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.unquote(sys.argv[1].removeprefix("file://")))' \
    "$(cat "$scratch/browser.arg" 2>/dev/null)")
  python3 "$source_tree/tests/package/panel_knock.py" "$launch" || { "$wine_run" --kill; return 1; }
  for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    "$wine_run" --kill
    echo "zelvan-panel.exe did not end after the panel's Quit"
    return 1
  fi
  wait "$pid"
}
# An install by a version that kept no list of its files.
unlisted() { rm "$target/installed-files.txt"; }
# A list that names files outside the folder, or all of them: the folder
# is the user's to write.
hostile_list() {
  local victim=$ZELVAN_WINE_PREFIX/drive_c/drivers/victim
  mkdir -p "$victim" && echo theirs >"$victim/x.txt"
  printf 'F %s\r\n' '..\..\..\..\..\..\..\..\drivers\victim\x.txt' 'C:\drivers\victim\x.txt' \
    '\drivers\victim\x.txt' '..\..\..\..\..\..\..\..\drivers\victim\*' \
    '.. \.. \.. \.. \.. \.. \.. \.. \drivers\victim\x.txt' '...\...\...\...\...\...\...\...\drivers\victim\x.txt' \
    >>"$target/installed-files.txt"
  printf 'D %s\r\n' '.. ' '...' >>"$target/installed-files.txt"
  protect "$victim"
}
# Drive E: for folders that are not ours.
mkdir -p "$ZELVAN_WINE_PREFIX/drive_e"
ln -sfn ../drive_e "$ZELVAN_WINE_PREFIX/dosdevices/e:"
unix_path() { local p=${1//\\//}; case $p in [Cc]:*) p=drive_c${p:2} ;; [Ee]:*) p=drive_e${p:2} ;; esac; printf '%s' "$ZELVAN_WINE_PREFIX/${p%/}"; }
# E:\zv on a disk too small for the driver's files (its uninstaller fits),
# then on the same disk with room.
small_disk() { mount -t tmpfs -o size=400k tmpfs "$ZELVAN_WINE_PREFIX/drive_e" && args="$args /D=E:\\zv"; }
more_room() { mount -o remount,size=20m "$ZELVAN_WINE_PREFIX/drive_e" && args="$args /D=E:\\zv"; }
no_entry() { "$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true; }
# Another driver's files (or a user's) in FOLDER, named as ours are.
others_folder() {
  local dir; dir=$(unix_path "$1")
  mkdir -p "$dir/bin/win64"
  for f in README.txt driver.vrdrivermanifest bin/win64/hidapi.dll; do echo theirs >"$dir/$f"; done
}
# The step installs into FOLDER with /D=, and whatever is there must stay.
install_to() {
  args="$args /D=$1"
  protect "$(unix_path "$1")"
}
protect() { protected=$1; snapshot "$protected" >"$scratch/protected"; }
# The Add/Remove Programs entry names another copy, which an older setup
# installed after this one.
entry_names_other() {
  mkdir -p "$ZELVAN_WINE_PREFIX/drive_c/drivers/copy" && cp "$target/uninstall.exe" "$ZELVAN_WINE_PREFIX/drive_c/drivers/copy/"
  "$wine_run" reg add "$key" /v InstallLocation /d 'C:\drivers\copy' /f >/dev/null 2>&1
}
# Our bin folder replaced by a link to another folder holding same-named
# files: nothing in that folder may go.
link_bin() {
  local elsewhere=$ZELVAN_WINE_PREFIX/drive_c/drivers/linked
  if [ ! -L "$target/bin" ]; then
    mkdir -p "$elsewhere/win64"
    for f in driver_ZelvanProximity.dll hidapi.dll zelvan-ctl.exe; do echo theirs >"$elsewhere/win64/$f"; done
    rm -rf "$target/bin" && ln -s "$elsewhere" "$target/bin"
  fi
  protect "$elsewhere"
}
# SteamVR running while the step runs.
vrserver() {
  "$wine_run" "$(winpath "$scratch/vrserver.exe")" "$(winpath "$scratch/running")" 120 >/dev/null 2>&1 &
  for _ in $(seq 100); do [ -f "$scratch/running" ] && return; sleep 0.2; done
  fail "the vrserver.exe stand-in did not start"
}

# as_user USER LIBRARY: the steps run as the Windows user USER, with SteamVR
# and its config folder in the Steam library D:\LIBRARY\Steam. Windows
# takes %LOCALAPPDATA% from the user's shell folders, and Wine would set
# TEMP from Linux: step.cmd sets both from inside Wine, the shell folders
# when the step's user is not the one before (STEP_NEW_USER=1).
mkdir -p "$ZELVAN_WINE_PREFIX/drive_d"
ln -sfn ../drive_d "$ZELVAN_WINE_PREFIX/dosdevices/d:"
shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer'
printf '%s\r\n' \
  "@if \"%STEP_NEW_USER%\"==\"1\" reg add \"$shell_folders\\User Shell Folders\" /v \"Local AppData\" /t REG_EXPAND_SZ /d \"%STEP_LOCALAPPDATA%\" /f >nul" \
  "@if \"%STEP_NEW_USER%\"==\"1\" reg add \"$shell_folders\\Shell Folders\" /v \"Local AppData\" /t REG_SZ /d \"%STEP_LOCALAPPDATA%\" /f >nul" \
  '@set "LOCALAPPDATA=%STEP_LOCALAPPDATA%"' '@set "TEMP=%STEP_TEMP%"' '@set "TMP=%STEP_TEMP%"' \
  '@"%STEP_PROGRAM%" %*' '@exit /b %errorlevel%' >"$scratch/step.cmd"
as_user() {
  local home=$ZELVAN_WINE_PREFIX/drive_c/users/$1
  export STEP_LOCALAPPDATA="C:\\users\\$1\\AppData\\Local" STEP_TEMP="C:\\users\\$1\\Temp"
  mkdir -p "$home/AppData/Local/openvr" "$home/Temp"
  registry=$home/AppData/Local/openvr/openvrpaths.vrpath
  export ZELVAN_VRPATHREG_REGISTRY="$STEP_LOCALAPPDATA\\openvr\\openvrpaths.vrpath"
  target=$home/AppData/Local/Programs/zelvanproximity
  T="$STEP_LOCALAPPDATA\\Programs\\zelvanproximity"
  library="D:\\$2\\Steam"
  settings="$ZELVAN_WINE_PREFIX/drive_d/$2/Steam/config/steamvr.vrsettings"
  mkdir -p "$ZELVAN_WINE_PREFIX/drive_d/$2/Steam/steamapps/common/SteamVR/bin/win64"
  cp "$vrpathreg_standin" "$ZELVAN_WINE_PREFIX/drive_d/$2/Steam/steamapps/common/SteamVR/bin/win64/vrpathreg.exe"
}
# The path registry written as FORM: utf8 (the characters as they are) or
# escaped (\u escapes, a surrogate pair for a character beyond U+FFFF, as
# Python's json.dump writes by default). "fresh" writes SteamVR's in the
# library and another driver; "rewrite" writes again what is there.
registry_as() {
  python3 - "$1" "$2" "$registry" "$library" <<'PY'
import json, sys
how, form, path, library = sys.argv[1:5]
if how == "fresh":
    doc = {"config": [library + "\\config"], "external_drivers": ["C:\\K2EX\\KinectToVR"],
           "jsonid": "vrpathreg", "log": [library + "\\logs"],
           "runtime": [library + "\\steamapps\\common\\SteamVR"], "version": 1}
else:
    doc = json.load(open(path, encoding="utf-8"))
with open(path, "w", encoding="utf-8") as out:
    json.dump(doc, out, indent="\t", ensure_ascii=form == "escaped")
PY
}

# The rows with a misleading path registry: any program of the user can
# write it. A decoy SteamVR, whose vrpathreg.exe records nothing, stands
# where only a misreading would find it.
decoy="$ZELVAN_WINE_PREFIX/drive_c/decoy/SteamVR/bin/win64"
mkdir -p "$decoy" && cp "$vrserver_standin" "$decoy/vrpathreg.exe"
registry_text() {
  python3 - "$1" "$registry" "$T" <<'PY'
import sys
which, path, folder = sys.argv[1:4]
runtime = r"C:\Program Files (x86)\Steam\steamapps\common\SteamVR"
parent = folder.rsplit("\\", 1)[0] + "\\"
# A runtime folder named so that its vrpathreg command line, in NSIS's
# strings of 1024 characters, would be cut right after the folder's parent.
room = 1023 - len('"\\bin\\win64\\vrpathreg.exe" removedriver "') - len(parent) - len(runtime)
long_runtime = runtime + ("\\bin\\.." if room % 2 else "") + "\\." * (room // 2)
text = {
    # Keys SteamVR does not take for "runtime" (NSIS's own comparison
    # ignores case and a soft hyphen), and strings below the top level.
    "decoy_runtimes": '{"RUNTIME": ["@D"], "run\\u00adtime": ["@D"], "run\u00adtime": ["@D"], '
                      '"other": {"runtime": ["@D"]}, "runtime": [["@D"], "@R"], "external_drivers": []}',
    # The folder after escapes cut short, lone surrogates and a long string;
    # a sequence cut short ends the file.
    "cut_short": '{"runtime": ["@R"], "external_drivers": ["C:\\\\x\\u12", "C:\\\\x\\uZZZZ", "\\ud83c", '
                 '"\\udfae", "' + "x" * 200000 + '", "@T"]}\n\udce6\udcb8',
    # Entries that only look like the folder.
    "lookalikes": '{"runtime": ["@R"], "external_drivers": ["@T\\u00ad", "@T\u00ad", "@T\\u0000", '
                  '"C:\\\\x\\" , \\"@T"]}',
    # Bytes that are not UTF-8, in the folder and as an overlong quote in
    # front of a decoy runtime; decoy runtimes in comments.
    "bad_bytes": '{/* "runtime": ["@D"], */ // "runtime": ["@D"]\n'
                 '"runtime": ["C:\\\\nothere\udcc0\udca2, \udcc0\udca2@D", "@R"], '
                 '"external_drivers": ["@T\udcc0\udca2", "@T\udcff", "@T\x00"]}',
    # The folder registered with a trailing separator and other capitals.
    "spelled": '{"runtime": ["@R"], "external_drivers": ["@U\\\\"]}',
    "long_runtime": '{"runtime": ["' + long_runtime.replace("\\", "\\\\") + '"], "external_drivers": ["@T", "@P"]}',
    # Larger than any path registry.
    "huge": '{"padding": ["' + "y" * 1100000 + '"], "runtime": ["@R"], "external_drivers": []}',
}[which]
for mark, value in (("@D", r"C:\decoy\SteamVR"), ("@R", runtime), ("@T", folder), ("@P", parent),
                    ("@U", folder.upper())):
    text = text.replace(mark, value.replace("\\", "\\\\"))
open(path, "wb").write(text.encode("utf-8", "surrogateescape"))
PY
}

fail() {
  echo "FAIL [$name]: $*" >&2
  echo "--- what the step printed:" >&2; tr -d '\r' <"$scratch/out" >&2 2>/dev/null || true
  echo "--- vrpathreg calls:" >&2; tr -d '\r' <"$scratch/vrpathreg.log" >&2 2>/dev/null || true
  echo "--- $target:" >&2; ls -AR "$target" >&2 2>/dev/null || true
  exit 1
}

snapshot() { local d=${1:-$target}; [ ! -d "$d" ] || (cd "$d" && find . -printf '%p %s %T@\n' | sort); }

# A registry that is not JSON (the misleading ones) is searched as text.
registrations() {
  python3 - "$registry" "$T" <<'PY'
import json, os, sys
path, target = sys.argv[1:3]
text = open(path, "rb").read().decode("utf-8", "surrogateescape") if os.path.exists(path) else "{}"
try:
    drivers = json.loads(text, strict=False).get("external_drivers") or []
    print(sum(1 for d in drivers if d.rstrip("\\").lower() == target.lower()))
except ValueError:
    print(text.lower().count(json.dumps(target.lower())))
PY
}

# Checks one step: exit status, the vrpathreg calls, the registrations of the
# folder, its files (all: the setup's files and the uninstaller, and the
# installed zelvan-ctl's version; files: the same files; either with nothing
# else but the user's file; same: as before the step, times included; none;
# user: the user's file only; link: that and the link to the bin folder), a
# block SteamVR had set, a folder that is not ours as it was, and the
# Add/Remove Programs entry (yes/no, or other: one for another folder).
check() {
  local got
  [ "$got_status" = "$status" ] || fail "exit status $got_status, expected $status"
  got=$({ tr -d '\r' <"$scratch/vrpathreg.log"; } 2>/dev/null | paste -sd ';' || true)
  [ "$got" = "$calls" ] || fail "vrpathreg calls '$got', expected '$calls'"
  got=$(registrations)
  [ "$got" = "$registered" ] || fail "registered $got times, expected $registered"
  case $folder in
    all|files)
      for f in driver.vrdrivermanifest README.txt resources/settings/default.vrsettings uninstall.exe installed-files.txt \
          bin/win64/driver_ZelvanProximity.dll bin/win64/hidapi.dll bin/win64/zelvan-ctl.exe bin/win64/zelvan-panel.exe; do
        [ -f "$target/$f" ] || fail "$f is missing"
      done
      for f in install.cmd install.sh udev; do [ ! -e "$target/$f" ] || fail "$f was installed"; done
      # Nothing that an earlier version put there and this one does not ship.
      got=$(cd "$target" && find . -mindepth 1 -printf '%P\n' | grep -vxF -e uninstall.exe -e installed-files.txt \
        -e notes.txt -f <(tr -d '\r' <installed-files.txt | sed -n 's/^[FD] //p' | tr '\\' /) | paste -sd ' ' || true)
      [ -z "$got" ] || fail "left from before: $got"
      # One version: the installed zelvan-ctl says the one the setup carries.
      # Its standard output alone: Wine may report its own troubles on stderr.
      if [ "$folder" = all ]; then
        got=$("$wine_run" "$T\\bin\\win64\\zelvan-ctl.exe" --version 2>"$scratch/version.err" | tr -d '\r')
        [ "$got" = "zelvan-ctl $version" ] ||
          fail "zelvan-ctl --version says '$got' (stderr: $(cat "$scratch/version.err"))"
      fi ;;
    same) snapshot | diff "$scratch/before" - >/dev/null || fail "the installed files changed" ;;
    none) [ ! -e "$target" ] || fail "$target is still there" ;;
    user) [ "$(ls -A "$target")" = notes.txt ] || fail "$target holds '$(ls -A "$target")', not only the user's file" ;;
    link) [ "$(ls -A "$target" | paste -sd ' ')" = "bin notes.txt" ] && [ -L "$target/bin" ] ||
      fail "$target holds '$(ls -A "$target" | paste -sd ' ')', not the user's file and the link" ;;
  esac
  if [ -n "$expect_unblocked" ]; then
    # Only the block goes: turning the driver off stays the user's choice.
    python3 -c 'import json,sys; assert json.load(open(sys.argv[1], encoding="utf-8")) == {"driver_ZelvanProximity": {"enable": False}}' \
      "$settings" || fail "the block is still in $(cat "$settings")"
    [ -f "$settings.zelvan-backup" ] || fail "no backup of the settings file"
  fi
  if [ -n "$protected" ]; then
    snapshot "$protected" | diff "$scratch/protected" - >/dev/null || fail "$protected changed"
  fi
  # Exported as UTF-16: reg query prints through the console's code page.
  rm -f "$scratch/entry.reg"
  "$wine_run" reg export "$key" "$(winpath "$scratch/entry.reg")" /y >/dev/null 2>&1 || true
  got=$(python3 - "$scratch/entry.reg" "$T" "$version" "$entry" <<'PY'
import os, re, sys
path, folder, version, entry = sys.argv[1:5]
values = {}
if os.path.exists(path):
    for line in open(path, encoding="utf-16").read().splitlines():
        m = re.match(r'"(\w+)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-f]{8}))$', line)
        if m:
            values[m[1]] = re.sub(r"\\(.)", r"\1", m[2]) if m[3] is None else int(m[3], 16)
uninstaller = '"%s\\uninstall.exe"' % folder
want = {"DisplayName": "Zelvan Proximity", "DisplayVersion": version, "InstallLocation": folder,
        "UninstallString": uninstaller, "QuietUninstallString": uninstaller + " /S",
        "NoModify": 1, "NoRepair": 1} if entry == "yes" else {}
wrong = [f"{k} is {values.get(k)!r}, expected {v!r}" for k, v in want.items() if values.get(k) != v]
if entry == "yes":
    wrong += [f"{k} is {values.get(k)!r}" for k in ("Publisher", "EstimatedSize") if not values.get(k)]
elif entry == "other":
    wrong += [] if values and values.get("InstallLocation") != folder else [f"not another copy's: {values}"]
elif values:
    wrong.append(f"still there: {values}")
print("; ".join(wrong))
PY
)
  [ -z "$got" ] || fail "the Add/Remove Programs entry: $got"
  # The Start-menu entry comes and goes with the Add/Remove Programs entry.
  if [ -f "$scratch/foreign.lnk" ]; then
    got=same
    cmp -s "$scratch/foreign.lnk" "$start_menu/Zelvan Panel.lnk" || got=changed
    rm -f "$scratch/foreign.lnk" "$start_menu/Zelvan Panel.lnk"
    [ "$got" = same ] || fail "another copy's Start-menu entry changed"
  else
    case $entry in
      yes) [ -f "$start_menu/Zelvan Panel.lnk" ] || fail "no Start-menu entry in $start_menu" ;;
      no) [ ! -e "$start_menu/Zelvan Panel.lnk" ] || fail "the Start-menu entry is still there" ;;
    esac
  fi
}

# name | setup | program (setup, uninstall, panel: the Start-menu entry's) | arguments | status | vrpathreg calls | registrations | folder | entry
steps=(
  "silent install|steamvr|setup|/S|0|adddriver $T|1|all|yes"
  "the Start-menu entry starts the panel, which serves until its Quit||panel||0||1|same|yes"
  "second install|user_file|setup|/S|0||1|all|yes"
  "an upgrade removes what the older version shipped and stays registered|older_version|setup|/S|0||1|all|yes"
  "an upgrade from a version that kept no list of its files|unlisted|setup|/S|0||1|all|yes"
  "a list naming files outside the folder deletes none of them|hostile_list|setup|/S|0||1|all|yes"
  "a block that cannot be cleared is reported|blocked_for_good|setup|/S|1||1|all|yes"
  "a reinstall clears SteamVR's block|blocked|setup|/S|0||1|all|yes"
  "install while SteamVR runs|vrserver|setup|/S|2||1|same|yes"
  "a second copy in another folder is refused|install_to 'C:\\second'|setup|/S|4||1|same|yes"
  "silent uninstall keeps the user's file and another copy's Start-menu entry|foreign_shortcut|uninstall|/S|0|removedriver $T|0|user|no"
  "a drive root is refused|others_folder 'E:\\'; install_to 'E:\\'|setup|/S|3||0|user|no"
  "another driver's folder is refused|others_folder 'C:\\drivers\\other'; install_to 'C:\\drivers\\other'|setup|/S|3||0|user|no"
  "install without SteamVR|no_steamvr|setup|/S|0||0|all|yes"
  "uninstall without SteamVR|user_file|uninstall|/S|0||0|user|no"
  "install into an empty folder|steamvr; rm -rf \"\$target\"; mkdir \"\$target\"|setup|/S|0|adddriver $T|1|all|yes"
  "a link where the driver's files go is refused|user_file; link_bin|setup|/S|3||1|same|yes"
  "the uninstaller deletes nothing through a link|link_bin|uninstall|/S|0|removedriver $T|0|link|no"
  "install again once the link is gone|rm \"\$target/bin\"|setup|/S|0|adddriver $T|1|all|yes"
  "an older copy's uninstaller leaves the entry of the copy it names|entry_names_other|uninstall|/S|0|removedriver $T|0|user|other"
  "a full disk stops the setup part-way, leaving its uninstaller and entry|no_entry; small_disk|setup|/S|5||0|-|other"
  "with room, a second run finishes that install|more_room|setup|/S|0|adddriver E:\\zv|0|-|other"
  "without /D= the setup upgrades that install where it is||setup|/S|0||0|-|other"
)

# The same columns. Where the stand-in, as vrpathreg would, cannot parse
# the registry, the call is made and the registry stays as it was.
registry_steps=(
  "decoy runtimes are passed over|registry_text decoy_runtimes|setup|/S|0|adddriver $T|1|files|yes"
  "the folder is found after escapes cut short, lone surrogates and a long string|registry_text cut_short|uninstall|/S|0|removedriver $T|1|none|no"
  "entries that only look like the folder are not it|registry_text lookalikes|setup|/S|0|adddriver $T|1|files|yes"
  "bytes that are not UTF-8 and comments make no folder and no runtime|registry_text bad_bytes|setup|/S|1|adddriver $T|0|files|yes"
  "a runtime named too long for its vrpathreg command is not used|registry_text long_runtime|uninstall|/S|0||1|none|no"
  "a registry over 1 MiB is not read|registry_text huge|setup|/S|1||0|files|yes"
  "uninstall removes the folder as registered|registry_text spelled|uninstall|/S|0|removedriver ${T^^}\\|0|none|no"
)

# The same columns; @T is the folder the setup installs into. Each named
# pair of steps after its ASCII twin: the setup finds SteamVR through the
# library's name and clears the block in its config folder; the uninstaller
# finds the folder's registration through the profile's name. ASCII reads
# the same in every code page: its twin runs under the Western one only.
named_steps=(
  "install, ASCII|as_user Jose 'Jeux video'; registry_as fresh utf8; blocked|setup|/S|0|adddriver @T|1|files|yes"
  "uninstall, ASCII|as_user Jose 'Jeux video'; registry_as rewrite utf8|uninstall|/S|0|removedriver @T|0|none|no"
  "install, Latin-1 as UTF-8|as_user José 'Jeux vidéo'; registry_as fresh utf8; blocked|setup|/S|0|adddriver @T|1|files|yes"
  "uninstall, Latin-1 as UTF-8|as_user José 'Jeux vidéo'; registry_as rewrite utf8|uninstall|/S|0|removedriver @T|0|none|no"
  "install, CJK as \\u escapes|as_user 王伟 游戏; registry_as fresh escaped; blocked|setup|/S|0|adddriver @T|1|files|yes"
  "uninstall, CJK as \\u escapes|as_user 王伟 游戏; registry_as rewrite escaped|uninstall|/S|0|removedriver @T|0|none|no"
  "install, beyond U+FFFF as UTF-8|as_user 'Ana 🎮' '🎮 Jeux'; registry_as fresh utf8; blocked|setup|/S|0|adddriver @T|1|files|yes"
  "uninstall, beyond U+FFFF as UTF-8|as_user 'Ana 🎮' '🎮 Jeux'; registry_as rewrite utf8|uninstall|/S|0|removedriver @T|0|none|no"
  "install, beyond U+FFFF as \\u escapes|as_user '王伟 🎮' '🎮 游戏'; registry_as fresh escaped; blocked|setup|/S|0|adddriver @T|1|files|yes"
  "uninstall, beyond U+FFFF as \\u escapes|as_user '王伟 🎮' '🎮 游戏'; registry_as rewrite escaped|uninstall|/S|0|removedriver @T|0|none|no"
)

# The uninstaller finishes from a copy of itself in %TEMP%: a step ends
# when nothing of the prefix runs but Wine's server and its own programs in
# C:\windows (at most 60 s), which are left running for the next step. A
# program still starting shows the loader's name, and counts.
settle() {
  local busy
  for _ in $(seq 1200); do
    busy=$(grep -lzxF "WINEPREFIX=$ZELVAN_WINE_PREFIX" /proc/[0-9]*/environ 2>/dev/null |
      while read -r f; do tr '\0' ' ' <"${f%environ}cmdline" && echo; done 2>/dev/null |
      grep -v -e '^$' -e '^C:\\windows\\' -e '^[^ ]*/wineserver[0-9]* ' || true)
    [ -n "$busy" ] || return 0
    sleep 0.05
  done
  fail "still running after 60 s: $busy"
}

# A failed step is reported and the next one runs: most stand apart from
# the step before (each user's pair, each misleading registry).
failed=0
ran=0
case $rows in registry) steps=("${registry_steps[@]}") ;; names) steps=("${named_steps[@]}") ;; esac
for row in "${steps[@]}"; do
  IFS='|' read -r name setup program args status calls registered folder entry <<<"$row"
  [ "${acp:-}" != 932 ] || [[ $name != *", ASCII" ]] || continue
  ran=$((ran + 1))
  rm -f "$scratch/vrpathreg.log"
  expect_unblocked=
  protected=
  [ -z "$setup" ] || eval "$setup"
  calls=${calls//@T/$T}
  snapshot >"$scratch/before"
  if [ "$program" = setup ]; then exe=$(winpath "$scratch/setup.exe"); else exe="$T\\uninstall.exe"; fi
  got_status=0
  if [ "$program" = panel ]; then
    panel_from_shortcut
  elif [ -n "${STEP_LOCALAPPDATA:-}" ]; then
    new_user=
    [ "$STEP_LOCALAPPDATA" = "${shell_user:-}" ] || new_user=1
    shell_user=$STEP_LOCALAPPDATA
    STEP_NEW_USER=$new_user STEP_PROGRAM=$exe "$wine_run" cmd /c "$(winpath "$scratch/step.cmd")" $args
  else
    "$wine_run" "$exe" $args
  fi >"$scratch/out" 2>&1 || got_status=$?
  # A refused step leaves SteamVR's stand-in running.
  if [ "$setup" = vrserver ]; then "$wine_run" --kill >/dev/null 2>&1 || true; else settle; fi
  (check) || failed=$((failed + 1))
done
[ "$failed" = 0 ] || { echo "setup program: $failed of $ran $rows steps FAILED" >&2; exit 1; }
echo "setup program: $ran $rows steps OK"

#!/usr/bin/env bash
# Runs one Windows program under Wine in a prefix of its own, so that runs do
# not share a wineserver, named pipes or %LOCALAPPDATA%. A template prefix is
# made once per machine (it takes several seconds) and copied for each run.
# Its programs and libraries (700 MB, which no run writes) are hard links
# into the template: a copy cost more than the run of a short program.
set -euo pipefail

wine=${ZELVAN_WINE:-}
if [ -z "$wine" ]; then
  for w in /usr/lib/wine/wine64 /usr/bin/wine64 /usr/bin/wine; do
    if [ -x "$w" ]; then wine=$w; break; fi
  done
fi
if [ -z "$wine" ]; then
  echo "wine-run: no wine64 found (run scripts/bootstrap.sh)" >&2
  exit 127
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

export WINEDEBUG=-all
cache=${ZELVAN_WINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zelvan-wine}
template=$cache/template
mkdir -p "$cache"
# A prefix made by another Wine is updated in place by the next run, which
# would write through the links into the template: a new Wine makes a new one.
wine_build=$(stat -Lc '%n %s %Y' "$wine")
(
  flock 9
  if [ "$(cat "$template/.ready" 2>/dev/null)" != "$wine_build" ]; then
    rm -rf "$template"
    WINEPREFIX=$template "$wine" cmd /c exit >/dev/null 2>&1 || true
    WINEPREFIX=$template "$wineserver" -w || true
    printf '%s\n' "$wine_build" >"$template/.ready"
  fi
) 9>"$cache/.lock"

# Lays out a new prefix in folder $1: the template's files linked, then those
# a run may write (registry, .ini files, everything but programs and
# libraries) copied. Copied whole where linking fails (another file system).
new_prefix() {
  if cp -al "$template/." "$1/" 2>/dev/null; then
    (cd "$template" && find . -type f ! -iregex '.*\.\(dll\|exe\|drv\|sys\|ocx\|cpl\|acm\|tlb\|ds\|ax\|nls\|msstyles\)' -print0 |
      xargs -0 cp -a --parents --remove-destination -t "$1")
  else
    rm -rf "${1:?}/"* && cp -a "$template/." "$1/"
  fi
}

# ZELVAN_WINE_PREFIX names a prefix that several runs share (a test whose
# steps build on each other, or that runs two programs at once): it is made
# from the template when missing and kept. "--wait" then waits for all of
# its programs to end, "--kill" ends them.
if [ -n "${ZELVAN_WINE_PREFIX:-}" ]; then
  export WINEPREFIX=$ZELVAN_WINE_PREFIX
  case ${1:-} in
    --wait) exec "$wineserver" -w ;;
    --kill) exec "$wineserver" -k ;;
  esac
  if [ ! -d "$WINEPREFIX/drive_c" ]; then
    mkdir -p "$WINEPREFIX"
    new_prefix "$WINEPREFIX"
  fi
  exec "$wine" "$@"
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/zelvan-wine.XXXXXX")
cleanup() {
  WINEPREFIX=$prefix "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
new_prefix "$prefix"
export WINEPREFIX=$prefix
status=0
"$wine" "$@" || status=$?
exit $status

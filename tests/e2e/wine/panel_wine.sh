#!/usr/bin/env bash
# The Windows build's panel under Wine, driven by the Linux Chromium: the
# Windows host simulator with the build's driver and its simulated
# hidapi.dll, then "zelvan-ctl.exe panel --no-browser", both in one prefix
# (one wineserver: the control channel's named pipe), and the browser road's
# basic steps against it. Wine's listener on 127.0.0.1 is this machine's, so
# the Linux browser reaches it; the launch file's Windows path is turned into
# this machine's with winepath. Skipped (77) without Chromium or selenium.
#
#   panel_wine.sh WINE_RUN BIN_DIR SHOTS_DIR
set -uo pipefail
wine_run=$1 bin=$2 shots=$3
source "$(dirname "$0")/../panel/panel_start.sh"

missing=$(panel_road_missing)
if [ -n "$missing" ]; then
	echo "panel_wine: the browser road needs $missing; skipped"
	exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zelvan-panel-wine.XXXXXX")
export ZELVAN_WINE_PREFIX=$work/prefix ZELVAN_TEST_CHANNEL=zelvan_panel_wine-$$
sim_pid=""
cleanup() {
	[ -z "${panel_pid:-}" ] || kill "$panel_pid" 2>/dev/null
	[ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null
	"$wine_run" --kill >/dev/null 2>&1
	"$wine_run" --wait >/dev/null 2>&1
	rm -rf "$work"
}
trap cleanup EXIT
fail() {
	echo "panel_wine: $1" >&2
	for f in sim.txt panel.txt; do
		[ ! -s "$work/$f" ] || { echo "--- $f" >&2; tr -d '\r' <"$work/$f" | tail -n 20 >&2; }
	done
	exit 1
}

# The shared prefix is made once, before two programs could make it at once.
"$wine_run" cmd /c exit >/dev/null 2>&1 || fail "no Wine prefix"
printf 'level 0 300\nlevel 4000 2400\nlevel 8000 300\nnoise 40\nseed 7\n' >"$work/sensor.conf"
"$wine_run" "$bin/zelvan-host-sim.exe" --seconds 600 --rate 90 --quiet --stop-file "Z:$work/stop" \
	--sim-sensor "Z:$work/sensor.conf" "Z:$bin/driver_ZelvanProximity.dll" >"$work/sim.txt" 2>&1 &
sim_pid=$!

# The prefix's first program makes it, which takes a while: bounded by the
# test's timeout, not a guess at how long.
ready=0
while kill -0 "$sim_pid" 2>/dev/null; do
	if "$wine_run" "$bin/zelvan-ctl.exe" --timeout 0.5 --json status 2>/dev/null | grep -q '"hid":"open"'; then
		ready=1
		break
	fi
	sleep 0.2
done
[ "$ready" -eq 1 ] || fail "the simulator ended before the driver opened the sensor"

mkdir -p "$work/panel-data" "$shots"
export ZELVAN_PANEL_DATA="Z:$work/panel-data"
panel_start "$work/panel.txt" 120 "$wine_run" "$bin/zelvan-ctl.exe" panel --no-browser ||
	fail "zelvan-ctl.exe panel never named its launch file"
case $panel_launch in
[A-Za-z]:\\*) ;;
*) fail "the launch file's path is not a Windows one: $panel_launch" ;;
esac
launch=$("$wine_run" winepath -u "$panel_launch" 2>/dev/null | tr -d '\r')
[ -f "$launch" ] || fail "winepath gave '$launch' for $panel_launch, which is no file"

panel_road --launch "$launch" --shots "$shots" --only basic
road=$?
panel_end 60
ended=$?
[ "$road" -ne 77 ] || { echo "panel_wine: the browser could not start; skipped"; exit 77; }
[ "$road" -eq 0 ] || fail "the browser road failed (exit status $road)"
[ "$ended" -eq 0 ] || fail "zelvan-ctl.exe panel $([ "$ended" -eq 124 ] && echo "did not end after Quit" || echo "exited with $ended")"

: >"$work/stop"
wait "$sim_pid"
status=$?
sim_pid=""
[ "$status" -eq 0 ] || fail "the simulator exited with $status"
echo "panel_wine: the basic road passed against the Windows build under Wine"

#!/usr/bin/env bash
# The Windows real-stack case, run under scripts/with-hidraw.sh: the installed
# Windows folder's driver and its hidapi.dll in the Windows host simulator
# under Wine, reaching the emulated /dev/hidraw0 through Wine's own HID stack
# (winebus's hidraw bus, hidclass, hid.dll). Three things are arranged here,
# none of them in the shipped files: winebus starts its udev bus only with
# "Enable SDL"=0, watches /dev for unplugs only with "DisableUdevd"=1 (there
# is no udev daemon in the namespace), and Wine 8's cfgmgr32.dll lacks what
# hidapi looks up at hid_init, which the test-only cfgmgr32.dll beside the
# simulator supplies.
#
#   hidraw_wine.sh FOLDER HOST_SIM_EXE CFGMGR32_DLL
set -uo pipefail
folder=$1 host_sim=$2 shim=$3
[ -n "${ZELVAN_HIDRAW_SENSOR:-}" ] || { echo "hidraw_wine: run under scripts/with-hidraw.sh" >&2; exit 2; }
wine=${ZELVAN_WINE:-/usr/lib/wine/wine64}
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine) || { echo "hidraw_wine: no wine; skipped" >&2; exit 77; }
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

work=$(mktemp -d "${TMPDIR:-/tmp}/zelvan-hidraw-wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=cfgmgr32=n,b
cleanup() {
	"$wineserver" -k >/dev/null 2>&1
	rm -rf "$work"
}
trap cleanup EXIT

# A prefix of the run's own (the wine-run.sh template when there is one).
template=${ZELVAN_WINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zelvan-wine}/template
if [ -f "$template/.ready" ]; then
	cp -a "$template/." "$WINEPREFIX/"
fi
key='HKLM\System\CurrentControlSet\Services\winebus'
"$wine" reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f >/dev/null 2>&1 &&
	"$wine" reg add "$key" /v DisableUdevd /t REG_DWORD /d 1 /f >/dev/null 2>&1 ||
	{ echo "hidraw_wine: cannot set winebus's options" >&2; exit 1; }
# winebus reads them when it starts: with the next wineserver.
"$wineserver" -w
mkdir "$work/app"
cp "$host_sim" "$shim" "$work/app/"

failures=0
# missing LINE...: the first line that the simulator's output so far lacks,
# in this order (each a prefix of a whole line); nothing when it has all.
missing() {
	local line at=0 found
	sed -E 's/^\[frame +[0-9]+\] //' "$work/out.txt" | tr -d '\r' >"$work/log.txt"
	for line in "$@"; do
		found=$(awk -v from="$at" -v want="$line" 'NR > from && index($0, want) == 1 { print NR; exit }' "$work/log.txt")
		[ -n "$found" ] || { printf '%s\n' "$line"; return; }
		at=$found
	done
}
# run NAME SECONDS SENSOR LINE... : the lines must be logged in this order.
# The run ends once they are; SECONDS only bounds it.
run() {
	local name=$1 seconds=$2 sensor=$3
	shift 3
	printf '%b' "$sensor" >"$ZELVAN_HIDRAW_SENSOR.new" && mv "$ZELVAN_HIDRAW_SENSOR.new" "$ZELVAN_HIDRAW_SENSOR"
	sleep 0.2
	rm -f "$work/stop"
	"$wine" "$work/app/$(basename "$host_sim")" --seconds "$seconds" --rate 90 --stop-file "Z:$work/stop" \
		--setting driver_ZelvanProximity.report_rate_ms=50 --setting driver_ZelvanProximity.moving_avg_length=2 \
		"Z:$folder/bin/win64/driver_ZelvanProximity.dll" >"$work/out.txt" 2>&1 &
	local sim=$! status=0 line
	while kill -0 "$sim" 2>/dev/null; do
		[ -n "$(missing "$@")" ] || { : >"$work/stop"; break; }
		sleep 0.2
	done
	wait "$sim" || status=$?
	# A new configuration is a new device: winebus finds it when it starts.
	"$wineserver" -k >/dev/null 2>&1
	"$wineserver" -w
	if [ "$status" -ne 0 ]; then
		echo "hidraw_wine: $name: the simulator exited with $status" >&2
		failures=$((failures + 1))
	fi
	line=$(missing "$@")
	if [ -n "$line" ]; then
		echo "hidraw_wine: $name: missing, in order: $line" >&2
		failures=$((failures + 1))
		grep -v -E 'raw_prox=|Prox: avg=' "$work/log.txt" | sed 's/^/    /' >&2
		return
	fi
	echo "hidraw_wine: $name: ok"
}

# winebus opens the node as Wine starts, which starts the scenario's clock:
# the steps come once the driver has surely opened the sensor too.
run "calibration, rate, presence both ways" 12 \
	'cal 1234\nthresh 1500\nhyst 100\ntrim -200\nlevel 0 300\nlevel 6000 2400\nlevel 9000 300\n' \
	"HID: Device opened/reconnected" "HID: Calibration: cal=1234 thresh=1500 hyst=100 trim=-200" \
	"HID: Report rate set to 50ms" "Proximity: person_detected changed to true" \
	"Proximity: person_detected changed to false"
run "unplug, replug, the rate command stalls once" 24 \
	'level 0 2400\nstall_after_plug yes\nunplug 7000 500\n' \
	"HID: Report rate set to 50ms" "Proximity: person_detected changed to true" "HID: Device disconnected" \
	"HID: Device opened/reconnected" "HID: Failed to send feature report cmd=0x52" "HID: Report rate set to 50ms" \
	"Proximity: person_detected changed to true"
[ "$failures" -eq 0 ]

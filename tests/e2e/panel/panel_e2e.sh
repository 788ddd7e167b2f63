#!/usr/bin/env bash
# The panel in a real browser: the installed driver in zelvan-host-sim with
# the simulated sensor and a wearer who follows a file, zelvan-ctl panel
# --no-browser beside it, and panel_road.py walking the page in headless
# Chromium. Everything started here is stopped again, also on failure.
# Usage: panel_e2e.sh BUILD_DIR   (exit 77 when Chromium or selenium is missing)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=$(cd "${1:?usage: panel_e2e.sh BUILD_DIR}" && pwd)
bin=$build/bin

# Debian's python3-selenium is for Debian's python3, which another python3
# earlier on PATH may not see.
python=""
for candidate in python3 /usr/bin/python3; do
	if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import selenium' 2>/dev/null; then
		python=$candidate
		break
	fi
done
if [ -z "$python" ] || ! command -v chromium >/dev/null 2>&1 || ! command -v chromedriver >/dev/null 2>&1; then
	echo "panel_e2e: skipped: chromium, chromedriver and python3-selenium are needed (scripts/bootstrap.sh)"
	exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zelvan-panel-e2e-XXXXXX")
sim_pid=""
panel_pid=""
road_pid=""
# Waits up to $2 tenths of a second for process $1 to end.
ends_within() {
	for _ in $(seq 1 "$2"); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
	return 1
}
cleanup() {
	status=$?
	[ -z "$road_pid" ] || kill -- "-$road_pid" 2>/dev/null || true
	[ -z "$panel_pid" ] || { kill "$panel_pid" 2>/dev/null || true; ends_within "$panel_pid" 50 || kill -9 "$panel_pid" 2>/dev/null || true; }
	if [ -n "$sim_pid" ]; then
		touch "$work/stop"
		ends_within "$sim_pid" 100 || kill -9 "$sim_pid" 2>/dev/null || true
	fi
	if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
		echo "--- zelvan-ctl panel"; cat "$work/panel.txt" 2>/dev/null || true
		echo "--- zelvan-host-sim (last lines)"; tail -n 30 "$work/host-sim.txt" 2>/dev/null || true
		echo "--- screenshots kept in $work/shots"
	else
		rm -rf "$work"
	fi
	exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The installed driver folder, as SteamVR would load it.
cmake --install "$build" --prefix "$work/install" >"$work/install.txt" 2>&1
folder=$work/install/zelvanproximity
driver=$folder/bin/linux64/driver_ZelvanProximity.so
[ -f "$driver" ] || { echo "panel_e2e: cmake --install gave no $driver" >&2; exit 1; }

# SteamVR's files as demo.sh makes them: the path registry, the headset's
# calibration and the lighthouse_console stand-in with its stored configuration.
serial=LHR-1A2B3C4D
steam=$work/steam
mkdir -p "$work/user/openvr" "$steam/config/lighthouse/${serial,,}" \
	"$steam/steamapps/common/SteamVR/tools/lighthouse/bin/linux64" "$work/tmp" "$work/data" "$work/shots"
cat >"$work/user/openvr/openvrpaths.vrpath" <<EOF
{
	"config" : [ "$steam/config" ],
	"external_drivers" : null,
	"jsonid" : "vrpathreg",
	"log" : [ "$steam/logs" ],
	"runtime" : [ "$steam/steamapps/common/SteamVR" ],
	"version" : 1
}
EOF
cp "$root/scripts/demo/calibration.json" "$steam/config/lighthouse/${serial,,}/config.json"
cp "$bin/lighthouse_console" "$steam/steamapps/common/SteamVR/tools/lighthouse/bin/linux64/"
"$bin/lighthouse_console" --init-store "$work/lh-store" "$serial" 63.5 >/dev/null

# A second-model headset (its IPD can be set) whose wearer reads well apart
# from the threshold, so that presence follows the file without flicker.
cat >"$work/sensor.conf" <<EOF
cal 1180
thresh 1500
hyst 100
trim 0
tracking_serial $serial
hmd_serial ZV2-00012345
wearer_levels 2400 300
noise 60
seed 4711
follow wearer.txt
EOF
printf 'off\n' >"$work/wearer.txt"
printf '{\n\t"driver_ZelvanProximity": {\n\t\t"report_rate_ms": 50\n\t}\n}\n' >"$work/steamvr.vrsettings"

export ZELVAN_TEST_CHANNEL=zelvan_panel_e2e-$$
export XDG_CONFIG_HOME=$work/user
export XDG_DATA_HOME=$work/data
export XDG_RUNTIME_DIR=$work/tmp
export ZELVAN_LH_STORE=$work/lh-store
export ZELVAN_PANEL_DATA=$work/data/panel
export TMPDIR=$work/tmp

"$bin/zelvan-host-sim" --seconds 280 --rate 90 --hmd-frame 0 --hmd-prop "Prop_SerialNumber_String=$serial" \
	--hmd-prop Prop_UserIpdMeters_Float=0.0635 \
	--defaults "$folder/resources/settings/default.vrsettings" --settings "$work/steamvr.vrsettings" \
	--sim-sensor "$work/sensor.conf" --stop-file "$work/stop" --log "$work/driver.log" --quiet \
	"$driver" >"$work/host-sim.txt" 2>&1 &
sim_pid=$!

# The sensor open and reporting before the page asks.
ctl=$folder/bin/linux64/zelvan-ctl
ready=0
for _ in $(seq 1 150); do
	if "$ctl" --timeout 0.5 status 2>/dev/null | grep -q 'hid=open'; then
		ready=1
		break
	fi
	kill -0 "$sim_pid" 2>/dev/null || break
	sleep 0.2
done
[ "$ready" -eq 1 ] || { echo "panel_e2e: the driver never opened the simulated sensor" >&2; exit 1; }

"$ctl" panel --no-browser >"$work/panel.txt" 2>&1 &
panel_pid=$!
launch=""
for _ in $(seq 1 100); do
	launch=$(sed -n 's/^zelvan-ctl: open \(.*\) in your browser.*/\1/p' "$work/panel.txt")
	[ -z "$launch" ] || break
	kill -0 "$panel_pid" 2>/dev/null || break
	sleep 0.1
done
[ -n "$launch" ] || { echo "panel_e2e: zelvan-ctl panel named no launch file" >&2; exit 1; }

# In a process group of its own, so that the browser it starts goes with it.
set +e
setsid "$python" "$here/panel_road.py" --launch "$launch" --shots "$work/shots" --follow "$work/wearer.txt" \
	--phase-seconds 2 --count-down 1 &
road_pid=$!
wait "$road_pid"
road_status=$?
road_pid=""
set -e
[ "$road_status" -eq 0 ] || exit "$road_status"

# Quit ended the panel: it leaves no process and no launch file behind.
ends_within "$panel_pid" 100 || { echo "panel_e2e: zelvan-ctl panel still runs after Quit" >&2; exit 1; }
panel_pid=""
[ ! -e "$launch" ] || { echo "panel_e2e: the launch file outlived the panel" >&2; exit 1; }
echo "panel_e2e: passed"

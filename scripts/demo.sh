#!/usr/bin/env bash
# The demo: builds and installs the driver, runs the installed driver in the
# host simulator with a simulated wearer, and writes a report with a plot.
set -euo pipefail
caller_dir=$PWD
cd "$(dirname "$0")/.."
root=$PWD

usage() {
	cat <<'EOF'
Usage: scripts/demo.sh [OPTIONS]

Builds the driver, installs it into build/demo/install/zelvanproximity/ as a
SteamVR driver folder, and runs the installed driver in zelvan-host-sim at
90 Hz against the simulated proximity sensor: a wearer puts the headset on
and takes it off, the IPD changes through the runtime and the ipd_mm
setting, zelvan-ctl asks for the status and forces presence for a while,
and at shutdown the new IPD is written into the headset's stored
configuration (through the lighthouse_console stand-in).

On screen: the driver's log without its per-sample and per-frame lines, and
a live line each second from `zelvan-ctl --json status`. Afterwards
build/demo/report/ holds driver.log, trace.json, presence.svg, the tuning
table presence-table.md, summary.txt and the inputs of the run.

Options:
  --seconds S              length of the run (default 30); the scripted
                           wearer and actions stretch to fit
  --quick                  a 5-second run for CI, report_rate_ms 50 unless
                           given; the same checks
  --replay FILE            replay a recorded raw file instead of the scripted
                           wearer: one reading a line (one per sample report)
                           or "MS READING" lines
  --moving-avg-length N    the moving_avg_length setting (1 to 64, default 8)
  --report-rate-ms MS      the report_rate_ms setting (50 to 5000, default 200)
  --tune                   the tuning road instead, for a wearer with glasses
                           whose on-head reading sits just above the
                           threshold: a "before" stretch of putting it on and
                           off, zelvan-ctl record --guided with the simulated
                           wearer following the prompts, zelvan-ctl tune
                           --apply, and the same stretch "after"; the report
                           adds tune.svg, recording.txt and the false switches
                           and switching times before and after (--quick:
                           shorter phases, about 40 s)
  --panel                  the panel road instead: the installed driver with
                           a wearer the page plays, zelvan-ctl panel
                           --no-browser (its data in report/panel-data/) and
                           tests/e2e/panel/panel_road.py in headless Chromium
                           through every step of the page; the report lists
                           each step with its screenshot (report/panel/) and
                           the time to the first drawn trace (--quick:
                           shorter recording phases)
  --hidraw                 talk to the simulated sensor through the driver's
                           bundled libhidapi-hidraw.so.0, libudev and an
                           emulated /dev/hidraw0 (scripts/with-hidraw.sh:
                           root, /dev/fuse and mount namespaces)
  -h, --help               this text

Exit status: 0 when the run finished and every check passed (simulator exit
status, the report's files, each zelvan-ctl command, presence switched both
ways with the scripted wearer, the IPD persisted as scripted; with --hidraw
also that the process loaded no simulated hidapi; with --tune that presence
switched falsely fewer times after tuning than before, and missed none of
the wearer's moves; with --panel that every step of the browser road
passed and the panel ended with Quit); 1 otherwise; 2 for a usage error; 77 when --hidraw
cannot run on this machine.
EOF
}

fail_usage() {
	echo "demo: $1 (see --help)" >&2
	exit 2
}

seconds=30
quick=0
replay=""
window=""
rate_ms=""
hidraw=0
tune=0
panel=0
seconds_given=0
while [ $# -gt 0 ]; do
	case "$1" in
	--seconds) [ $# -ge 2 ] || fail_usage "--seconds needs a value"; seconds=$2; seconds_given=1; shift 2 ;;
	--quick) quick=1; shift ;;
	--replay) [ $# -ge 2 ] || fail_usage "--replay needs a file"; replay=$2; shift 2 ;;
	--moving-avg-length) [ $# -ge 2 ] || fail_usage "--moving-avg-length needs a value"; window=$2; shift 2 ;;
	--report-rate-ms) [ $# -ge 2 ] || fail_usage "--report-rate-ms needs a value"; rate_ms=$2; shift 2 ;;
	--hidraw) hidraw=1; shift ;;
	--tune) tune=1; shift ;;
	--panel) panel=1; shift ;;
	-h | --help) usage; exit 0 ;;
	*) fail_usage "unknown argument '$1'" ;;
	esac
done
if [ "$tune" -eq 1 ] && { [ -n "$replay" ] || [ "$hidraw" -eq 1 ] || [ "$seconds_given" -eq 1 ]; }; then
	fail_usage "--tune plays its own wearer and times; it does not take --replay, --hidraw or --seconds"
fi
if [ "$panel" -eq 1 ] && { [ "$tune" -eq 1 ] || [ -n "$replay" ] || [ "$hidraw" -eq 1 ] || [ "$seconds_given" -eq 1 ]; }; then
	fail_usage "--panel lets the page play its own wearer; it does not take --tune, --replay, --hidraw or --seconds"
fi
if [ "$quick" -eq 1 ] && [ "$tune" -eq 0 ] && [ "$panel" -eq 0 ]; then
	seconds=5
	# At 200 ms the detector needs about a second to switch: too slow for 5 s.
	rate_ms=${rate_ms:-50}
fi
if ! [[ $seconds =~ ^[0-9]+([.][0-9]+)?$ ]] || ! awk -v s="$seconds" 'BEGIN { exit !(s > 0) }'; then
	fail_usage "--seconds wants a positive number, not '$seconds'"
fi
[ -z "$window" ] || [[ $window =~ ^[0-9]+$ ]] || fail_usage "--moving-avg-length wants a whole number"
[ -z "$rate_ms" ] || [[ $rate_ms =~ ^[0-9]+$ ]] || fail_usage "--report-rate-ms wants a whole number"
if [ -n "$replay" ]; then
	# Named from where the demo was started.
	[[ $replay = /* ]] || replay=$caller_dir/$replay
	[ -f "$replay" ] || fail_usage "no such file: $replay"
fi

demo=scripts/demo
out=$root/build/demo
report=$out/report
runfiles=$out/run
runtime=$out/runtime
serial=LHR-1A2B3C4D
start_ipd_mm=63.5
mkdir -p "$out"

say() { printf '== %s\n' "$*"; }

# The user settings of the run: log_verbosity 1, and the window and rate
# when given. The roads that choose their own rate call it again.
settings=$out/steamvr.vrsettings
write_settings() {
	{
		printf '{\n\t"driver_ZelvanProximity": {\n\t\t"log_verbosity": 1'
		[ -z "$window" ] || printf ',\n\t\t"moving_avg_length": %d' "$window"
		[ -z "$rate_ms" ] || printf ',\n\t\t"report_rate_ms": %d' "$rate_ms"
		printf '\n\t}\n}\n'
	} >"$settings"
}

# The last lines of summary.txt: the result, and each failed check.
# The argument is what a pass says.
result_lines() {
	if [ ${#failures[@]} -eq 0 ]; then
		echo "result: ${1:-passed}"
	else
		echo "result: FAILED"
		printf '  - %s\n' "${failures[@]}"
	fi
}

# The end of every road: summary.txt on screen, the report's FILES that
# exist, the plot's line, and exit 1 when a check failed.
show_report() {
	local f
	echo
	say "Summary"
	sed 's/^/   /' "$report/summary.txt"
	echo
	say "Report: build/demo/report/"
	for f in "$@"; do
		[ ! -e "$report/$f" ] || printf '   %s\n' "$f"
	done
	[ -z "${plot_line:-}" ] || echo "   (${plot_line//"$report/"/})"
	if [ ${#failures[@]} -ne 0 ]; then
		printf 'demo: FAILED: %s\n' "${failures[@]}" >&2
		exit 1
	fi
}

# --- Build and install -------------------------------------------------------

bash scripts/bootstrap.sh >/dev/null
say "Building the driver and the tools (log: build/demo/build.log)"
if ! {
	cmake --preset linux &&
		cmake --build --preset linux -j "$(nproc)" --target zelvan_driver zelvan-host-sim zelvan-ctl \
			zelvan_sim_hidapi lighthouse-console-standin presence_table &&
		{ [ "$hidraw" -eq 0 ] || cmake --build --preset linux -j "$(nproc)" --target zelvan-hidraw-emu; }
} >"$out/build.log" 2>&1; then
	tail -n 30 "$out/build.log" >&2
	echo "demo: the build failed, see build/demo/build.log" >&2
	exit 1
fi

bin=$root/build/linux/bin
install_dir=$out/install/zelvanproximity
rm -rf "$out/install"
if cmake --install build/linux --prefix "$out/install" >>"$out/build.log" 2>&1 &&
	[ -f "$install_dir/bin/linux64/driver_ZelvanProximity.so" ] &&
	[ -f "$install_dir/resources/settings/default.vrsettings" ] &&
	[ -x "$install_dir/bin/linux64/zelvan-ctl" ]; then
	driver=$install_dir/bin/linux64/driver_ZelvanProximity.so
	defaults=$install_dir/resources/settings/default.vrsettings
	ctl_dir=$install_dir/bin/linux64
	which_driver="the installed driver"
	say "Installed the driver folder: build/demo/install/zelvanproximity/"
else
	driver=$bin/driver_ZelvanProximity.so
	defaults=$root/package/resources/settings/default.vrsettings
	ctl_dir=$bin
	which_driver="the build's driver (not installed)"
	say "cmake --install did not give the driver folder: running the build's own files from build/linux/bin instead"
fi

# --- The runtime's files, the sensor, the scenario ---------------------------

rm -rf "$runtime" "$runfiles" "$report"
mkdir -p "$report" "$runfiles"
steam=$runtime/steam
config_dir=$steam/config
runtime_dir=$steam/steamapps/common/SteamVR
store=$runtime/lh-store
mkdir -p "$runtime/user/openvr" "$config_dir/lighthouse/${serial,,}" "$runtime_dir/tools/lighthouse/bin/linux64" \
	"$runtime/tmp"
# The path registry, as vrpathreg writes it: where the calibration and the
# console tool are.
cat >"$runtime/user/openvr/openvrpaths.vrpath" <<EOF
{
	"config" : 
	[
		"$config_dir"
	],
	"external_drivers" : null,
	"jsonid" : "vrpathreg",
	"log" : 
	[
		"$steam/logs"
	],
	"runtime" : 
	[
		"$runtime_dir"
	],
	"version" : 1
}
EOF
# The headset's lighthouse calibration (the eye transforms the IPD moves),
# and the console tool with the headset's stored configuration at 63.5 mm.
cp "$demo/calibration.json" "$config_dir/lighthouse/${serial,,}/config.json"
cp "$bin/lighthouse_console" "$runtime_dir/tools/lighthouse/bin/linux64/"
"$bin/lighthouse_console" --init-store "$store" "$serial" "$start_ipd_mm" >/dev/null
stored_config=$store/$serial.json

# The scripted times are for a 30-second run.
scale=$(awk -v s="$seconds" 'BEGIN { printf "%.6f", s / 30 }')

{
	cat "$demo/sensor.conf"
	echo
	if [ -n "$replay" ]; then
		cp "$replay" "$runfiles/replay.txt"
		echo "# the recorded readings of $(basename "$replay")"
		echo "replay replay.txt"
	else
		awk -v k="$scale" '
			$1 == "level" || $1 == "wearer" { $2 = int($2 * k + 0.5) }
			$1 == "ramp" { $2 = int($2 * k + 0.5); $3 = int($3 * k + 0.5); if ($3 <= $2) $3 = $2 + 1 }
			{ print }' "$demo/wearer.conf"
	fi
	echo "log sensor-events.log"
} >"$runfiles/sensor.conf"

awk -v k="$scale" '
	/^[ \t]*(#|$)/ { print; next }
	{
		frame = int($1 * k * 90 + 0.5)
		if (frame < 1) frame = 1
		for (i = 2; i < NF; i++)
			if ($i == "--for" && $(i + 1) ~ /^[0-9]+s$/) {
				held = int(($(i + 1) + 0) * k + 0.5)
				$(i + 1) = (held < 1 ? 1 : held) "s"
			}
		sub(/^[ \t]*[^ \t]+[ \t]+/, "")
		print frame, $0
	}' "$demo/scenario.txt" >"$runfiles/scenario.txt"

# The IPD the scenario leaves in force: what must reach the headset.
expected_ipd_mm=$(awk '
	/^[ \t]*#/ { next }
	$2 == "ipd_event" { v = $3 * 1000 }
	$2 == "setting" && $4 == "ipd_mm" { v = $5 }
	END { if (v != "") printf "%.1f", v }' "$demo/scenario.txt")

write_settings

default_mm() {
	python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["ipd"]["default_mm"])' "$1" 2>/dev/null || echo "?"
}
before_mm=$(default_mm "$stored_config")

# --- The run -----------------------------------------------------------------

live_pid=""
watch_pid=""
cleanup() {
	[ -z "$live_pid" ] || kill "$live_pid" 2>/dev/null || true
	[ -z "$watch_pid" ] || kill "$watch_pid" 2>/dev/null || true
}
trap cleanup EXIT
# Ctrl-C reaches the simulator, which still runs Cleanup and writes its
# outputs; the report is then made from what there is.
interrupted=0
trap 'interrupted=1' INT

# A control channel of the demo's own: a SteamVR running the real driver
# keeps its channel, and zelvan-ctl here talks to the demo.
export ZELVAN_TEST_CHANNEL=zelvan_demo-$$
export XDG_CONFIG_HOME=$runtime/user
export XDG_DATA_HOME=$runtime/user/data
export ZELVAN_LH_STORE=$store
export TMPDIR=$runtime/tmp
export PATH="$ctl_dir:$PATH"

json_field() {
	sed -nE "s/.*\"$1\":(\"([^\"]*)\"|([^,}]*)).*/\2\3/p" <<<"$2"
}

# One line a second from the driver's own status reply.
live_summary() {
	local start=$1 n=1 json now delay_ms
	while :; do
		now=$(date +%s%N)
		delay_ms=$(((start + n * 1000000000 - now) / 1000000))
		[ "$delay_ms" -le 0 ] || sleep "$(awk -v w="$delay_ms" 'BEGIN { printf "%.3f", w / 1000 }')"
		if json=$(zelvan-ctl --timeout 0.5 --json status 2>/dev/null); then
			local presence
			presence=$([ "$(json_field proximity "$json")" = true ] && echo "ON " || echo "off")
			printf '   %3d s  presence %s  source %-9s  raw %5s  average %5s  ipd %s\n' "$n" "$presence" \
				"$(json_field source "$json")" "$(json_field prox_raw "$json")" \
				"$(json_field averaged_prox "$json")" "$(json_field ipd "$json")"
		fi
		n=$((n + 1))
	done
}

# With --hidraw: the sensor node the simulator holds open and the hidapi
# file it mapped, read from the process itself while it runs.
watch_sensor_path() {
	local pid="" exe node="" lib="" p
	for _ in $(seq 1 600); do
		if [ -z "$pid" ]; then
			for p in $(pgrep -f -- "--trace $report/trace.json" || true); do
				exe=$(readlink "/proc/$p/exe" 2>/dev/null || true)
				[ "${exe##*/}" = zelvan-host-sim ] && pid=$p
			done
		fi
		if [ -n "$pid" ]; then
			[ -n "$lib" ] || lib=$(awk '$6 ~ /hidapi/ { print $6; exit }' "/proc/$pid/maps" 2>/dev/null || true)
			# The emulated node is /dev/.hidraw-emu/hidraw0, which /dev/hidraw0 links to.
			[ -n "$node" ] || node=$(for f in /proc/"$pid"/fd/*; do readlink "$f"; done 2>/dev/null |
				sed -n -E 's#^/dev/(\.hidraw-emu/)?(hidraw[0-9]+)$#/dev/\2#p' | head -n 1)
			if [ -n "$lib" ] && [ -n "$node" ]; then
				printf '%s\n%s\n' "$node" "$lib" >"$runfiles/sensor-path.txt"
				return
			fi
		fi
		sleep 0.05
	done
}

if [ "$tune" -eq 1 ]; then
	source "$demo/tune.sh"
fi
if [ "$panel" -eq 1 ]; then
	source "$demo/panel.sh"
fi

if [ -n "$replay" ]; then
	wearer="the recorded readings of $(basename "$replay")"
else
	wearer="the scripted wearer"
fi
say "Running $which_driver in zelvan-host-sim for $seconds s at 90 Hz with $wearer"
echo "   (the driver's log without its per-sample and per-frame lines, and once a second a line from zelvan-ctl)"

# The sensor: the simulated hidapi library preloaded, or with --hidraw the
# emulated node behind the driver's own hidapi.
if [ "$hidraw" -eq 1 ]; then
	sensor_args=()
	wrap=(scripts/with-hidraw.sh --emu "$bin/zelvan-hidraw-emu" --sensor "$runfiles/sensor.conf" --)
	watch_sensor_path &
	watch_pid=$!
else
	sensor_args=(--sim-sensor "$runfiles/sensor.conf")
	wrap=()
fi

live_summary "$(date +%s%N)" &
live_pid=$!
set +e
"${wrap[@]}" "$bin/zelvan-host-sim" --seconds "$seconds" --rate 90 \
	--hmd-frame 0 --hmd-prop "Prop_SerialNumber_String=$serial" --hmd-prop Prop_UserIpdMeters_Float=0.0635 \
	--defaults "$defaults" --settings "$settings" \
	--scenario "$runfiles/scenario.txt" "${sensor_args[@]}" \
	--log "$report/driver.log" --trace "$report/trace.json" --trace-quiet-polls \
	"$driver" 2>&1 |
	(trap '' INT; exec grep --line-buffered -v -E '^\[frame +[0-9]+\] (HID: raw_prox=|Prox: avg=)')
sim_status=${PIPESTATUS[0]}
set -e
kill "$live_pid" 2>/dev/null || true
wait "$live_pid" 2>/dev/null || true
live_pid=""
if [ -n "$watch_pid" ]; then
	kill "$watch_pid" 2>/dev/null || true
	wait "$watch_pid" 2>/dev/null || true
	watch_pid=""
fi
trap - INT
if [ "$hidraw" -eq 1 ] && [ "$sim_status" -eq 77 ]; then
	echo "demo: --hidraw needs root, /dev/fuse and mount namespaces, which this machine does not give (skipped)" >&2
	exit 77
fi

# --- The report and the checks ----------------------------------------------

failures=()
check() { # CONDITION-STATUS MESSAGE
	if [ "$1" -ne 0 ]; then failures+=("$2"); fi
}
[ "$interrupted" -eq 0 ] || failures+=("interrupted with Ctrl-C")
check "$sim_status" "zelvan-host-sim exited with status $sim_status"
sensor_line=""
if [ "$hidraw" -eq 1 ]; then
	if [ -s "$runfiles/sensor-path.txt" ]; then
		sensor_node=$(sed -n 1p "$runfiles/sensor-path.txt")
		sensor_lib=$(sed -n 2p "$runfiles/sensor-path.txt")
		sensor_line="sensor: $sensor_node through ${sensor_lib#"$root"/}"
		case "$sensor_lib" in
		*libzelvan_sim_hidapi*) failures+=("the simulated hidapi was loaded, not the driver's own") ;;
		esac
	else
		failures+=("the simulator never held a hidraw node open through a hidapi library")
	fi
fi

cp "$settings" "$report/steamvr.vrsettings"
mkdir -p "$report/inputs"
cp "$runfiles/sensor.conf" "$runfiles/scenario.txt" "$report/inputs/"
[ ! -f "$runfiles/replay.txt" ] || cp "$runfiles/replay.txt" "$report/inputs/"
[ ! -f "$runfiles/sensor-events.log" ] || cp "$runfiles/sensor-events.log" "$report/"

plot_line=""
if [ -s "$report/trace.json" ] && [ -s "$report/driver.log" ]; then
	if plot_line=$(python3 "$demo/plot_presence.py" "$report/trace.json" -o "$report/presence.svg" \
		--title "Head presence: $which_driver in zelvan-host-sim"); then
		if command -v rsvg-convert >/dev/null 2>&1; then
			rsvg-convert -o "$report/presence.png" "$report/presence.svg" 2>/dev/null || rm -f "$report/presence.png"
		fi
	else
		failures+=("presence.svg could not be drawn")
	fi
else
	failures+=("no trace.json or driver.log: there is no report")
fi

# What the trace says: the commands' exit statuses, the presence published,
# the settings in force.
facts=$(python3 - "$report/trace.json" <<'EOF' 2>/dev/null || true
import json, re, sys
t = json.load(open(sys.argv[1]))
bad = [c["command"] for c in t.get("commands", []) if c.get("exit_status") != 0]
values = [c.get("value") for c in t.get("calls", []) if c.get("call") == "UpdateBooleanComponent"]
config = next((m for e in t.get("log", []) for m in [re.search(r"Config: report_rate_ms=(\d+), log_verbosity=\d+, moving_avg_length=(\d+)", e["text"])] if m), None)
print("commands=%d" % len(t.get("commands", [])))
print("failed_commands=%s" % ";".join(bad))
print("presence_on=%d" % sum(1 for v in values if v))
print("presence_off=%d" % sum(1 for v in values if not v))
print("rate=%s" % (config.group(1) if config else ""))
print("window=%s" % (config.group(2) if config else ""))
EOF
)
fact() { sed -n "s/^$1=//p" <<<"$facts"; }
failed_commands=$(fact failed_commands)
[ -z "$failed_commands" ] || failures+=("zelvan-ctl failed: $failed_commands")
if [ -z "$replay" ] && [ -n "$facts" ]; then
	[ "$(fact presence_on)" -gt 0 ] && [ "$(fact presence_off)" -gt 0 ] ||
		failures+=("presence did not switch both ways (on $(fact presence_on), off $(fact presence_off) times)")
fi

# The timed hold of the scenario lets go by itself, once.
hold_ends=$(grep -c 'Prox: Manual override ended after' "$report/driver.log" 2>/dev/null || true)
if [ -z "$replay" ] && [ "${hold_ends:-0}" -ne 1 ]; then
	failures+=("the timed presence hold ended ${hold_ends:-0} times, not once")
fi

after_mm=$(default_mm "$stored_config")
persist_line=$(grep -o 'IPD Persist: .*' "$report/driver.log" 2>/dev/null | tail -n 1 || true)
awk -v a="$after_mm" -v e="$expected_ipd_mm" 'BEGIN { exit !(a + 0 > 0 && (a - e) < 0.05 && (e - a) < 0.05) }' ||
	failures+=("the headset's stored default_mm is $after_mm, not $expected_ipd_mm")

# The tuning table for this calibration, and the row of this run's settings.
rate_used=$(fact rate)
window_used=$(fact window)
table_line=""
if "$bin/zelvan-presence-table" --thresh 1500 --hyst 100 --off 300 --on 2400 >"$report/presence-table.md" &&
	[ -n "$rate_used" ] && [ -n "$window_used" ]; then
	table_line=$("$bin/zelvan-presence-table" --thresh 1500 --hyst 100 --off 300 --on 2400 \
		--windows "$window_used" --periods "$rate_used" | awk -F'|' '
		/^\| [0-9]/ { gsub(/[*]/, "", $4); gsub(/^ +| +$/, "", $4); cell[++n] = $4 }
		END { if (n == 3) printf "on within %s of the step, off within %s, %s when worn as the sensor opens", cell[1], cell[2], cell[3] }')
fi

{
	echo "Zelvan Proximity demo, $(date -u '+%Y-%m-%d %H:%M UTC')"
	echo "driver: ${driver#"$root"/}"
	[ -z "$sensor_line" ] || echo "$sensor_line"
	echo "run: $seconds s at 90 Hz, $wearer, report_rate_ms ${rate_used:-?}, moving_avg_length ${window_used:-?}"
	echo "simulator exit status: $sim_status"
	echo "presence published: on $(fact presence_on) times, off $(fact presence_off) times"
	[ -z "$table_line" ] || echo "the detector at these settings (presence-table.md): $table_line"
	echo "zelvan-ctl commands: $(fact commands), failed: ${failed_commands:-none}"
	echo "timed hold: $(grep -o 'Prox: Manual override ended after .*' "$report/driver.log" 2>/dev/null | head -n 1 || echo "did not end")"
	echo "headset's stored IPD (default_mm): before $before_mm, after $after_mm, expected $expected_ipd_mm"
	echo "last persistence line: ${persist_line:-none}"
	result_lines
} >"$report/summary.txt"

show_report driver.log trace.json presence.svg presence.png presence-table.md summary.txt

# demo.sh --panel, sourced by demo.sh once the driver is installed and the
# demo's channel and runtime files are set up: the installed driver in the
# host simulator with a wearer the page can play, `zelvan-ctl panel
# --no-browser`, and the browser road (tests/e2e/panel/panel_road.py) in
# headless Chromium through every step, a screenshot after each.

source "$root/tests/e2e/panel/panel_start.sh"
source "$demo/background_sim.sh"

if [ "$quick" -eq 1 ]; then
	phase_s=1.5 count_down=1 rate_ms=${rate_ms:-50}
else
	phase_s=5 count_down=3
fi
follow=$runfiles/wearer.txt
shots=$report/panel

{
	cat "$demo/sensor.conf"
	echo
	cat "$demo/panel-wearer.conf"
	echo "log sensor-events.log"
} >"$runfiles/sensor.conf"
write_settings

missing=$(panel_road_missing)
if [ -n "$missing" ]; then
	echo "demo: the browser road needs $missing" >&2
	exit 1
fi

panel_cleanup() {
	[ -z "${panel_pid:-}" ] || kill "$panel_pid" 2>/dev/null || true
	end_sim
}
trap panel_cleanup EXIT

printf 'off\n' >"$follow"
say "Running $which_driver in zelvan-host-sim, its wearer played by the page's road"
start_sim --hmd-prop Prop_UserIpdMeters_Float=0.0635
wait_sim_ready

failures=()
export ZELVAN_PANEL_DATA=$report/panel-data
mkdir -p "$ZELVAN_PANEL_DATA" "$shots"
say "Starting zelvan-ctl panel --no-browser (its data: build/demo/report/panel-data/)"
if ! panel_start "$report/panel.txt" 30 zelvan-ctl panel --no-browser; then
	cat "$report/panel.txt" >&2
	echo "demo: zelvan-ctl panel never named its launch file" >&2
	exit 1
fi
sed 's/^/   | /' "$report/panel.txt"

say "The browser road: headless Chromium through the page (screenshots: build/demo/report/panel/)"
set +e
panel_road --launch "$panel_launch" --shots "$shots" --follow "$follow" \
	--phase-seconds "$phase_s" --count-down "$count_down" 2>&1 | tee "$report/road.txt" | sed 's/^/   | /'
road_status=${PIPESTATUS[0]}
panel_end 30
panel_status=$?
set -e
[ "$road_status" -eq 0 ] || failures+=("the browser road exited with status $road_status")
[ "$panel_status" -eq 0 ] || failures+=("zelvan-ctl panel $([ "$panel_status" -eq 124 ] && echo "did not end after Quit" || echo "exited with status $panel_status")")
stop_sim
[ "$interrupted" -eq 0 ] || failures+=("interrupted with Ctrl-C")

cp "$settings" "$report/steamvr.vrsettings"
mkdir -p "$report/inputs"
cp "$runfiles/sensor.conf" "$report/inputs/"
[ ! -f "$runfiles/sensor-events.log" ] || cp "$runfiles/sensor-events.log" "$report/"

steps=$(grep -c '^step ' "$report/road.txt" || true)
first_trace=$(sed -n 's/^.*\(first trace drawn after [0-9]* ms\).*$/\1/p' "$report/road.txt" | head -n 1)
[ -n "$first_trace" ] || failures+=("the road never saw the first trace drawn")
{
	echo "Zelvan Proximity demo: the panel in a browser, $(date -u '+%Y-%m-%d %H:%M UTC')"
	echo "driver: ${driver#"$root"/}"
	echo "panel: zelvan-ctl panel --no-browser, its data in panel-data/; the road in headless Chromium (road.txt)"
	echo "the page: ${first_trace:-no trace drawn}"
	echo "steps ($steps; each a screenshot in panel/):"
	grep '^step ' "$report/road.txt" | sed -e "s#$shots/#panel/#" -e 's/^/  /'
	echo "browser road exit status: $road_status; zelvan-ctl panel: $panel_status; simulator: ${sim_status:-?}"
	result_lines
} >"$report/summary.txt"

show_report summary.txt road.txt panel driver.log trace.json
exit 0

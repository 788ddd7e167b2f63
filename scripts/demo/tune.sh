# demo.sh --tune, sourced by demo.sh once the driver is installed and the
# demo's channel and runtime files are set up: a wearer with glasses, whose
# on-head reading sits just above the threshold, before and after
# `zelvan-ctl record --guided` and `zelvan-ctl tune --apply`, in one run of
# the installed driver. The demo plays the person through the simulated
# sensor's follow file, answering each prompt after a human's delay.

if [ "$quick" -eq 1 ]; then
	script_divisor=3 phase_s=1.5 count_down=1 reaction_s=0.4 rate_ms=${rate_ms:-50}
else
	script_divisor=1 phase_s=10 count_down=3 reaction_s=0.8
fi
follow=$runfiles/wearer.txt
source "$demo/background_sim.sh"

{
	cat "$demo/sensor.conf"
	echo
	cat "$demo/glasses-wearer.conf"
	echo "log sensor-events.log"
} >"$runfiles/sensor.conf"

write_settings

# Whole words only: the sensor never sees half a write.
wear() {
	printf '%s\n' "$1" >"$follow.new" && mv -f "$follow.new" "$follow"
}

trap end_sim EXIT

# The settings in force, as the driver's status says (an offset of 0 is left out).
settings_now() {
	local json
	json=$(zelvan-ctl --json status 2>/dev/null) || { echo "?"; return; }
	printf 'report_rate_ms %s, moving_avg_length %s, threshold_offset %s' "$(json_field report_rate_ms "$json")" \
		"$(json_field moving_avg_length "$json")" "$(json_field threshold_offset "$json" | grep . || echo 0)"
}

# Plays wearer-script.txt, noting when each change reached the sensor's file.
play_stretch() { # NAME
	local name=$1 notes=$report/wearer-$1.txt start at what delay
	: >"$notes"
	start=$(date +%s.%N)
	while read -r at what; do
		delay=$(awk -v s="$start" -v a="$at" -v k="$script_divisor" -v n="$(date +%s.%N)" \
			'BEGIN { d = s + a / k - n; printf "%.3f", (d > 0 ? d : 0) }')
		sleep "$delay" || true
		# Ctrl-C (demo.sh's INT trap notes it) ends the stretch where it is.
		[ "$interrupted" -eq 0 ] || break
		[ "$what" = end ] || wear "$what"
		printf '%s %s\n' "$(date +%s.%N)" "$what" >>"$notes"
		printf '   %5.1f s  %s\n' "$(awk -v a="$at" -v k="$script_divisor" 'BEGIN { print a / k }')" \
			"$([ "$what" = end ] && echo "the stretch ends" || echo "the wearer: $what")"
	done < <(grep -E '^[0-9.]+[[:space:]]+(on|off|end)' "$demo/wearer-script.txt")
}

wear off
say "Running $which_driver in zelvan-host-sim with a wearer with glasses (on the face the sensor reads 1520 +/- 550)"
start_sim
wait_sim_ready

failures=()
before_settings=$(settings_now)
say "Before: the wearer puts it on and takes it off twice ($before_settings)"
play_stretch before

# After Ctrl-C the simulator stops too: the steps that need it are left out,
# and the report is made from what there is.
record_status="not run (interrupted)"
tune_status="not run (interrupted)"
after_settings="?"
if [ "$interrupted" -eq 0 ]; then
	say "Recording: zelvan-ctl record --guided (the simulated wearer follows each prompt after ${reaction_s} s)"
	set +e
	zelvan-ctl record --guided --seconds "$phase_s" --count-down "$count_down" "$report/recording.txt" 2>&1 |
		while IFS= read -r line; do
			printf '   | %s\n' "$line"
			case $line in
			*"take the headset off"*) (sleep "$reaction_s"; wear off) & ;;
			*"put it on"*) (sleep "$reaction_s"; wear on) & ;;
			esac
		done
	record_status=${PIPESTATUS[0]}
	set -e
	wear off
	[ "$record_status" -eq 0 ] || failures+=("zelvan-ctl record exited with status $record_status")
fi
if [ "$interrupted" -eq 0 ]; then
	say "Tuning: zelvan-ctl tune recording.txt --svg tune.svg --apply"
	set +e
	zelvan-ctl tune "$report/recording.txt" --svg "$report/tune.svg" --apply >"$report/tune.txt" 2>&1
	tune_status=$?
	set -e
	sed 's/^/   | /' "$report/tune.txt"
	[ "$tune_status" -eq 0 ] || failures+=("zelvan-ctl tune exited with status $tune_status")
	[ -s "$report/tune.svg" ] || failures+=("zelvan-ctl tune drew no tune.svg")

	# The reset of the applied settings starts the detector over; let it settle
	# with the headset off before the stretch starts counting.
	sleep 1 || true
	after_settings=$(settings_now)
	say "After: the same wearer, the same moves ($after_settings)"
	play_stretch after
fi

stop_sim

# --- The report and the checks ----------------------------------------------

cp "$settings" "$report/steamvr.vrsettings"
mkdir -p "$report/inputs"
cp "$runfiles/sensor.conf" "$demo/wearer-script.txt" "$report/inputs/"
[ ! -f "$runfiles/sensor-events.log" ] || cp "$runfiles/sensor-events.log" "$report/"

[ "$interrupted" -eq 0 ] || failures+=("interrupted with Ctrl-C")
facts=""
[ "$interrupted" -eq 1 ] || facts=$(python3 "$demo/count_switches.py" "$report/driver.log" before="$report/wearer-before.txt" \
	after="$report/wearer-after.txt") || failures+=("the switches could not be counted")
fact() { sed -n "s/^$1=//p" <<<"$facts"; }
before_false=$(fact before_false)
after_false=$(fact after_false)
if [ -n "$before_false" ] && [ -n "$after_false" ]; then
	[ "$after_false" -lt "$before_false" ] ||
		failures+=("after tuning presence switched falsely $after_false times, not fewer than the $before_false before")
	[ "$(fact after_missed)" -eq 0 ] || failures+=("after tuning presence missed $(fact after_missed) of the wearer's moves")
fi

stored=$(python3 -c 'import json, sys
s = json.load(open(sys.argv[1])).get("driver_ZelvanProximity", {})
print(", ".join("%s %s" % (k, s[k]) for k in ("report_rate_ms", "moving_avg_length", "threshold_offset") if k in s))' \
	"$report/steamvr.vrsettings" 2>/dev/null || echo "?")

plot_line=""
if plot_line=$(python3 "$demo/plot_presence.py" "$report/trace.json" -o "$report/presence.svg" \
	--title "Head presence before and after tuning: $which_driver in zelvan-host-sim" 2>/dev/null); then
	:
else
	failures+=("presence.svg could not be drawn")
fi

recorded=$(grep -c -E '^[0-9]+ [0-9]+' "$report/recording.txt" 2>/dev/null || true)
{
	echo "Zelvan Proximity demo: tuning for a wearer with glasses, $(date -u '+%Y-%m-%d %H:%M UTC')"
	echo "driver: ${driver#"$root"/}"
	echo "wearer: on the face the sensor reads 1520 +/- 550, off it 300 +/- 550; calibration thresh 1500 hyst 100"
	echo "each stretch: off, on for $(awk -v k="$script_divisor" 'BEGIN { print 12 / k }') s, off, on again, off (wearer-script.txt)"
	echo "before ($before_settings): $before_false false switches, $(fact before_missed) missed; $(fact before_times)"
	echo "recording: zelvan-ctl record --guided, 3 rounds off and on, $phase_s s each: $recorded readings (recording.txt), exit status $record_status"
	echo "tune: $(sed -n 's/^recommend: //p' "$report/tune.txt" | head -n 1 | grep . || echo "no recommendation, see tune.txt"), exit status $tune_status"
	echo "after ($after_settings): $after_false false switches, $(fact after_missed) missed; $(fact after_times)"
	echo "stored in steamvr.vrsettings: $stored"
	result_lines "passed (after tuning, fewer false switches than before)"
} >"$report/summary.txt"

show_report summary.txt tune.svg recording.txt tune.txt presence.svg driver.log trace.json steamvr.vrsettings
exit 0

# The installed driver in zelvan-host-sim in the background, for the roads
# of demo.sh that talk to it while it runs (--tune, --panel): started, found
# ready, stopped through its stop file. Sourced after demo.sh set up the
# runtime's files, $runfiles/sensor.conf and the settings.

stop_file=$runfiles/stop
sim_pid=""

# start_sim [ARG...]: the arguments go before the driver's path.
start_sim() {
	"$bin/zelvan-host-sim" --seconds 600 --rate 90 --hmd-frame 0 --hmd-prop "Prop_SerialNumber_String=$serial" \
		--defaults "$defaults" --settings "$settings" --sim-sensor "$runfiles/sensor.conf" --stop-file "$stop_file" \
		--log "$report/driver.log" --trace "$report/trace.json" --trace-quiet-polls --quiet \
		"$@" "$driver" >"$report/host-sim.txt" 2>&1 &
	sim_pid=$!
}

# Waits until the driver opened the sensor and set its rate; exits the demo
# when it does not.
wait_sim_ready() {
	local json
	for _ in $(seq 1 100); do
		if json=$(zelvan-ctl --timeout 0.5 --json status 2>/dev/null) && [ "$(json_field hid "$json")" = open ] &&
			grep -q "HID: Report rate set to" "$report/driver.log" 2>/dev/null; then
			return 0
		fi
		kill -0 "$sim_pid" 2>/dev/null || break
		sleep 0.2
	done
	tail -n 20 "$report/host-sim.txt" >&2
	echo "demo: the driver never opened the simulated sensor" >&2
	exit 1
}

# Ends the run through the stop file; sets sim_status (empty when it would
# not end) and notes a failure.
stop_sim() {
	touch "$stop_file"
	sim_status=""
	for _ in $(seq 1 300); do
		if ! kill -0 "$sim_pid" 2>/dev/null; then
			wait "$sim_pid" && sim_status=0 || sim_status=$?
			break
		fi
		sleep 0.1
	done
	sim_pid=""
	[ "$sim_status" = 0 ] || failures+=("zelvan-host-sim exited with status ${sim_status:-?, still running}")
}

# For the EXIT trap: a simulator still running is asked to stop, then ended.
end_sim() {
	[ -n "$sim_pid" ] || return 0
	touch "$stop_file"
	for _ in $(seq 1 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
	kill "$sim_pid" 2>/dev/null || true
}

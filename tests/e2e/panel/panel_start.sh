# Starting `zelvan-ctl panel --no-browser` for a browser road, sourced by the
# scripts that drive the page: the Linux test, the Windows build's test under
# Wine and demo.sh --panel. They differ only in the command that starts the
# panel and in how the launch file's printed path becomes a local one.

# The Python that has Debian's selenium: a python3 of pyenv or a virtual
# environment earlier on PATH does not see /usr/lib/python3/dist-packages.
panel_python() {
	local p
	for p in /usr/bin/python3 python3; do
		if "$p" -c 'import selenium' >/dev/null 2>&1; then
			printf '%s\n' "$p"
			return 0
		fi
	done
	return 1
}

# Why the browser road cannot run here; nothing when it can.
panel_road_missing() {
	local what=()
	command -v chromium >/dev/null 2>&1 || what+=(chromium)
	command -v chromedriver >/dev/null 2>&1 || what+=(chromium-driver)
	panel_python >/dev/null || what+=(python3-selenium)
	[ ${#what[@]} -eq 0 ] || printf '%s (scripts/bootstrap.sh installs them)\n' "${what[*]}"
}

# panel_start LOG SECONDS COMMAND...: starts the panel's COMMAND in the
# background with its output in LOG and waits, SECONDS at most, for the
# line that names the launch file. Sets panel_pid and panel_launch (the
# path as printed); false when the panel ended or never said it.
panel_start() {
	local log=$1 seconds=$2 deadline
	shift 2
	# Emptied first: a line of an earlier run must not be taken for this one's.
	: >"$log"
	"$@" >>"$log" 2>&1 &
	panel_pid=$!
	panel_launch=""
	deadline=$((SECONDS + seconds))
	while [ "$SECONDS" -le "$deadline" ]; do
		panel_launch=$(tr -d '\r' <"$log" | sed -n 's/^zelvan-ctl: open \(.*\) in your browser.*$/\1/p' | head -n 1)
		[ -z "$panel_launch" ] || return 0
		kill -0 "$panel_pid" 2>/dev/null || return 1
		sleep 0.1
	done
	return 1
}

# panel_road ARGS...: the road (tests/e2e/panel/panel_road.py) in headless
# Chromium; its exit status (77 when the browser or selenium is missing).
panel_road() {
	local python
	python=$(panel_python) || return 77
	"$python" "$(dirname "${BASH_SOURCE[0]}")/panel_road.py" "$@"
}

# panel_end SECONDS: waits, SECONDS at most, for the panel to end after the
# road's Quit; ends it otherwise. Its exit status, or 124 when it had to be
# ended.
panel_end() {
	local deadline=$((SECONDS + $1)) status=0
	[ -n "${panel_pid:-}" ] || return 0
	while kill -0 "$panel_pid" 2>/dev/null && [ "$SECONDS" -le "$deadline" ]; do
		sleep 0.1
	done
	if kill -0 "$panel_pid" 2>/dev/null; then
		kill "$panel_pid" 2>/dev/null
		wait "$panel_pid" 2>/dev/null
		status=124
	else
		wait "$panel_pid" || status=$?
	fi
	panel_pid=""
	return "$status"
}

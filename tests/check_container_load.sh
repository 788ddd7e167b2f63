#!/usr/bin/env bash
# The installed Linux driver as SteamVR's runtime container runs it: in a
# mount namespace where the system's hidapi libraries read as empty files and
# XDG_RUNTIME_DIR is a private tmpfs, the host simulator loads the installed
# library (no simulated sensor, nothing preloaded) and runs it to the end,
# while zelvan-ctl outside the namespace, as the user's desktop, talks to it.
# Another user's client gets no status. Needs `unshare -m` (root in CI);
# exits 77, which CTest reports as skipped, where that is not permitted.
# Usage: check_container_load.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
sim=$build/bin/zelvan-host-sim
libdir=/usr/lib/x86_64-linux-gnu

fail() { echo "FAIL: $*" >&2; exit 1; }

if ! unshare -m true 2>/dev/null; then
	echo "SKIP: 'unshare -m' is not permitted here (it needs root or CAP_SYS_ADMIN); the runtime container was not emulated"
	exit 77
fi
# The simulator itself must load without hidapi, or this proves nothing.
if objdump -p "$sim" | awk '$1 == "NEEDED" {print $2}' | grep hidapi >/dev/null; then
	fail "$sim needs hidapi itself"
fi

work=$(mktemp -d)
sim_pid=""
cleanup() {
	touch "$work/stop"
	[ -z "$sim_pid" ] || wait "$sim_pid" 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT
# The client of another user must reach the installed zelvan-ctl.
chmod 755 "$work"
cmake --install "$build" --prefix "$work/install" >/dev/null
bin=$work/install/zelvanproximity/bin/linux64
ctl=$bin/zelvan-ctl
mkdir "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
export ZELVAN_TEST_CHANNEL=zelvan-container-test-$$-$RANDOM
unset LD_PRELOAD LD_LIBRARY_PATH

hidden=()
for dir in "$libdir" /lib/x86_64-linux-gnu; do
	# Where /lib is a link to /usr/lib the second name is the same file.
	[ "$dir" = "$libdir" ] || [ ! -L /lib ] || continue
	for f in "$dir"/libhidapi-hidraw.so* "$dir"/libhidapi-libusb.so*; do
		# A link resolves to a file that is hidden itself.
		if [ -f "$f" ] && [ ! -L "$f" ]; then hidden+=("$f"); fi
	done
done

# Inside: hide, prove the system's hidapi no longer loads, then run the
# simulator until the stop file appears; its status line from inside too.
inner='
set -u
mount --make-rprivate /
mount -t tmpfs tmpfs "$XDG_RUNTIME_DIR"
for f in "$@"; do mount --bind /dev/null "$f" || exit 10; done
if python3 -c "import ctypes; ctypes.CDLL(\"libhidapi-hidraw.so.0\")" 2>/dev/null; then exit 11; fi
"$SIM" --quiet --rate 90 --seconds 60 --stop-file "$WORK/stop" --trace "$WORK/trace.json" "$DRIVER" \
	>"$WORK/sim.out" 2>&1 &
pid=$!
for _ in $(seq 100); do
	"$CTL" status >"$WORK/inside-status" 2>&1 && grep -q "hid=reconnecting" "$WORK/inside-status" && break
	kill -0 $pid 2>/dev/null || break
	sleep 0.2
done
touch "$WORK/inside-done"
wait $pid
'
SIM=$sim CTL=$ctl WORK=$work DRIVER=$bin/driver_ZelvanProximity.so \
	unshare -m bash -c "$inner" inner "${hidden[@]}" &
sim_pid=$!
for _ in $(seq 150); do
	[ -e "$work/inside-done" ] || ! kill -0 "$sim_pid" 2>/dev/null && break
	sleep 0.2
done
[ -e "$work/inside-done" ] || fail "the simulator ended early: $(cat "$work/sim.out" 2>/dev/null)"
grep -q "hid=reconnecting" "$work/inside-status" ||
	fail "inside, no status with hid=reconnecting: $(cat "$work/inside-status" "$work/sim.out" 2>/dev/null)"

# Outside: the desktop's view. Each row: who, client, whether a status line
# is wanted.
outside_status() {
	local out
	out=$("$ctl" status 2>&1) || fail "zelvan-ctl status outside the namespace: $out"
	[[ $out == *"proximity="*"hid=reconnecting"* ]] || fail "outside, the status line is: $out"
}
outside_status
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
for client in zelvan-ctl socat; do
	case $client in
	zelvan-ctl) cmd=("${nobody[@]}" "$ctl" --timeout 1 status) ;;
	socat) cmd=("${nobody[@]}" socat -T 2 - "ABSTRACT-CONNECT:$ZELVAN_TEST_CHANNEL,socktype=5") ;;
	esac
	status=0
	# A here-string, not a pipe from echo: zelvan-ctl does not read its input,
	# and an echo that finds the pipe already closed would turn its status
	# into 141 under pipefail, hiding an exit 0.
	out=$(timeout 10 "${cmd[@]}" <<<status 2>&1) || status=$?
	[[ $out != *"proximity="* ]] || fail "uid 65534 through $client got the status: $out"
	[ "$client" = socat ] || [ "$status" -ne 0 ] || fail "uid 65534 through $client exited 0"
done
outside_status

touch "$work/stop"
status=0
wait "$sim_pid" || status=$?
sim_pid=""
case $status in
0) ;;
10 | 11) fail "the system's hidapi could not be hidden (step $status)" ;;
*) fail "the simulator exited $status: $(tail -n 20 "$work/sim.out")" ;;
esac
python3 - "$work/trace.json" <<'PY'
import json, sys
trace = json.load(open(sys.argv[1]))
log = [entry["text"].rstrip("\n") for entry in trace["log"]]
def has(prefix):
    return any(line.startswith(prefix) for line in log)
assert trace["init_result"] == 0 and trace["exit_status"] == 0, trace["exit_status"]
for line in ("Zelvan Proximity driver initialized successfully", "HID: Starting reader thread",
             "Pipe: Refused client of uid 65534", "Pipe: Destroyed"):
    assert has(line), "no '%s' in the log:\n%s" % (line, "\n".join(log))
assert trace["frames"] > 0 and any(c["phase"] == "cleanup" for c in trace["calls"]), "no frames or no Cleanup"
PY
echo "the installed library ran with the system's hidapi hidden (${#hidden[@]} files): $(cat "$work/inside-status")"

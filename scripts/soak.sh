#!/usr/bin/env bash
# A bounded soak of the driver in the host simulator: frames as fast as
# possible, the simulated sensor unplugged and plugged back at random, random
# wearer levels, IPD events and slider changes, and a client hammering the
# control channel. Fails on a crash, a leak (in a sanitizer build), an
# unanswered valid command or a state the trace contradicts; reports the
# longest and the 99.9th percentile frame.
#
# Frames run at 1000 Hz, ten times SteamVR's pace, so that the sensor's and
# the clients' real-time events meet many frames.
#
#   scripts/soak.sh [--hidraw] [FRAMES] [BUILD_DIR]      full form: scripts/soak.sh 200000
#
# --hidraw runs the sensor behind the emulated /dev/hidraw0 and the driver's
# real hidapi and libudev (scripts/with-hidraw.sh; exit 77 where it cannot).
set -euo pipefail
cd "$(dirname "$0")/.."
hidraw=0
if [ "${1:-}" = --hidraw ]; then
  hidraw=1
  shift
fi
frames=${1:-200000}
build=${2:-build/linux}
rate=${ZELVAN_SOAK_RATE:-1000}
bin=$build/bin
seed=${ZELVAN_SOAK_SEED:-$RANDOM}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "soak: $frames frames, seed $seed, binaries from $bin"

python3 - "$work" "$frames" "$seed" "$rate" <<'PY'
import random, sys
work, frames, seed, rate = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(seed)
duration_ms = frames * 1000 // rate
with open(work + "/sensor.cfg", "w") as f:
    f.write("tracking_serial LHR-50AK0001\nhmd_serial ZV2-50AK0001\nnoise 60\nseed %d\n" % seed)
    t = 0
    while t < duration_ms:
        t += rng.randint(50, 400)
        f.write("level %d %d\n" % (t, rng.choice([200, 300, 1400, 1600, 2400, 3000, rng.randint(0, 4000)])))
    for t in sorted(rng.sample(range(500, max(duration_ms, 600)), max(1, duration_ms // 4000))):
        f.write("unplug %d %d\n" % (t, rng.randint(100, 1500)))
with open(work + "/scenario.txt", "w") as f:
    for frame in sorted(rng.sample(range(10, frames), min(200, frames // 100))):
        if rng.random() < 0.5:
            f.write("%d ipd_event %.4f\n" % (frame, rng.uniform(0.045, 0.078)))
        else:
            f.write("%d setting driver_ZelvanProximity ipd_mm %.1f\n" % (frame, rng.uniform(46, 77)))
PY

export ZELVAN_TEST_CHANNEL=zelvan_soak-$$
export ASAN_OPTIONS=${ASAN_OPTIONS:-verify_asan_link_order=0:detect_leaks=1}
if [ "$hidraw" -eq 1 ]; then
  wrap=(scripts/with-hidraw.sh --emu "$bin/zelvan-hidraw-emu" --sensor "$work/sensor.cfg" --)
  sensor_args=()
else
  wrap=()
  sensor_args=(--sim-sensor "$work/sensor.cfg")
fi
"${wrap[@]}" "$bin/zelvan-host-sim" --rate "$rate" --frames "$frames" --quiet --trace-quiet-polls \
  --setting driver_ZelvanProximity.report_rate_ms=50 \
  "${sensor_args[@]}" --scenario "$work/scenario.txt" \
  --trace "$work/trace.json" --log "$work/driver.log" "$bin/driver_ZelvanProximity.so" &
sim=$!
for _ in $(seq 200); do grep -q "Pipe: Created" "$work/driver.log" 2>/dev/null && break; sleep 0.05; done
python3 tests/soak/hammer.py "@$ZELVAN_TEST_CHANNEL" "$work/stop" "$work/stats.json" "$seed" &
hammer=$!
status=0
wait "$sim" || status=$?
touch "$work/stop"
wait "$hammer" || true
if [ "$hidraw" -eq 1 ] && [ "$status" -eq 77 ]; then
  echo "soak: --hidraw cannot run on this machine (skipped)" >&2
  exit 77
fi

python3 - "$work" "$status" <<'PY'
import json, sys
work, status = sys.argv[1], int(sys.argv[2])
problems = []
if status != 0:
    problems.append("the simulator exited with %d" % status)
trace = json.load(open(work + "/trace.json"))
stats = json.load(open(work + "/stats.json"))
if stats["valid"] == 0:
    problems.append("the hammer sent no valid command")
if stats["answered"] != stats["valid"]:
    problems.append("%d of %d valid commands unanswered or wrong: %s" % (
        stats["valid"] - stats["answered"], stats["valid"], stats["wrong"][:5]))
log = [e["text"] for e in trace["log"]]
updates = [c for c in trace["calls"] if c["call"] == "UpdateBooleanComponent" and c.get("handle") == 1000]
published = [l for l in log if l.startswith("Proximity: UpdateBooleanComponent(")]
if len(updates) != len(published):
    problems.append("%d component updates in the trace, %d in the log" % (len(updates), len(published)))
values = [u["value"] for u in updates]
if any(a == b for a, b in zip(values, values[1:])):
    problems.append("the same presence value was sent twice in a row")
opened = sum(1 for l in log if l == "HID: Device opened/reconnected\n")
gone = sum(1 for l in log if l in ("HID: Device disconnected\n", "HID: No samples from the sensor, reopening it\n"))
if not (gone <= opened <= gone + 1):
    problems.append("%d opens against %d disconnections" % (opened, gone))
if log[-1] not in ("HID: Device closed\n", "Pipe: Destroyed\n"):
    problems.append("the log does not end with Cleanup: %r" % log[-1])
ft = trace["frame_time_us"]
print("soak: %d frames, %d valid commands answered, %d garbage, %d over-long, %d zero-length, %d silent, %d non-reading clients" % (
    trace["frames"], stats["answered"], stats["garbage"], stats["too_long"], stats["zero"], stats["silent"], stats["no_read"]))
print("soak: %d sensor opens, %d disconnections, %d presence changes published" % (opened, gone, len(updates)))
print("soak: frame time max %s us, p99.9 %s us, p99 %s us, p50 %s us" % (ft["max"], ft["p999"], ft["p99"], ft["p50"]))
for p in problems:
    print("soak: FAIL:", p)
sys.exit(1 if problems else 0)
PY

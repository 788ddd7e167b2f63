#!/usr/bin/env bash
# Builds the driver and runs it inside the host simulator for a few seconds,
# with the driver's log on screen. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target zelvan_driver zelvan-host-sim >/dev/null

bin=build/linux/bin
out=build/demo
mkdir -p "$out"
echo "== Running driver_ZelvanProximity.so in the host simulator for 5 seconds at 90 Hz"
"$bin/zelvan-host-sim" --seconds 5 --rate 90 \
  --settings "$out/steamvr.vrsettings" \
  --log "$out/driver.log" --trace "$out/trace.json" \
  "$bin/driver_ZelvanProximity.so"
echo "== Driver log: $out/driver.log, runtime call trace: $out/trace.json"

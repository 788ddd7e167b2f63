#!/usr/bin/env bash
# Runs a command with the simulated proximity sensor behind a real hidraw
# interface: /dev/hidraw0 leads to a FUSE node served by zelvan-hidraw-emu and
# /sys a tmpfs holding the device's sysfs entries, both only inside a private
# mount namespace, so that the real libudev and hidapi find and open it and
# nothing outside changes. Needs root (or CAP_SYS_ADMIN) and /dev/fuse.
set -uo pipefail

usage() {
	cat <<'EOF'
Usage: scripts/with-hidraw.sh [--sensor CONF] [--emu PROGRAM] -- COMMAND [ARG...]

CONF is a simulated-sensor configuration (tools/sim_sensor/README.md); it is
read again whenever its text changes, as the simulated library does, and the
command finds its path in ZELVAN_HIDRAW_SENSOR. Without it the sensor is
plugged in with the default levels (from an empty file of the run's own). PROGRAM is the emulator
(default: build/linux/bin/zelvan-hidraw-emu, or $ZELVAN_HIDRAW_EMU).

Exit status: the command's; 77 when this machine cannot host the node
(no mount namespaces, no FUSE, no emulator built); 2 for a usage error.
EOF
}

skip() {
	echo "with-hidraw: $1; skipped" >&2
	exit 77
}

here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = "--inside" ]; then
	# In the new mount namespace: $2 scratch folder, $3 config, $4 emulator.
	scratch=$2 conf=$3 emu=$4
	shift 5
	emu_pid=""
	finish() {
		local rc=$?
		trap - EXIT INT TERM
		if [ -n "$emu_pid" ]; then
			# The daemon unmounts its node when told to end.
			kill "$emu_pid" 2>/dev/null
			wait "$emu_pid" 2>/dev/null
		fi
		exit "$rc"
	}
	trap finish EXIT
	trap 'exit 130' INT
	trap 'exit 143' TERM

	# A private /dev: the machine's entries again (the file systems mounted
	# inside it bound back in), plus a file to mount the node over.
	submounts=$(findmnt -rn -o TARGET | awk '$0 ~ "^/dev/[^/]+$"' | sort -u)
	mkdir "$scratch/hostdev" && mount --rbind /dev "$scratch/hostdev" &&
		mount -t tmpfs -o mode=755,nosuid zelvan-dev /dev &&
		cp -ax "$scratch/hostdev/." /dev/ || skip "cannot set up a private /dev"
	for target in $submounts; do
		mkdir -p "$target" && mount --rbind "$scratch/hostdev/${target#/dev/}" "$target"
	done
	mkdir /dev/.hidraw-emu
	mount -t tmpfs -o mode=755,nosuid,nodev zelvan-sys /sys || skip "cannot mount a tmpfs over /sys"

	# The node lives in /dev/.hidraw-emu; /dev/hidraw0 links to it while the
	# sensor is plugged in.
	ZELVAN_SIM_SENSOR=$conf "$emu" --sys /sys --link /dev/hidraw0 /dev/.hidraw-emu 2>"$scratch/emu.log" &
	emu_pid=$!
	for _ in $(seq 1 100); do
		findmnt -n /dev/.hidraw-emu >/dev/null 2>&1 && break
		kill -0 "$emu_pid" 2>/dev/null || break
		sleep 0.05
	done
	if ! findmnt -n /dev/.hidraw-emu >/dev/null 2>&1; then
		sed 's/^/with-hidraw: emulator: /' "$scratch/emu.log" >&2
		emu_pid=""
		skip "FUSE could not mount the node"
	fi
	echo "with-hidraw: /dev/hidraw0 (-> /dev/.hidraw-emu/hidraw0) served by $emu (sensor ${conf}), sysfs on a tmpfs over /sys, SYSTEMD_DEVICE_VERIFY_SYSFS=0" >&2
	# libudev skips device folders that are not on a real sysfs unless told.
	export SYSTEMD_DEVICE_VERIFY_SYSFS=0
	# The command may rewrite the sensor's configuration (write it whole).
	export ZELVAN_HIDRAW_SENSOR=$conf
	unset ZELVAN_SIM_SENSOR
	"$@"
	exit $?
fi

conf=""
emu=${ZELVAN_HIDRAW_EMU:-$here/../build/linux/bin/zelvan-hidraw-emu}
while [ $# -gt 0 ]; do
	case "$1" in
	--sensor) [ $# -ge 2 ] || { usage >&2; exit 2; }; conf=$2; shift 2 ;;
	--emu) [ $# -ge 2 ] || { usage >&2; exit 2; }; emu=$2; shift 2 ;;
	-h | --help) usage; exit 0 ;;
	--) shift; break ;;
	*) usage >&2; exit 2 ;;
	esac
done
[ $# -gt 0 ] || { usage >&2; exit 2; }

[ -x "$emu" ] || skip "no emulator at $emu (it is built where libfuse3-dev is installed)"
[ -c /dev/fuse ] || skip "no /dev/fuse"
command -v unshare >/dev/null || skip "no unshare"
unshare -m --propagation private true 2>/dev/null || skip "no mount namespaces for this user (unshare -m failed)"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zelvan-hidraw.XXXXXX")
# The namespace's mounts are invisible out here, so removing the folder
# never reaches into /dev.
trap 'rm -rf "$scratch"' EXIT
if [ -z "$conf" ]; then
	conf=$scratch/sensor.conf
	: >"$conf"
fi
conf=$(cd "$(dirname "$conf")" && pwd)/$(basename "$conf")
emu=$(cd "$(dirname "$emu")" && pwd)/$(basename "$emu")
# In the background, so that a signal to this script reaches the namespace's
# script, which ends the emulator before it exits.
unshare -m --propagation private -- "$here/with-hidraw.sh" --inside "$scratch" "$conf" "$emu" -- "$@" <&0 &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
status=0
wait "$child" || status=$?
while kill -0 "$child" 2>/dev/null; do
	wait "$child" || status=$?
done
exit "$status"

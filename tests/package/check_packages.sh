#!/usr/bin/env bash
# Makes the release packages of a build with CPack into OUT_DIR and checks
# them: the names carry the version, SHA256SUMS verifies, nothing of the other
# platform is inside, every binary is stripped and linked (GNU debuglink, name
# and checksum) to its debug file in the debug archive, and the stripped
# driver still exports only its factory.
# Usage: check_packages.sh BUILD_DIR OUT_DIR VERSION posix|windows OBJDUMP
set -euo pipefail
build=$1
out=$2
version=$3
platform=$4
objdump=$5
checks=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out.log" 2>&1 ||
  { cat "$out.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
cd "$out"
sha256sum -c --quiet SHA256SUMS || { echo "FAIL: sha256sum -c SHA256SUMS" >&2; exit 1; }

python3 - "$version" "$platform" "$objdump" <<'PY'
import os, re, subprocess, sys, tarfile, tempfile, zipfile, zlib
version, platform, objdump = sys.argv[1:4]
objcopy = objdump[:-len("objdump")] + "objcopy"
stem = "zelvanproximity-" + version
if platform == "posix":
    packages = {stem + "-linux64.tar.gz": "main", stem + "-linux64-debug.tar.gz": "debug"}
    foreign = re.compile(r"(^|/)(install\.cmd|[^/]*\.(exe|dll))$|/bin/win64/")
else:
    packages = {stem + "-win64.zip": "main", stem + "-win64-debug.zip": "debug",
                stem + "-win64-setup.exe": "setup"}
    foreign = re.compile(r"(^|/)(install\.sh|udev/.*|[^/]*\.so(\.\d+)*)$|/bin/linux64/")

def fail(message):
    sys.exit("FAIL: " + message)

sums = sorted(line.split("  ", 1)[1] for line in open("SHA256SUMS").read().splitlines())
if sums != sorted(packages):
    fail(f"SHA256SUMS lists {sums}, expected {sorted(packages)}")

def unpack(name, into):
    if name.endswith(".zip"):
        zipfile.ZipFile(name).extractall(into)
    else:
        tarfile.open(name).extractall(into)

def sections(path):
    run = subprocess.run([objdump, "-h", path], capture_output=True, text=True)
    return None if run.returncode else set(re.findall(r"^\s*\d+\s+(\S+)", run.stdout, re.M))

tmp = tempfile.mkdtemp()
main, debug = os.path.join(tmp, "main"), os.path.join(tmp, "debug")
for name, kind in packages.items():
    if kind == "main":
        unpack(name, main)
    elif kind == "debug":
        unpack(name, debug)
    elif open(name, "rb").read(2) != b"MZ":
        fail(f"{name} is not a Windows program")

binaries = 0
for root, _, files in os.walk(main):
    for f in files:
        rel = os.path.relpath(os.path.join(root, f), main)
        if foreign.search("/" + rel):
            fail(f"{rel} belongs to the other platform")
        found = sections(os.path.join(main, rel))
        if found is None or (platform == "posix" and rel.endswith("libhidapi-hidraw.so.0")):
            continue  # not a binary, or the system's hidapi (stripped by its distribution)
        binaries += 1
        if ".debug_info" in found:
            fail(f"{rel} is not stripped")
        if ".gnu_debuglink" not in found:
            fail(f"{rel} has no .gnu_debuglink")
        # The section holds the file name, padding to 4 bytes, then the CRC-32.
        section = os.path.join(tmp, "debuglink")
        subprocess.run([objcopy, "--dump-section", ".gnu_debuglink=" + section,
                        os.path.join(main, rel), os.path.join(tmp, "scratch")], check=True)
        data = open(section, "rb").read()
        link = data.split(b"\0", 1)[0]
        crc = int.from_bytes(data[(len(link) // 4 + 1) * 4:][:4], "little")
        debug_file = os.path.join(debug, os.path.dirname(rel), link.decode())
        if link.decode() != os.path.basename(rel) + ".debug" or not os.path.isfile(debug_file):
            fail(f"{rel} links to {link.decode()}, which the debug archive lacks")
        if zlib.crc32(open(debug_file, "rb").read()) != crc:
            fail(f"{rel}: the checksum in its debuglink does not match {link.decode()}")
        if ".debug_info" not in (sections(debug_file) or set()):
            fail(f"{link.decode()} carries no debug information")
if binaries < 2:
    fail(f"only {binaries} binaries found in the package")
print(f"packages OK: {', '.join(sorted(packages))}, {binaries} stripped binaries")
PY

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
if [ "$platform" = posix ]; then
  tar xzf "zelvanproximity-$version-linux64.tar.gz" -C "$unpacked"
  "$checks/check_exports.sh" "$unpacked/zelvanproximity/bin/linux64/driver_ZelvanProximity.so" posix >/dev/null
  # One version: the stripped zelvan-ctl runs and says the one in the names.
  got=$("$unpacked/zelvanproximity/bin/linux64/zelvan-ctl" --version)
  [ "$got" = "zelvan-ctl $version" ] || { echo "FAIL: zelvan-ctl --version says '$got'" >&2; exit 1; }
else
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "zelvanproximity-$version-win64.zip" "$unpacked"
  bin=$unpacked/zelvanproximity/bin/win64
  "$checks/check_exports.sh" "$bin/driver_ZelvanProximity.dll" windows >/dev/null
  "$checks/check_exports.sh" "$bin/hidapi.dll" windows-hidapi "$bin/driver_ZelvanProximity.dll" >/dev/null
fi

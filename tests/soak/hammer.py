#!/usr/bin/env python3
"""Hammers the driver's control channel while a soak run lasts: valid
commands, garbage, over-long and zero-length messages, clients that never
write and clients that never read. Every valid command must be answered.

usage: hammer.py SOCKET_PATH STOP_FILE STATS_FILE [SEED]
Runs until STOP_FILE exists, then writes a JSON summary to STATS_FILE.
"""
import json
import os
import random
import socket
import sys
import time

VALID = [
    (b"status", b"proximity="),
    (b"proximity on", b"OK proximity=true source=manual"),
    (b"proximity off", b"OK proximity=false source=manual"),
    (b"proximity auto", b"OK source=algorithm"),
    (b"ipd?", b"OK ipd="),
    (b"ipd 64", b""),  # OK or ERR, depending on the model and calibration
    # Not the driver's own component: its updates must stay the driver's.
    (b"test_handle 4242 1", b"OK handle=4242 value=true"),
]
GARBAGE = [b"x", b"status ", b"\x00\x01\x02", b"ipd", b"load_lh_config /nonexistent\n", b"\xff" * 40]


def connect(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    s.settimeout(5)
    # "@name" is the driver's abstract socket name.
    s.connect("\0" + path[1:] if path.startswith("@") else path)
    return s


def exchange(path, message, timeout=5, sent=None):
    s = connect(path)
    if sent is not None:
        sent()
    try:
        s.send(message)
        s.settimeout(timeout)
        return s.recv(4096)
    finally:
        s.close()


def main():
    path, stop_file, stats_file = sys.argv[1:4]
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    stats = {"valid": 0, "answered": 0, "wrong": [], "garbage": 0, "too_long": 0, "zero": 0,
             "silent": 0, "no_read": 0, "errors": 0, "last_presence": None}
    deadline = time.time() + 3600
    while not os.path.exists(stop_file) and time.time() < deadline:
        kind = rng.random()
        try:
            if kind < 0.6:
                message, expected = rng.choice(VALID)
                # Counted once connected: after the run the socket is gone.
                reply = exchange(path, message, sent=lambda: stats.__setitem__("valid", stats["valid"] + 1))
                if reply.startswith(expected) and reply:
                    stats["answered"] += 1
                    if message.startswith(b"proximity on"):
                        stats["last_presence"] = True
                    elif message.startswith(b"proximity off"):
                        stats["last_presence"] = False
                    elif message == b"proximity auto":
                        stats["last_presence"] = None
                else:
                    stats["wrong"].append([message.decode("latin-1"), reply.decode("latin-1")])
            elif kind < 0.75:
                stats["garbage"] += 1
                exchange(path, rng.choice(GARBAGE))
            elif kind < 0.85:
                stats["too_long"] += 1
                reply = exchange(path, b"y" * rng.randint(512, 4000))
                if reply != b"ERR message too long (max 511 bytes)":
                    stats["wrong"].append(["<too long>", reply.decode("latin-1")])
            elif kind < 0.9:
                stats["zero"] += 1
                s = connect(path)
                s.send(b"")
                time.sleep(0.01)
                s.close()
            elif kind < 0.95:
                stats["silent"] += 1
                s = connect(path)
                time.sleep(rng.uniform(0.01, 0.2))
                s.close()
            else:
                stats["no_read"] += 1
                s = connect(path)
                s.send(b"status")
                time.sleep(rng.uniform(0.01, 0.2))
                s.close()
        except (OSError, socket.timeout) as e:
            if os.path.exists(stop_file):
                break
            stats["errors"] += 1
            if stats["errors"] < 5:
                print("hammer:", type(e).__name__, e, file=sys.stderr)
            time.sleep(0.01)
    with open(stats_file, "w") as f:
        json.dump(stats, f)


if __name__ == "__main__":
    main()

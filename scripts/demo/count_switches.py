#!/usr/bin/env python3
"""Counts the detector's false switches and switching times in the demo's
driver log, against what the simulated wearer did when (demo.sh --tune).

Each wearer file holds the stretch it played: "EPOCH_SECONDS on|off" a line
when the wearer changed, and "EPOCH_SECONDS end" when the stretch ended. In
each of its phases the first switch to the wearer's state is the right one
(its delay is the switching time); every other switch is a false one, and a
phase that ends without the right state is a missed switch.
"""

import argparse
import datetime
import re
import sys

LINE = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) - \[frame +\d+\] (.*)$")
SWITCH = re.compile(r"Proximity: person_detected changed to (true|false)")
# A reset starts the detector over at "nobody there", without a switch line.
RESET = re.compile(r"Proximity: Algorithm reset")


def read_log(path):
    """(time, detected) for every switch and reset, in order."""
    events = []
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            m = LINE.match(line.rstrip("\n"))
            if not m:
                continue
            # The simulator stamps its log in local time, as this reads it.
            when = datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f").timestamp()
            s = SWITCH.search(m.group(2))
            if s:
                events.append((when, s.group(1) == "true", True))
            elif RESET.search(m.group(2)):
                events.append((when, False, False))
    return events


def read_wearer(path):
    phases, end = [], None
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = line.split()
            if len(words) != 2:
                continue
            when, what = float(words[0]), words[1]
            if what == "end":
                end = when
            else:
                phases.append((when, what == "on"))
    if not phases or end is None:
        sys.exit("count_switches: %s holds no whole stretch" % path)
    return phases, end


def count(events, phases, end):
    detected = False
    for when, value, _ in events:
        if when < phases[0][0]:
            detected = value
    false_switches, missed, delays = 0, 0, {True: [], False: []}
    bounds = [p[0] for p in phases[1:]] + [end]
    for (start, wearing), stop in zip(phases, bounds):
        reached = detected == wearing
        for when, value, is_switch in events:
            if not start <= when < stop:
                continue
            if not is_switch:
                detected = value
                continue
            detected = value
            if value == wearing and not reached:
                reached = True
                delays[wearing].append(when - start)
            else:
                false_switches += 1
        if not reached:
            missed += 1
    return false_switches, missed, delays


def describe(delays):
    parts = []
    for state, word in ((True, "on"), (False, "off")):
        if delays[state]:
            parts.append("%s after %s" % (word, ", ".join("%.2f s" % d for d in delays[state])))
    return "; ".join(parts) if parts else "no switch to the wearer's state"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("log", help="the driver log, as zelvan-host-sim --log writes it")
    parser.add_argument("stretch", nargs="+", help="NAME=WEARER_FILE")
    args = parser.parse_args()
    events = read_log(args.log)
    for stretch in args.stretch:
        name, _, path = stretch.partition("=")
        phases, end = read_wearer(path)
        false_switches, missed, delays = count(events, phases, end)
        print("%s_false=%d" % (name, false_switches))
        print("%s_missed=%d" % (name, missed))
        print("%s_times=%s" % (name, describe(delays)))


if __name__ == "__main__":
    main()

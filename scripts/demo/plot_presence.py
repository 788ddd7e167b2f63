#!/usr/bin/env python3
"""Draws the demo's presence plot as SVG from a zelvan-host-sim trace or driver log."""

import argparse
import html
import json
import math
import re
import sys

RAW = re.compile(r"HID: raw_prox=(\d+)")
AVG = re.compile(r"Prox: avg=(\d+) thresh=(\d+) detected=(\w+) samples=(\d+)")
RESET = re.compile(r"Proximity: Algorithm reset \(cal=\d+, thresh=\d+, hyst=(\d+), trim=-?\d+, eff_thresh=(\d+)\)")
PUBLISHED = re.compile(r"Proximity: (?:UpdateBooleanComponent\((true|false)\)|SetBoolProperty fallback \((true|false)\))")
DECIDED = re.compile(r"Proximity: person_detected changed to (true|false) \(avg=(\d+)")
CONFIG = re.compile(r"Config: report_rate_ms=(\d+), log_verbosity=\d+, moving_avg_length=(\d+)")
# Without a trace's action list, these lines stand for the scripted actions.
LOGGED_ACTIONS = [
    (re.compile(r"IPD Event: VREvent_IpdChanged ipd=[\d.]+m \(([\d.]+)mm\)"), "IPD event {0} mm"),
    (re.compile(r"IPD: Settings slider changed to ([\d.]+)mm"), "slider {0} mm"),
    (re.compile(r"Proximity: manual override cleared"), "proximity auto"),
]
LOG_LINE = re.compile(r"\[frame +(\d+)\] (.*)")

COLORS = {
    "raw": "#8c8c8c",
    "avg": "#1f5fbf",
    "thresh": "#333333",
    "band": "#f2a03d",
    "on": "#2e9d4f",
    "manual": "#d9622b",
    "marker": "#9a9a9a",
    "grid": "#e6e6e6",
    "axis": "#444444",
}


class Run:
    def __init__(self):
        self.raw = []        # (frame, reading)
        self.avg = []        # (frame, average), one per frame
        self.resets = []     # (frame, eff_thresh, hyst)
        self.presence = []   # (frame, bool) as published to the runtime
        self.decisions = []  # (frame, bool, average) as the detector decided
        self.actions = []    # (frame, label)
        self.manual = []     # (start frame, end frame)
        self.frames = 0
        self.config = None   # (report_rate_ms, moving_avg_length)


def read_log_lines(run, lines, with_published, with_actions):
    for frame, text in lines:
        run.frames = max(run.frames, frame)
        m = RAW.search(text)
        if m:
            run.raw.append((frame, int(m.group(1))))
            continue
        m = AVG.search(text)
        if m:
            run.avg.append((frame, int(m.group(1))))
            continue
        m = RESET.search(text)
        if m:
            run.resets.append((frame, int(m.group(2)), int(m.group(1))))
            continue
        m = DECIDED.search(text)
        if m:
            run.decisions.append((frame, m.group(1) == "true", int(m.group(2))))
            continue
        m = CONFIG.search(text)
        if m:
            run.config = (int(m.group(1)), int(m.group(2)))
            continue
        if with_published:
            m = PUBLISHED.search(text)
            if m:
                run.presence.append((frame, (m.group(1) or m.group(2)) == "true"))
                continue
        if with_actions:
            for pattern, label in LOGGED_ACTIONS:
                m = pattern.search(text)
                if m:
                    run.actions.append((frame, label.format(*m.groups())))


def action_label(text):
    words = text.split()
    if words[:1] == ["ipd_event"] and len(words) > 1:
        try:
            return "IPD event %.1f mm" % (float(words[1]) * 1000.0)
        except ValueError:
            pass
    if words[:1] == ["setting"] and len(words) >= 4:
        return "setting %s %s" % (words[2], " ".join(words[3:]))
    if words[:1] == ["run"]:
        command = " ".join(words[1:])
        command = re.sub(r"^\S*zelvan-ctl\S*\s+(--\S+\s+)*", "ctl ", command)
        return command if len(command) <= 26 else command[:25] + "…"
    return text if len(text) <= 26 else text[:25] + "…"


def read_trace(path):
    with open(path, encoding="utf-8") as f:
        trace = json.load(f)
    run = Run()
    lines = [(int(e.get("frame", 0)), e.get("text", "")) for e in trace.get("log", [])]
    calls = trace.get("calls", [])
    components = {c.get("handle") for c in trace.get("components", []) if c.get("path") == "/proximity"}
    updates = [c for c in calls if c.get("call") == "UpdateBooleanComponent"
               and (not components or c.get("handle") in components)]
    # Without the component (the property fallback) the log says what was sent.
    read_log_lines(run, lines, with_published=not updates, with_actions=False)
    for c in updates:
        run.presence.append((int(c.get("frame", 0)), bool(c.get("value"))))
    manual_from = None
    for a in trace.get("actions", []):
        frame, text = int(a.get("frame", 0)), a.get("text", "")
        run.actions.append((frame, action_label(text)))
        if re.search(r"zelvan-ctl.*\bproximity (on|off)\b", text):
            manual_from = frame if manual_from is None else manual_from
        elif re.search(r"zelvan-ctl.*\bproximity auto\b", text) and manual_from is not None:
            run.manual.append((manual_from, frame))
            manual_from = None
    run.frames = max(run.frames, int(trace.get("frames") or 0))
    if manual_from is not None:
        run.manual.append((manual_from, run.frames))
    return run


def read_log(path):
    run = Run()
    lines = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = LOG_LINE.search(line)
            if m:
                lines.append((int(m.group(1)), m.group(2)))
    read_log_lines(run, lines, with_published=True, with_actions=True)
    return run


def nice_step(span, target):
    raw = span / max(target, 1)
    magnitude = 10 ** math.floor(math.log10(raw)) if raw > 0 else 1
    for factor in (1, 2, 2.5, 5, 10):
        if raw <= factor * magnitude:
            return factor * magnitude
    return 10 * magnitude


def fmt(v):
    return ("%.2f" % v).rstrip("0").rstrip(".")


def step_points(samples, x_of, y_of, x_end):
    """A step line: each value holds until the next one."""
    points = []
    for i, (frame, value) in enumerate(samples):
        x, y = x_of(frame), y_of(value)
        if points:
            points.append((x, points[-1][1]))
        points.append((x, y))
    if points:
        points.append((x_end, points[-1][1]))
    # Drop points that change nothing, so long flat stretches stay small.
    out = []
    for p in points:
        if len(out) >= 2 and (out[-1][1] == p[1] == out[-2][1] or out[-1][0] == p[0] == out[-2][0]):
            out[-1] = p
        else:
            out.append(p)
    return out


def runs_of_frames(samples, gap=3):
    """Splits (frame, value) samples where frames are missing."""
    pieces = []
    for frame, value in samples:
        if pieces and frame - pieces[-1][-1][0] <= gap:
            pieces[-1].append((frame, value))
        else:
            pieces.append([(frame, value)])
    return pieces


def polyline(points, **attrs):
    text = " ".join("%s,%s" % (fmt(x), fmt(y)) for x, y in points)
    extra = " ".join('%s="%s"' % (k.replace("_", "-"), v) for k, v in attrs.items())
    return '<polyline fill="none" points="%s" %s/>' % (text, extra)


def intervals(changes, end):
    """(start, stop) frames where the published presence was true."""
    out, since = [], None
    for frame, value in changes:
        if value and since is None:
            since = frame
        elif not value and since is not None:
            out.append((since, frame))
            since = None
    if since is not None:
        out.append((since, end))
    return out


def subtract(spans, cuts):
    """The parts of `spans` outside every span of `cuts`."""
    out = []
    for a, b in spans:
        pieces = [(a, b)]
        for c, d in cuts:
            pieces = [p for x, y in pieces for p in ((x, min(y, c)), (max(x, d), y)) if p[1] > p[0]]
        out.extend(pieces)
    return out


def render(run, rate, title):
    width, height = 1200, 660
    left, right = 78, 30
    top = 118
    main_h = 350
    gap = 34
    pres_h = 70
    bottom_axis = top + main_h + gap + pres_h
    plot_w = width - left - right

    end_frame = max(run.frames, max((f for f, _ in run.raw), default=0), 1)
    t_end = end_frame / rate
    x_of = lambda frame: left + plot_w * (frame / rate) / t_end  # noqa: E731

    peaks = [v for _, v in run.raw] + [v for _, v in run.avg] + [e + h for _, e, h in run.resets] + [100]
    y_step = nice_step(max(peaks) * 1.08, 6)
    y_max = y_step * math.ceil(max(peaks) * 1.08 / y_step)
    y_of = lambda v: top + main_h - main_h * min(v, y_max) / y_max  # noqa: E731
    p_top = top + main_h + gap
    p_of = lambda on: p_top + (8 if on else pres_h)  # noqa: E731

    svg = []
    add = svg.append
    add('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
        'font-family="DejaVu Sans, Helvetica, Arial, sans-serif" font-size="13">' % (width, height, width, height))
    add('<rect width="100%" height="100%" fill="#ffffff"/>')
    add('<text x="%d" y="30" font-size="19" font-weight="bold" fill="#222">%s</text>' % (left, html.escape(title)))
    subtitle = []
    if run.config:
        subtitle.append("report_rate_ms %d, moving_avg_length %d" % run.config)
    if run.resets:
        _, eff, hyst = run.resets[-1]
        subtitle.append("eff_thresh %d, hysteresis %d: on at an average of %d, off at %d"
                        % (eff, hyst, eff + hyst, max(eff - hyst, 0)))
    subtitle.append("%d readings, %d presence changes" % (len(run.raw), len(run.presence)))
    add('<text x="%d" y="52" fill="#555">%s</text>' % (left, html.escape("; ".join(subtitle))))

    # Legend, in one row above the plot.
    legend = [
        ("raw", "raw reading"),
        ("avg", "moving average"),
        ("thresh", "eff_thresh"),
        ("band", "switching band (eff_thresh ± hyst)"),
        ("on", "presence on"),
    ]
    if run.manual:
        legend.append(("manual", "forced by zelvan-ctl"))
    lx = left
    for key, label in legend:
        y = 78
        if key == "raw":
            add('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="1"/>' % (lx, y, lx + 22, y, COLORS[key]))
            add('<circle cx="%d" cy="%d" r="2.6" fill="%s"/>' % (lx + 11, y, COLORS[key]))
        elif key == "avg":
            add('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="2.4"/>' % (lx, y, lx + 22, y, COLORS[key]))
        elif key == "thresh":
            add('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="1.4" stroke-dasharray="6 4"/>'
                % (lx, y, lx + 22, y, COLORS[key]))
        elif key == "band":
            add('<rect x="%d" y="%d" width="22" height="12" fill="%s" fill-opacity="0.28"/>' % (lx, y - 6, COLORS[key]))
        elif key == "on":
            add('<rect x="%d" y="%d" width="22" height="12" fill="%s" fill-opacity="0.16"/>' % (lx, y - 6, COLORS[key]))
        else:
            add('<rect x="%d" y="%d" width="22" height="12" fill="%s" fill-opacity="0.35"/>' % (lx, y - 6, COLORS[key]))
        add('<text x="%d" y="%d" fill="#333">%s</text>' % (lx + 28, y + 4.5, html.escape(label)))
        lx += 28 + 7.4 * len(label) + 26

    # Forced presence gets its own colour instead of the sensor's green.
    on_spans = subtract(intervals(run.presence, end_frame), run.manual)

    # Readings panel: presence shading, grid, band, readings.
    for a, b in on_spans:
        add('<rect x="%s" y="%d" width="%s" height="%d" fill="%s" fill-opacity="0.10"/>'
            % (fmt(x_of(a)), top, fmt(max(x_of(b) - x_of(a), 0.5)), main_h, COLORS["on"]))
    for a, b in run.manual:
        add('<rect x="%s" y="%d" width="%s" height="%d" fill="%s" fill-opacity="0.12"/>'
            % (fmt(x_of(a)), top, fmt(max(x_of(b) - x_of(a), 0.5)), main_h, COLORS["manual"]))
    v = 0
    while v <= y_max + 1e-9:
        y = y_of(v)
        add('<line x1="%d" y1="%s" x2="%d" y2="%s" stroke="%s"/>' % (left, fmt(y), left + plot_w, fmt(y), COLORS["grid"]))
        add('<text x="%d" y="%s" text-anchor="end" fill="%s">%s</text>' % (left - 8, fmt(y + 4.5), COLORS["axis"], fmt(v)))
        v += y_step
    x_step = nice_step(t_end, 14)
    t = 0.0
    while t <= t_end + 1e-9:
        x = left + plot_w * t / t_end
        add('<line x1="%s" y1="%d" x2="%s" y2="%d" stroke="%s"/>' % (fmt(x), top, fmt(x), top + main_h, COLORS["grid"]))
        add('<line x1="%s" y1="%d" x2="%s" y2="%d" stroke="%s"/>' % (fmt(x), p_top, fmt(x), p_top + pres_h, COLORS["grid"]))
        add('<line x1="%s" y1="%d" x2="%s" y2="%d" stroke="%s"/>'
            % (fmt(x), bottom_axis, fmt(x), bottom_axis + 5, COLORS["axis"]))
        add('<text x="%s" y="%d" text-anchor="middle" fill="%s">%s</text>'
            % (fmt(x), bottom_axis + 19, COLORS["axis"], fmt(t)))
        t += x_step

    for i, (frame, eff, hyst) in enumerate(run.resets):
        stop = run.resets[i + 1][0] if i + 1 < len(run.resets) else end_frame
        x0, x1 = x_of(frame), x_of(stop)
        lo, hi = max(eff - hyst, 0), eff + hyst
        add('<rect x="%s" y="%s" width="%s" height="%s" fill="%s" fill-opacity="0.28"/>'
            % (fmt(x0), fmt(y_of(hi)), fmt(max(x1 - x0, 0.5)), fmt(y_of(lo) - y_of(hi)), COLORS["band"]))
        add('<line x1="%s" y1="%s" x2="%s" y2="%s" stroke="%s" stroke-width="1.4" stroke-dasharray="6 4"/>'
            % (fmt(x0), fmt(y_of(eff)), fmt(x1), fmt(y_of(eff)), COLORS["thresh"]))

    if run.raw:
        add(polyline([(x_of(f), y_of(v)) for f, v in run.raw], stroke=COLORS["raw"], stroke_width="1",
                     stroke_opacity="0.7"))
        for f, v in run.raw:
            add('<circle cx="%s" cy="%s" r="1.9" fill="%s"/>' % (fmt(x_of(f)), fmt(y_of(v)), COLORS["raw"]))
    # The driver logs the average once a frame, except while presence is
    # forced: the line has a gap there rather than a made-up value.
    pieces = runs_of_frames(run.avg)
    for i, piece in enumerate(pieces):
        stop = piece[-1][0] + 1 if i + 1 < len(pieces) else end_frame
        add(polyline(step_points(piece, x_of, y_of, x_of(stop)), stroke=COLORS["avg"], stroke_width="2.2",
                     stroke_linejoin="round"))
    # Where the detector switched: on the average line.
    for frame, value, level in run.decisions:
        x, y = x_of(frame), y_of(level)
        shape = "%s,%s %s,%s %s,%s" % ((fmt(x - 5), fmt(y + 4), fmt(x + 5), fmt(y + 4), fmt(x), fmt(y - 5)) if value
                                       else (fmt(x - 5), fmt(y - 4), fmt(x + 5), fmt(y - 4), fmt(x), fmt(y + 5)))
        add('<polygon points="%s" fill="%s" stroke="#fff" stroke-width="0.8"/>' % (shape, COLORS["avg"]))

    add('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="%s"/>' % (left, top, plot_w, main_h, COLORS["axis"]))
    add('<text transform="translate(22 %d) rotate(-90)" text-anchor="middle" fill="#333">proximity reading</text>'
        % (top + main_h / 2))

    # Presence panel.
    for a, b in run.manual:
        add('<rect x="%s" y="%d" width="%s" height="%d" fill="%s" fill-opacity="0.35"/>'
            % (fmt(x_of(a)), p_top, fmt(max(x_of(b) - x_of(a), 0.5)), pres_h, COLORS["manual"]))
    for a, b in on_spans:
        add('<rect x="%s" y="%d" width="%s" height="%d" fill="%s" fill-opacity="0.16"/>'
            % (fmt(x_of(a)), p_top + 8, fmt(max(x_of(b) - x_of(a), 0.5)), pres_h - 8, COLORS["on"]))
    changes = [(0, False)] + run.presence
    add(polyline(step_points(changes, x_of, p_of, x_of(end_frame)), stroke=COLORS["on"], stroke_width="2.4"))
    add('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="%s"/>' % (left, p_top, plot_w, pres_h, COLORS["axis"]))
    add('<text x="%d" y="%d" text-anchor="end" fill="%s">on head</text>' % (left - 8, p_of(True) + 4.5, COLORS["axis"]))
    add('<text x="%d" y="%d" text-anchor="end" fill="%s">off</text>' % (left - 8, p_of(False) + 1, COLORS["axis"]))
    add('<text x="%d" y="%d" fill="#333" font-weight="bold">published presence (/proximity)</text>' % (left + 6, p_top - 8))
    add('<text x="%d" y="%d" text-anchor="middle" fill="#333">time (s) = frame / %s</text>'
        % (left + plot_w / 2, bottom_axis + 40, fmt(rate)))

    # Scripted actions: a dotted line through both panels, each label in the
    # first row where it does not run into the one before.
    row_ends = [-1e9, -1e9, -1e9]
    for frame, label in run.actions:
        x = x_of(frame)
        label_w = 6.6 * len(label) + 8
        anchor = "end" if x + label_w > left + plot_w else "start"
        x0, x1 = (x - label_w, x) if anchor == "end" else (x, x + label_w)
        row = next((r for r, e in enumerate(row_ends) if x0 > e), min(range(3), key=lambda r: row_ends[r]))
        row_ends[row] = x1
        y_label = top + 15 + 15 * row
        add('<line x1="%s" y1="%d" x2="%s" y2="%d" stroke="%s" stroke-dasharray="2 3"/>'
            % (fmt(x), y_label + 3, fmt(x), p_top + pres_h, COLORS["marker"]))
        dx = -3 if anchor == "end" else 3
        add('<text x="%s" y="%d" font-size="11.5" text-anchor="%s" fill="#555">%s</text>'
            % (fmt(x + dx), y_label, anchor, html.escape(label)))

    add("</svg>")
    return "\n".join(svg) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("input", help="trace.json from --trace, or a driver log from --log")
    parser.add_argument("-o", "--output", default="presence.svg", help="SVG file to write (default presence.svg)")
    parser.add_argument("--rate", type=float, default=90.0, help="frames per second of the run (default 90)")
    parser.add_argument("--title", default="Head presence in zelvan-host-sim", help="the plot's title")
    args = parser.parse_args()
    if args.rate <= 0:
        parser.error("--rate must be positive")

    try:
        with open(args.input, encoding="utf-8", errors="replace") as f:
            is_json = f.read(1) == "{"
        run = read_trace(args.input) if is_json else read_log(args.input)
    except (OSError, ValueError) as e:
        print("plot_presence: %s: %s" % (args.input, e), file=sys.stderr)
        return 1
    if not run.raw and not run.avg:
        print("plot_presence: %s has no readings: log_verbosity 1 is needed" % args.input, file=sys.stderr)
        return 1
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(render(run, args.rate, args.title))
    ons = sum(1 for _, v in run.presence if v)
    print("%s: %d readings over %.1f s, presence on %d times, off %d times"
          % (args.output, len(run.raw), run.frames / args.rate, ons, len(run.presence) - ons))
    return 0


if __name__ == "__main__":
    sys.exit(main())

// The 30-second trace: the readings the page follows through /api/samples,
// their moving average and the switching band, drawn as SVG.
'use strict';

const TRACE_SPAN_MS = 30000;
const SVG_NS = 'http://www.w3.org/2000/svg';

class Trace {
	constructor(svg) {
		this.svg = svg;
		this.readings = []; // {n, raw, ms}; a null entry marks lost readings
		this.firstDrawnMs = null;
	}

	// Readings that follow the ones held; `lost` readings in between are a gap.
	add(samples, lost) {
		if (lost > 0 && this.readings.length > 0)
			this.readings.push(null);
		for (const [n, raw, ms] of samples) {
			const last = this.lastReading();
			// The driver's clock going back is a restart: what was drawn no longer joins on.
			if (last && ms < last.ms)
				this.readings = [];
			this.readings.push({n, raw, ms});
		}
		const newest = this.lastReading();
		if (newest) {
			const from = newest.ms - TRACE_SPAN_MS;
			while (this.readings.length && (this.readings[0] === null || this.readings[0].ms < from))
				this.readings.shift();
		}
	}

	clear() {
		this.readings = [];
	}

	lastReading() {
		for (let i = this.readings.length - 1; i >= 0; --i)
			if (this.readings[i])
				return this.readings[i];
		return null;
	}

	count() {
		return this.readings.filter(r => r).length;
	}

	// The mean of the last `length` readings at each reading, as the detector
	// keeps it; a gap starts the window over.
	averages(length) {
		const out = [];
		let window = [];
		for (const r of this.readings) {
			if (!r) {
				window = [];
				out.push(null);
				continue;
			}
			window.push(r.raw);
			if (window.length > length)
				window.shift();
			out.push({ms: r.ms, value: window.reduce((a, b) => a + b, 0) / window.length});
		}
		return out;
	}

	// `band`: {thresh, hyst} from the status, or null while unknown.
	draw(avgLength, band) {
		const svg = this.svg;
		while (svg.firstChild)
			svg.removeChild(svg.firstChild);
		const box = {left: 70, right: 785, top: 15, bottom: 255};
		const newest = this.lastReading();
		const endMs = newest ? newest.ms : 0;
		const avg = this.averages(Math.max(1, avgLength || 1));
		let low = Infinity;
		let high = -Infinity;
		const widen = v => {
			low = Math.min(low, v);
			high = Math.max(high, v);
		};
		this.readings.forEach(r => r && widen(r.raw));
		if (band) {
			widen(band.thresh - band.hyst);
			widen(band.thresh + band.hyst);
		}
		if (!isFinite(low)) {
			low = 0;
			high = 4000;
		}
		const pad = Math.max(50, (high - low) * 0.08);
		low = Math.max(0, low - pad);
		high += pad;
		const x = ms => box.left + (1 - (endMs - ms) / TRACE_SPAN_MS) * (box.right - box.left);
		const y = v => box.bottom - (v - low) / (high - low) * (box.bottom - box.top);

		if (band) {
			const top = y(band.thresh + band.hyst);
			this.add_('rect', {x: box.left, y: top, width: box.right - box.left,
				height: y(band.thresh - band.hyst) - top, class: 'band'});
			this.add_('line', {x1: box.left, x2: box.right, y1: y(band.thresh), y2: y(band.thresh), class: 'thresh'});
		}
		this.axes(box, low, high, y);
		this.lines(this.readings.map(r => r && {ms: r.ms, value: r.raw}), x, y, 'raw', 'trace-raw');
		this.lines(avg, x, y, 'avg', 'trace-avg');
		if (this.firstDrawnMs === null && this.count() >= 2) {
			this.firstDrawnMs = Math.round(performance.now());
			svg.dataset.firstDrawnMs = String(this.firstDrawnMs);
		}
		svg.dataset.readings = String(this.count());
	}

	axes(box, low, high, y) {
		this.add_('line', {x1: box.left, x2: box.right, y1: box.bottom, y2: box.bottom, class: 'axis'});
		this.add_('line', {x1: box.left, x2: box.left, y1: box.top, y2: box.bottom, class: 'axis'});
		for (let s = 0; s <= 30; s += 5) {
			const px = box.right - s / 30 * (box.right - box.left);
			this.add_('line', {x1: px, x2: px, y1: box.bottom, y2: box.bottom + 5, class: 'axis'});
			this.text_(s === 0 ? 'now' : '−' + s + ' s', {x: px, y: box.bottom + 20, class: 'tick middle'});
		}
		const step = niceStep((high - low) / 5);
		for (let v = Math.ceil(low / step) * step; v <= high; v += step) {
			this.add_('line', {x1: box.left - 5, x2: box.right, y1: y(v), y2: y(v), class: 'grid'});
			this.text_(String(Math.round(v)), {x: box.left - 8, y: y(v) + 4, class: 'tick end'});
		}
		this.text_('time (seconds before now)', {x: (box.left + box.right) / 2, y: box.bottom + 40, class: 'label middle'});
		this.text_('reading', {x: 15, y: (box.top + box.bottom) / 2, class: 'label middle',
			transform: 'rotate(-90 15 ' + (box.top + box.bottom) / 2 + ')'});
	}

	// One polyline per stretch without a gap; the first gets `id`.
	lines(points, x, y, cls, id) {
		let stretch = [];
		let first = true;
		const flush = () => {
			if (stretch.length) {
				const line = this.add_('polyline', {points: stretch.join(' '), class: cls});
				if (first)
					line.id = id;
				first = false;
			}
			stretch = [];
		};
		for (const p of points) {
			if (!p) {
				flush();
				continue;
			}
			stretch.push(x(p.ms).toFixed(1) + ',' + y(p.value).toFixed(1));
		}
		flush();
	}

	add_(name, attributes) {
		const element = document.createElementNS(SVG_NS, name);
		for (const [key, value] of Object.entries(attributes))
			element.setAttribute(key, String(value));
		this.svg.appendChild(element);
		return element;
	}

	text_(text, attributes) {
		this.add_('text', attributes).textContent = text;
	}
}

// 1, 2 or 5 times a power of ten, at least `rough`.
function niceStep(rough) {
	const power = Math.pow(10, Math.floor(Math.log10(Math.max(rough, 1e-9))));
	for (const m of [1, 2, 5, 10])
		if (m * power >= rough)
			return m * power;
	return 10 * power;
}

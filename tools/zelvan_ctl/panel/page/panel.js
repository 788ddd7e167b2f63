// The panel's page: the driver's status, presence and its trace, the IPD,
// the tuning road, the doctor, the bug report and the kept copies, each a
// call to the panel's API. Every text from the server goes in through
// textContent.
'use strict';

const $ = id => document.getElementById(id);
let ended = false;
let lastStatus = null;
const timers = [];

// ---- Talking to the panel -------------------------------------------------

class Ended extends Error {}

// {ok, status, data} for JSON answers, {ok: false, status, text} for a
// refusal; throws Ended once the server has gone.
async function api(method, path, body) {
	if (ended)
		throw new Ended();
	const options = {method, headers: {}};
	if (method === 'POST') {
		options.headers['Content-Type'] = 'application/json';
		options.body = JSON.stringify(body || {});
	}
	let response;
	try {
		response = await fetch(path, options);
	} catch (e) {
		end();
		throw new Ended();
	}
	if (!response.ok)
		return {ok: false, status: response.status, text: (await response.text()).trim()};
	return {ok: true, status: response.status, data: await response.json()};
}

function end() {
	if (ended)
		return;
	ended = true;
	timers.forEach(t => clearInterval(t));
	$('ended').hidden = false;
	document.querySelectorAll('button, input, select').forEach(e => (e.disabled = true));
}

function every(ms, work) {
	let busy = false;
	const tick = async () => {
		if (busy || ended)
			return;
		busy = true;
		try {
			await work();
		} catch (e) {
			if (!(e instanceof Ended))
				console.error(e);
		} finally {
			busy = false;
		}
	};
	tick();
	timers.push(setInterval(tick, ms));
}

// A button's work, with the button off while it runs and refusals said in
// `out`.
function onClick(id, work) {
	$(id).addEventListener('click', async () => {
		const button = $(id);
		button.disabled = true;
		try {
			await work();
		} catch (e) {
			if (!(e instanceof Ended))
				console.error(e);
		} finally {
			if (!ended)
				button.disabled = false;
		}
	});
}

function say(id, text, state) {
	$(id).textContent = text;
	if (state !== undefined)
		$(id).dataset.state = state;
}

function clear(element) {
	while (element.firstChild)
		element.removeChild(element.firstChild);
}

function item(list, text, cls) {
	const li = document.createElement('li');
	li.textContent = text;
	if (cls)
		li.className = cls;
	list.appendChild(li);
	return li;
}

function refusal(reply) {
	return 'The panel refused: ' + (reply.text || reply.status);
}

// ---- The driver's status --------------------------------------------------

function value(s, key, fallback) {
	return s && s[key] !== undefined ? String(s[key]) : fallback;
}

function showDriver(reply) {
	const s = reply.status;
	if (reply.reachable) {
		say('driver-state', 'The driver is running and answers.', 'reachable');
		$('driver-why').hidden = true;
	} else {
		say('driver-state', 'The driver does not answer.', 'unreachable');
		$('driver-why').textContent = reply.why;
		$('driver-why').hidden = false;
	}
	const hid = value(s, 'hid', '–');
	$('hid').textContent = hid === 'open' ? 'connected' : hid.replace(/_/g, ' ');
	$('model').textContent = reply.model || (reply.reachable ? 'unknown' : '–');
	$('calibration').textContent = s && s.cal !== undefined
		? 'cal ' + s.cal + ', thresh ' + s.thresh + ', hyst ' + s.hyst + ', trim ' + s.trim
		: 'not read yet (the sensor is not connected)';
	$('report-rate').textContent = value(s, 'report_rate_ms', '–') + (s && s.report_rate_ms !== undefined ? ' ms' : '');
	$('avg-length').textContent = value(s, 'moving_avg_length', '–') + (s && s.moving_avg_length !== undefined ? ' readings' : '');
	$('offset').textContent = s ? value(s, 'threshold_offset', '0') : '–';
	$('verbosity').textContent = value(s, 'log_verbosity', '–');
	$('ipd-now').textContent = value(s, 'ipd', '–').replace(/mm$/, ' mm');
}

// The time left of a hold, counted down between two answers of the driver.
let holdEnds = null;

function showPresence(reply) {
	const s = reply.status;
	const box = $('presence');
	box.classList.remove('on', 'off', 'unknown');
	if (!s || s.proximity === undefined) {
		box.classList.add('unknown');
		box.textContent = '–';
		box.dataset.on = '';
		box.dataset.source = '';
		$('presence-source').textContent = reply.reachable ? '' : 'No driver to ask.';
		holdEnds = null;
		showHold();
		return;
	}
	const on = s.proximity === true;
	box.classList.add(on ? 'on' : 'off');
	box.textContent = on ? 'ON' : 'OFF';
	box.dataset.on = String(on);
	const held = s.hold_left_s !== undefined;
	const source = s.source === 'manual' ? (held ? 'held' : 'forced') : 'sensor';
	box.dataset.source = source;
	holdEnds = held ? Date.now() + s.hold_left_s * 1000 : null;
	showHold();
	if (source === 'sensor')
		$('presence-source').textContent = 'The sensor decides.';
	else if (source === 'forced')
		$('presence-source').textContent = 'Forced ' + (on ? 'on' : 'off') + ' until changed.';
}

function clock(seconds) {
	const h = Math.floor(seconds / 3600);
	const m = Math.floor(seconds / 60) % 60;
	const s = seconds % 60;
	const two = n => String(n).padStart(2, '0');
	return h > 0 ? h + ':' + two(m) + ':' + two(s) : m + ':' + two(s);
}

function showHold() {
	if (holdEnds === null) {
		$('hold-left').hidden = true;
		return;
	}
	const left = Math.max(0, Math.ceil((holdEnds - Date.now()) / 1000));
	const on = $('presence').dataset.on === 'true';
	$('presence-source').textContent = 'Held ' + (on ? 'on' : 'off') + ': for ' + clock(left) + ' more.';
	$('hold-left').textContent = clock(left) + ' left';
	$('hold-left').hidden = false;
}

function showIpdSection(reply) {
	const model = reply.model;
	$('ipd-control').hidden = model !== 'Zelvan 2';
	$('ipd-fixed').hidden = model !== 'Zelvan 1';
	$('ipd-unknown').hidden = model === 'Zelvan 1' || model === 'Zelvan 2';
	const slider = $('ipd-slider');
	const mm = reply.status && /^([0-9.]+)mm$/.exec(String(reply.status.ipd || ''));
	// Left alone while a hand is on it.
	if (mm && !ipdTouched && document.activeElement !== slider) {
		slider.value = mm[1];
		$('ipd-value').textContent = Number(slider.value).toFixed(1) + ' mm';
	}
}

function showMend(reply) {
	const running = reply.vrserver_running === true;
	$('mend-show').disabled = running || mendBusy;
	$('mend-why').textContent = running
		? 'SteamVR is running: close it first, the mend changes files SteamVR reads at its start.'
		: '';
}

async function pollStatus() {
	const reply = await api('GET', '/api/status');
	if (!reply.ok) {
		say('driver-state', refusal(reply), 'refused');
		return;
	}
	lastStatus = reply.data;
	showDriver(lastStatus);
	showPresence(lastStatus);
	showIpdSection(lastStatus);
	showMend(lastStatus);
	if (lastStatus.record && lastStatus.record.running && !recordFollowing)
		followRecording(false);
}

// ---- The trace ------------------------------------------------------------

const trace = new Trace($('trace'));
let samplesAfter = 0;

async function pollSamples() {
	const reply = await api('GET', '/api/samples?after=' + samplesAfter);
	if (!reply.ok) {
		$('trace-info').textContent = refusal(reply);
		return;
	}
	const r = reply.data;
	if (r.error !== undefined) {
		$('trace-info').textContent = r.error;
		return;
	}
	// Numbers that went back: the driver started again, and counts from the start.
	if (r.next < samplesAfter) {
		trace.clear();
		samplesAfter = 0;
		return;
	}
	trace.add(r.samples, samplesAfter > 0 ? r.lost : 0);
	samplesAfter = r.next;
	const s = lastStatus && lastStatus.status;
	const band = s && s.eff_thresh !== undefined && s.hyst !== undefined ? {thresh: s.eff_thresh, hyst: s.hyst} : null;
	trace.draw(s ? s.moving_avg_length : 1, band);
	const lost = samplesAfter > 0 && r.lost > 0 ? ' (' + r.lost + ' readings were no longer kept)' : '';
	$('trace-info').textContent = trace.count() + ' readings in the last 30 s' + lost +
		(band ? '; presence turns on at ' + (band.thresh + band.hyst) + ' and off at ' + (band.thresh - band.hyst) : '');
}

// ---- Presence -------------------------------------------------------------

function holdWord() {
	const choice = $('hold-choice').value;
	return choice === 'other' ? $('hold-free').value.trim() : choice;
}

// Keeping for the next runs and holding for a time exclude each other, as
// on the command line.
function exclusive() {
	const choice = $('hold-choice').value;
	$('hold-free').hidden = choice !== 'other';
	$('hold-choice').disabled = $('persist').checked;
	$('persist').disabled = choice !== '';
}

async function presence(mode) {
	const body = {mode};
	const hold = holdWord();
	if ($('persist').checked)
		body.persist = true;
	else if (hold !== '' && mode !== 'auto')
		body.for = hold;
	if ($('hold-choice').value === 'other' && hold === '' && mode !== 'auto') {
		say('presence-reply', 'Write how long: 90s, 10m or 2h.', 'failed');
		return;
	}
	const reply = await api('POST', '/api/presence', body);
	if (!reply.ok)
		say('presence-reply', refusal(reply), 'failed');
	else
		say('presence-reply', reply.data.ok ? 'Done.' : reply.data.reply, reply.data.ok ? 'ok' : 'failed');
	await pollStatus();
}

// ---- IPD ------------------------------------------------------------------

let ipdTouched = false;

async function applyIpd() {
	const mm = Math.round(Number($('ipd-slider').value) * 10) / 10;
	const reply = await api('POST', '/api/ipd', {mm});
	ipdTouched = false;
	if (!reply.ok)
		say('ipd-reply', refusal(reply), 'failed');
	else if (!reply.data.ok)
		say('ipd-reply', reply.data.reply, 'failed');
	else
		say('ipd-reply', 'Set to ' + mm.toFixed(1) + ' mm; the headset keeps it when SteamVR closes.', 'ok');
	await pollStatus();
}

// ---- The guided recording -------------------------------------------------

let recordFollowing = false;
let recordAfter = null;
let phaseTimer = null;

function showEvent(e) {
	const prompt = $('record-prompt');
	switch (e.kind) {
	case 'guided':
		$('record-box').hidden = false;
		say('record-state', 'Recording: ' + e.rounds + ' rounds of ' + e.seconds + ' s off and ' + e.seconds + ' s on.', 'running');
		break;
	case 'round':
		$('record-round').textContent = 'Round ' + e.round + ' of ' + e.rounds;
		prompt.textContent = e.on ? 'Put it on' : 'Take the headset off and hold it in your hand';
		prompt.dataset.on = String(e.on);
		prompt.dataset.step = String(Number(prompt.dataset.step) + 1);
		$('record-count').textContent = '';
		$('record-progress').value = 0;
		break;
	case 'count_down':
		$('record-count').textContent = 'Starting in ' + e.left + '…';
		break;
	case 'now':
		$('record-count').textContent = e.on ? 'Now: keep it on' : 'Now: keep it off';
		startPhase(e.seconds);
		break;
	case 'phase_end':
		stopPhase(1);
		$('record-count').textContent = e.readings + ' readings';
		break;
	case 'warning':
		item($('record-warnings'), e.text, 'warn');
		break;
	case 'failed':
		recordEnded();
		say('record-state', 'The recording failed: ' + e.text, 'failed');
		break;
	case 'cancelled':
		recordEnded();
		say('record-state', 'The recording was cancelled; nothing was kept.', 'cancelled');
		break;
	case 'done':
		recordEnded();
		say('record-state', 'Saved ' + e.readings + ' readings' + (e.lost ? ' (' + e.lost + ' lost)' : '') + ' in ' +
			inFolder(recordingsFolder, e.file) +
			': a file zelvan-ctl tune takes.', 'done');
		refreshRecordings();
		tune(e.file);
		break;
	}
}

function startPhase(seconds) {
	stopPhase(0);
	const start = Date.now();
	phaseTimer = setInterval(() => {
		$('record-progress').value = Math.min(1, (Date.now() - start) / (seconds * 1000));
	}, 100);
}

function stopPhase(at) {
	if (phaseTimer !== null)
		clearInterval(phaseTimer);
	phaseTimer = null;
	$('record-progress').value = at;
}

function recordEnded() {
	stopPhase(0);
	$('record-box').hidden = true;
	$('record-start').disabled = ended;
	$('record-prompt').dataset.on = '';
}

// Follows the latest recording's events until its last one. `fresh`: one
// just started here, whose events start over.
async function followRecording(fresh) {
	recordFollowing = true;
	recordAfter = null;
	$('record-start').disabled = true;
	if (fresh) {
		$('record-prompt').dataset.step = '0';
		clear($('record-warnings'));
	}
	try {
		for (;;) {
			const reply = await api('GET', '/api/record' + (recordAfter === null ? '' : '?after=' + recordAfter));
			if (!reply.ok) {
				say('record-state', refusal(reply), 'failed');
				recordEnded();
				return;
			}
			const r = reply.data;
			if (recordAfter !== null && r.next < recordAfter) {
				recordAfter = null; // another recording began: its events from the start
				continue;
			}
			r.events.forEach(showEvent);
			recordAfter = r.next;
			if (!r.running) {
				recordEnded();
				return;
			}
			await new Promise(resolve => setTimeout(resolve, 250));
		}
	} catch (e) {
		if (!(e instanceof Ended))
			throw e;
	} finally {
		recordFollowing = false;
	}
}

async function startRecording() {
	const body = {seconds: Number($('record-seconds').value), count_down: Number($('record-count-down').value)};
	$('tune-result').hidden = true;
	say('record-state', 'Starting…', 'starting');
	const reply = await api('POST', '/api/record', body);
	if (!reply.ok) {
		say('record-state', reply.status === 409 ? 'A recording is running already.' : refusal(reply), 'failed');
		return;
	}
	recordingsFolder = reply.data.folder;
	say('record-state', 'Recording into ' + inFolder(reply.data.folder, reply.data.file), 'running');
	await followRecording(true);
}

// ---- Tuning ---------------------------------------------------------------

let recordingsFolder = '';

// A file in a folder the server named, with that system's separator.
function inFolder(folder, name) {
	if (!folder) return name;
	const sep = folder.includes('\\') && !folder.includes('/') ? '\\' : '/';
	return folder.endsWith(sep) ? folder + name : folder + sep + name;
}
let tunedName = null;

function base64Utf8(text) {
	const bytes = new TextEncoder().encode(text);
	let binary = '';
	for (let i = 0; i < bytes.length; i += 0x8000)
		binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
	return btoa(binary);
}

function settingsRow(id, s) {
	const cells = $(id).querySelectorAll('td');
	cells[0].textContent = String(s.moving_avg_length);
	cells[1].textContent = String(s.threshold_offset);
	cells[2].textContent = s.report_rate_ms + ' ms';
	cells[3].textContent = s.describe;
}

async function tune(name) {
	$('tune-result').hidden = false;
	$('tune-name').textContent = name;
	say('tune-reason', 'Tuning…');
	say('apply-result', '', '');
	$('tune-plot').removeAttribute('src');
	$('tune-apply').disabled = true;
	const reply = await api('POST', '/api/tune', {name});
	if (!reply.ok) {
		say('tune-reason', refusal(reply));
		return;
	}
	const t = reply.data;
	tunedName = name;
	settingsRow('tune-current', t.current);
	settingsRow('tune-recommended', t.recommended);
	$('tune-reason').textContent = (t.cannot_tell ? 'The recording cannot tell: ' : t.keep ? 'Keep the settings in force: ' : '') + t.reason;
	$('tune-plot').src = 'data:image/svg+xml;base64,' + base64Utf8(t.svg);
	$('tune-file').textContent = 'Recording: ' + t.file;
	$('tune-apply').disabled = t.cannot_tell;
}

async function applyTune() {
	const reply = await api('POST', '/api/tune/apply', {name: tunedName});
	if (!reply.ok) {
		say('apply-result', refusal(reply), 'failed');
		return;
	}
	const a = reply.data;
	if (a.already)
		say('apply-result', 'The recommended settings are in force already.', 'already');
	else if (a.ok)
		say('apply-result', 'Applied, for this run and the next ones: ' + a.confirmed.join('; '), 'applied');
	else
		say('apply-result', [a.error, a.differs].filter(x => x).join(' ') || 'Not applied.', 'failed');
	await pollStatus();
}

async function refreshRecordings() {
	const reply = await api('GET', '/api/recordings');
	const list = $('recordings-list');
	if (!reply.ok) {
		$('recordings-folder').textContent = refusal(reply);
		return;
	}
	recordingsFolder = reply.data.folder;
	$('recordings-folder').textContent = 'In ' + reply.data.folder;
	clear(list);
	if (reply.data.recordings.length === 0)
		item(list, 'None yet.');
	for (const r of reply.data.recordings) {
		const li = item(list, r.name + ' (' + Math.ceil(r.bytes / 1024) + ' KiB) ');
		const button = document.createElement('button');
		button.type = 'button';
		button.textContent = 'Tune';
		button.addEventListener('click', () => tune(r.name).catch(() => {}));
		li.appendChild(button);
	}
}

// ---- The doctor and its mend ----------------------------------------------

let mendBusy = false;

async function refreshDoctor() {
	const list = $('doctor-list');
	const reply = await api('GET', '/api/doctor');
	clear(list);
	if (!reply.ok) {
		item(list, refusal(reply), 'FAIL');
		return;
	}
	for (const f of reply.data) {
		const li = item(list, '', f.status);
		const word = document.createElement('strong');
		word.textContent = f.status;
		li.appendChild(word);
		li.appendChild(document.createTextNode(' ' + f.check + ': ' + f.found));
		if (f.remedy) {
			const remedy = document.createElement('div');
			remedy.className = 'remedy';
			remedy.textContent = f.remedy;
			li.appendChild(remedy);
		}
	}
	$('doctor-list').dataset.count = String(reply.data.length);
}

function showMendLines(m) {
	const list = $('mend-plan');
	clear(list);
	for (const line of m.lines)
		item(list, line.kind + ': ' + line.text, line.kind);
	if (m.lines.length === 0)
		item(list, 'Nothing to mend.', 'note');
	list.dataset.count = String(m.lines.length);
}

async function mendDryRun() {
	$('mend-confirm').hidden = true;
	say('mend-result', '');
	const reply = await api('GET', '/api/mend');
	if (!reply.ok) {
		say('mend-result', refusal(reply));
		return;
	}
	const m = reply.data;
	showMendLines(m);
	if (m.refused)
		say('mend-result', 'SteamVR is running: close it, then mend.');
	else
		say('mend-result', 'This is what the mend would do.');
	$('mend-confirm').hidden = m.refused || m.lines.every(l => l.kind === 'note');
}

async function mendConfirm() {
	mendBusy = true;
	$('mend-show').disabled = true;
	say('mend-result', 'Mending…');
	try {
		const reply = await api('POST', '/api/mend', {});
		$('mend-confirm').hidden = true;
		if (!reply.ok) {
			say('mend-result', refusal(reply));
			return;
		}
		showMendLines(reply.data);
		say('mend-result', reply.data.refused ? 'Refused: SteamVR is running; close it first.'
			: reply.data.failed ? 'Some of the mend failed (see above).' : 'Mended.');
	} finally {
		mendBusy = false;
	}
	await refreshDoctor();
}

// ---- The bug report and the kept copies -----------------------------------

let reportUrl = null;

async function saveReport() {
	const reply = await api('POST', '/api/report', {});
	if (!reply.ok) {
		say('report-path', refusal(reply));
		return;
	}
	say('report-path', 'Saved in ' + reply.data.file);
	if (reportUrl)
		URL.revokeObjectURL(reportUrl);
	reportUrl = URL.createObjectURL(new Blob([reply.data.text], {type: 'text/plain;charset=utf-8'}));
	const link = $('report-download');
	link.href = reportUrl;
	link.download = reply.data.file.split(/[\\/]/).pop();
	link.hidden = false;
}

let keptName = null;

async function refreshKept() {
	const reply = await api('GET', '/api/kept');
	const list = $('kept-list');
	clear(list);
	if (!reply.ok) {
		$('kept-note').textContent = refusal(reply);
		return;
	}
	const k = reply.data;
	$('kept-note').textContent = [k.note, k.folder ? 'In ' + k.folder : ''].filter(x => x).join(' ');
	if (k.copies.length === 0)
		item(list, 'No copies kept yet.');
	for (const c of k.copies) {
		const li = item(list, c.name + ' (' + c.serial + (c.original ? ', the original' : '') + ') ');
		const button = document.createElement('button');
		button.type = 'button';
		button.textContent = 'Restore…';
		button.addEventListener('click', () => restorePlan(c.name).catch(() => {}));
		li.appendChild(button);
	}
}

async function restorePlan(name) {
	keptName = name;
	$('kept-confirm').hidden = true;
	clear($('kept-plan'));
	const reply = await api('POST', '/api/kept/restore', {name});
	if (!reply.ok) {
		say('kept-message', refusal(reply));
		return;
	}
	if (!reply.data.ok) {
		say('kept-message', reply.data.error);
		return;
	}
	reply.data.differences.forEach(d => item($('kept-plan'), d, d.startsWith('+') ? 'added' : 'removed'));
	say('kept-message', reply.data.differences.length ? 'Restoring ' + name + ' changes these lines.' : 'It is the same as the configuration now.');
	$('kept-confirm').hidden = false;
}

async function restoreConfirm() {
	const reply = await api('POST', '/api/kept/restore', {name: keptName, confirm: true});
	$('kept-confirm').hidden = true;
	if (!reply.ok)
		say('kept-message', refusal(reply));
	else
		say('kept-message', reply.data.message);
	clear($('kept-plan'));
	await refreshKept();
}

// ---- Quit -----------------------------------------------------------------

async function quit() {
	try {
		await api('POST', '/api/quit', {});
	} catch (e) {
		// Gone before it answered: ended all the same.
	}
	end();
}

// ---- Wiring ---------------------------------------------------------------

onClick('btn-auto', () => presence('auto'));
onClick('btn-on', () => presence('on'));
onClick('btn-off', () => presence('off'));
$('persist').addEventListener('change', exclusive);
$('hold-choice').addEventListener('change', exclusive);
$('ipd-slider').addEventListener('input', () => {
	ipdTouched = true;
	$('ipd-value').textContent = Number($('ipd-slider').value).toFixed(1) + ' mm';
});
$('ipd-slider').addEventListener('change', () => applyIpd().catch(() => {}));
onClick('record-start', startRecording);
onClick('record-cancel', async () => {
	const reply = await api('POST', '/api/record/cancel', {});
	if (!reply.ok)
		say('record-state', refusal(reply), 'failed');
});
onClick('tune-apply', applyTune);
onClick('recordings-refresh', refreshRecordings);
onClick('doctor-refresh', refreshDoctor);
onClick('mend-show', mendDryRun);
onClick('mend-confirm', mendConfirm);
onClick('report-save', saveReport);
onClick('kept-refresh', refreshKept);
onClick('kept-confirm', restoreConfirm);
onClick('quit', quit);
exclusive();

every(1000, pollStatus);
every(300, pollSamples);
timers.push(setInterval(() => holdEnds !== null && !ended && showHold(), 250));
refreshDoctor().catch(() => {});
refreshRecordings().catch(() => {});
refreshKept().catch(() => {});

#!/usr/bin/env python3
"""The panel's road in a real browser: headless Chromium through selenium
walks the page a person would, one step after another, with a screenshot
after each. A module (run_road) and a program:

  panel_road.py --launch LAUNCH_HTML --shots DIR [--follow FILE]
                [--only basic] [--phase-seconds S] [--count-down N]

--follow FILE is the simulated sensor's follow file: the road plays the
wearer with it ("on" or "off", written to FILE.new and renamed over FILE).
Exit status: 0 when every step passed, 1 otherwise, 77 when chromium,
chromedriver or selenium is missing.

The page's element ids the road relies on (tools/zelvan_ctl/panel/page/
index.html shows what each is):
  driver-state (data-state reachable|unreachable|refused), driver-why, hid,
  model, calibration, report-rate, avg-length, offset, verbosity, ipd-now,
  presence (data-on true|false, data-source sensor|forced|held),
  presence-source, hold-left, trace (data-readings, data-first-drawn-ms),
  trace-raw, trace-avg, trace-info, btn-auto, btn-on, btn-off, persist,
  hold-choice, hold-free, presence-reply, ipd-control, ipd-slider,
  ipd-value, ipd-note, ipd-fixed, ipd-reply, record-start, record-seconds,
  record-count-down, record-box, record-round, record-prompt (data-on,
  data-step), record-count, record-progress, record-cancel, record-state
  (data-state running|done|failed|cancelled), tune-result, tune-current,
  tune-recommended, tune-reason, tune-plot, tune-file, tune-apply,
  apply-result (data-state applied|already|failed), recordings-list,
  doctor-refresh, doctor-list, mend-show, mend-why, mend-plan (data-count),
  mend-confirm, mend-result, report-save, report-path, report-download,
  kept-list, kept-plan, kept-confirm, kept-message, quit, ended.
"""

import argparse
import os
import pathlib
import shutil
import sys
import tempfile
import time

FULL = ["open", "trace", "worn", "removed", "forced", "hold", "auto", "ipd", "record", "tune", "apply",
        "doctor", "report", "quit"]
BASIC = ["open", "trace", "forced", "auto", "doctor", "quit"]
SKIP = 77


class StepFailed(Exception):
	pass


def missing_tools():
	"""What the road cannot run without, in words; empty when all is there."""
	missing = []
	try:
		import selenium  # noqa: F401
	except ImportError:
		missing.append("python3-selenium")
	for program in ("chromium", "chromedriver"):
		if shutil.which(program) is None:
			missing.append(program)
	return missing


class Road:
	def __init__(self, browser, shots, follow, phase_seconds, count_down):
		from selenium.webdriver.common.by import By
		from selenium.webdriver.support.ui import WebDriverWait
		self.By = By
		self.WebDriverWait = WebDriverWait
		self.browser = browser
		self.shots = pathlib.Path(shots)
		self.follow = follow
		self.phase_seconds = phase_seconds
		self.count_down = count_down
		self.notes = []

	# ---- helpers ----

	def el(self, element_id):
		return self.browser.find_element(self.By.ID, element_id)

	def text(self, element_id):
		return self.el(element_id).text.strip()

	def data(self, element_id, name):
		return self.el(element_id).get_attribute("data-" + name) or ""

	def until(self, condition, what, seconds=20):
		"""Waits for `condition` (a function of nothing) to be true; fails naming `what`."""
		from selenium.common.exceptions import TimeoutException
		try:
			return self.WebDriverWait(self.browser, seconds, poll_frequency=0.1).until(lambda _: condition())
		except TimeoutException:
			raise StepFailed("%s, not within %d s" % (what, seconds)) from None

	def wear(self, word):
		if self.follow is None:
			return
		new = self.follow + ".new"
		with open(new, "w") as f:
			f.write(word + "\n")
		os.replace(new, self.follow)

	def presence_is(self, on, source):
		return self.data("presence", "on") == ("true" if on else "false") and self.data("presence", "source") == source

	def wait_presence(self, on, source, seconds=20):
		self.until(lambda: self.presence_is(on, source),
		           "presence %s from the %s (the page shows %r, %r)" %
		           ("on" if on else "off", source, self.text("presence"), self.text("presence-source")), seconds)

	def click(self, element_id):
		element = self.el(element_id)
		self.until(element.is_enabled, element_id + " enabled")
		element.click()

	def set_field(self, element_id, value):
		element = self.el(element_id)
		element.clear()
		element.send_keys(str(value))

	def choose(self, element_id, value):
		from selenium.webdriver.support.ui import Select
		Select(self.el(element_id)).select_by_value(value)

	# ---- the steps ----

	def step_open(self):
		self.until(lambda: self.data("driver-state", "state") in ("reachable", "unreachable", "refused"),
		           "the page asked the driver", 30)
		if self.data("driver-state", "state") != "reachable":
			raise StepFailed("the page says %r %r" % (self.text("driver-state"), self.text("driver-why")))

	def step_trace(self):
		self.until(lambda: int(self.data("trace", "readings") or 0) >= 2 and
		           self.browser.find_elements(self.By.ID, "trace-raw"), "readings drawn in the trace", 30)
		self.notes.append("first trace drawn after %s ms" % self.data("trace", "first-drawn-ms"))

	def step_worn(self):
		self.wear("on")
		self.wait_presence(True, "sensor")

	def step_removed(self):
		self.wear("off")
		self.wait_presence(False, "sensor")

	def step_forced(self):
		self.wear("off")
		self.click("btn-on")
		self.wait_presence(True, "forced")

	def step_hold(self):
		self.choose("hold-choice", "other")
		self.set_field("hold-free", "3s")
		self.click("btn-on")
		self.until(lambda: self.el("hold-left").is_displayed() and "left" in self.text("hold-left"),
		           "the time left of the hold shown")
		self.notes.append("hold: %s" % self.text("presence-source"))
		self.wait_presence(False, "sensor", 30)
		self.until(lambda: not self.el("hold-left").is_displayed(), "the time left gone after the hold")
		self.choose("hold-choice", "")

	def step_auto(self):
		self.click("btn-auto")
		self.until(lambda: self.data("presence", "source") == "sensor",
		           "presence back to the sensor (the page shows %r)" % self.text("presence-source"))

	def step_ipd(self):
		self.until(lambda: self.text("model") in ("Zelvan 1", "Zelvan 2"), "the model known")
		if self.text("model") == "Zelvan 1":
			if not self.el("ipd-fixed").is_displayed():
				raise StepFailed("a Zelvan 1 without the note that its IPD is fixed")
			self.notes.append("Zelvan 1: the IPD is fixed")
			return
		slider = self.el("ipd-slider")
		self.until(slider.is_displayed, "the IPD slider shown")
		# A slider is let go of at one value: input while it moves, change on release.
		self.browser.execute_script(
			"arguments[0].value = '65.0';"
			"arguments[0].dispatchEvent(new Event('input', {bubbles: true}));"
			"arguments[0].dispatchEvent(new Event('change', {bubbles: true}));", slider)
		self.until(lambda: "65.0" in self.text("ipd-now") and "65.0 mm" in self.text("ipd-value"),
		           "65.0 mm in force (the page shows %r, %r)" % (self.text("ipd-now"), self.text("ipd-reply")))
		if not self.el("ipd-note").is_displayed() or "keeps" not in self.text("ipd-note"):
			raise StepFailed("no note that the headset keeps the IPD")

	def step_record(self):
		self.set_field("record-seconds", "%g" % self.phase_seconds)
		self.set_field("record-count-down", self.count_down)
		self.click("record-start")
		followed = {"step": "0", "prompts": 0}

		def follow_prompts():
			state = self.data("record-state", "state")
			if state in ("failed", "cancelled"):
				raise StepFailed("the recording ended: %s" % self.text("record-state"))
			step = self.data("record-prompt", "step")
			on = self.data("record-prompt", "on")
			if on in ("true", "false") and step != followed["step"]:
				followed["step"] = step
				followed["prompts"] += 1
				self.wear("on" if on == "true" else "off")
				# The step's own shot comes after the result: this one shows a prompt.
				if followed["prompts"] == 2:
					self.browser.save_screenshot(str(self.shots / "record-prompt.png"))
			return state == "done"

		bound = 6 * (self.phase_seconds + self.count_down) + 60
		self.until(follow_prompts, "the guided recording done (%s)" % self.text("record-state"), bound)
		self.wear("off")
		if followed["prompts"] < 2:
			raise StepFailed("only %d prompts were on screen" % followed["prompts"])
		self.notes.append("%d prompts followed; %s" % (followed["prompts"], self.text("record-state")))

	def step_tune(self):
		plot = self.el("tune-plot")
		self.until(lambda: (plot.get_attribute("src") or "").startswith("data:image/svg+xml;base64,") and
		           self.browser.execute_script("return arguments[0].naturalWidth", plot) > 0,
		           "the tune plot shown (%s)" % self.text("tune-reason"), 60)
		if not self.text("tune-reason"):
			raise StepFailed("no reason given with the result")
		self.notes.append("recommended: %s" % self.text("tune-recommended"))

	def step_apply(self):
		before = [self.text(i) for i in ("avg-length", "report-rate", "offset")]
		self.click("tune-apply")
		self.until(lambda: self.data("apply-result", "state") in ("applied", "already", "failed"), "an answer to Apply")
		state = self.data("apply-result", "state")
		if state == "failed":
			raise StepFailed(self.text("apply-result"))
		if state == "applied":
			self.until(lambda: [self.text(i) for i in ("avg-length", "report-rate", "offset")] != before,
			           "the settings in force changed")
		self.notes.append(self.text("apply-result"))

	def step_doctor(self):
		self.browser.execute_script("arguments[0].replaceChildren()", self.el("doctor-list"))
		self.click("doctor-refresh")
		self.until(lambda: len(self.el("doctor-list").find_elements(self.By.TAG_NAME, "li")) > 0, "findings shown", 60)
		mend = self.el("mend-show")
		if not mend.is_enabled():
			self.notes.append("mend off: %s" % self.text("mend-why"))
			return
		mend.click()
		self.until(lambda: self.data("mend-plan", "count") != "" and self.text("mend-result"), "the mend's dry run shown", 60)
		self.notes.append("mend: %s" % self.text("mend-result"))

	def step_report(self):
		self.click("report-save")
		self.until(lambda: self.text("report-path").startswith("Saved in "),
		           "the report saved (the page says %r)" % self.text("report-path"), 60)
		link = self.el("report-download")
		if not (link.get_attribute("href") or "").startswith("blob:"):
			raise StepFailed("no download link for the report")
		self.notes.append(self.text("report-path"))

	def step_quit(self):
		self.click("quit")
		self.until(lambda: self.el("ended").is_displayed() and self.text("ended") == "The panel has ended.",
		           "the page says the panel has ended")

	# ---- the walk ----

	def walk(self, steps):
		passed = True
		for number, name in enumerate(steps, 1):
			self.notes = []
			try:
				getattr(self, "step_" + name)()
				outcome = None
			except StepFailed as failure:
				outcome = str(failure)
			except Exception as failure:  # a browser error is this step's failure, not the road's end
				outcome = "%s: %s" % (type(failure).__name__, str(failure).splitlines()[0] if str(failure) else "")
			shot = self.shots / ("%02d-%s.png" % (number, name))
			try:
				self.browser.save_screenshot(str(shot))
			except Exception:
				shot = "no screenshot"
			for note in self.notes:
				print(note, flush=True)
			if outcome is None:
				print("step %s: ok (%s)" % (name, shot), flush=True)
			else:
				passed = False
				print("step %s: FAILED: %s" % (name, outcome), flush=True)
				if name == "open":
					break
		return passed


def start_browser(profile):
	from selenium import webdriver
	from selenium.webdriver.chrome.service import Service
	options = webdriver.ChromeOptions()
	options.binary_location = shutil.which("chromium")
	for argument in ("--headless=new", "--window-size=1280,1000", "--disable-gpu", "--disable-dev-shm-usage",
	                 "--no-first-run", "--user-data-dir=" + profile):
		options.add_argument(argument)
	if hasattr(os, "geteuid") and os.geteuid() == 0:
		options.add_argument("--no-sandbox")  # Chromium refuses to run as root with it
	return webdriver.Chrome(service=Service(executable_path=shutil.which("chromedriver")), options=options)


def run_road(launch, shots, follow=None, only=None, phase_seconds=2.0, count_down=1):
	"""Walks the road; the exit status: 0 all passed, 1 a step failed, 77 tools missing."""
	missing = missing_tools()
	if missing:
		print("panel_road: skipped: %s missing (scripts/bootstrap.sh installs them)" % ", ".join(missing))
		return SKIP
	steps = BASIC if only == "basic" else FULL
	pathlib.Path(shots).mkdir(parents=True, exist_ok=True)
	profile = tempfile.mkdtemp(prefix="zelvan-road-chromium-")
	browser = None
	try:
		browser = start_browser(profile)
		browser.set_window_size(1280, 1000)
		browser.get(pathlib.Path(launch).resolve().as_uri())
		road = Road(browser, shots, follow, phase_seconds, count_down)
		return 0 if road.walk(steps) else 1
	finally:
		if browser is not None:
			browser.quit()
		shutil.rmtree(profile, ignore_errors=True)


def main(argv=None):
	parser = argparse.ArgumentParser(description="The panel's road in headless Chromium.")
	parser.add_argument("--launch", required=True, help="the panel's private launch file")
	parser.add_argument("--shots", required=True, help="the folder for a screenshot after each step")
	parser.add_argument("--follow", help="the simulated sensor's follow file, to play the wearer")
	parser.add_argument("--only", choices=["basic"], help="basic: the steps that need no simulated wearer")
	parser.add_argument("--phase-seconds", type=float, default=2.0, help="each phase of the guided recording")
	parser.add_argument("--count-down", type=int, default=1, help="the count-down before each phase")
	args = parser.parse_args(argv)
	return run_road(args.launch, args.shots, args.follow, args.only, args.phase_seconds, args.count_down)


if __name__ == "__main__":
	sys.exit(main())

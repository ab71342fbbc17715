#!/usr/bin/env python3
"""twsim serve in headless Chromium, as a builder uses it.

Starts `twsim serve` on a free port with the sample sound folder, drives
Debian's Chromium through chromedriver (WebDriver over plain HTTP, so only
Python's standard library is needed) and checks:
  - the page loads and shows the eight gauges;
  - moving a slider moves a needle in the next picture of its gauge, and
    only there;
  - a play command shows the item playing, the module's acknowledgement -1,
    and audio chunks with sound in them arrive;
  - a pause stops the sound;
  - a page of another origin cannot drive it, in the browser and by hand.
Leaves a screenshot of the page, and prints what it measured: the delay
from a click to the sound, and how well the server kept its 18 updates a
second.
"""
import argparse
import base64
import http.server
import json
import math
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(method, url, body=None, headers=None, timeout=30):
    data = None if body is None else json.dumps(body).encode()
    req = urllib.request.Request(url, data=data, method=method, headers=headers or {})
    if data is not None and "Content-Type" not in (headers or {}):
        req.add_header("Content-Type", "application/json")
    try:
        with urllib.request.urlopen(req, timeout=timeout) as response:
            return response.status, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


class Failure(Exception):
    pass


def wait_for(what, check, timeout):
    """Calls check() until it gives something true; fails after timeout."""
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        last = check()
        if last:
            return last
        time.sleep(0.05)
    raise Failure(f"timed out waiting for {what} (last seen: {last!r})")


class Browser:
    """The few WebDriver calls the test needs."""

    def __init__(self, driver_url, chromium, profile):
        self.base = driver_url
        args = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--window-size=1500,1200",
                # The page's sound starts without a click, as after the builder's first one.
                "--autoplay-policy=no-user-gesture-required"]
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome",
                                                 "goog:chromeOptions": {"binary": chromium, "args": args}}}}
        status, body = request("POST", f"{self.base}/session", caps, timeout=60)
        if status != 200:
            raise Failure(f"chromedriver could not start Chromium: {body.decode(errors='replace')}")
        self.session = json.loads(body)["value"]["sessionId"]
        self.url = f"{self.base}/session/{self.session}"

    def call(self, method, path, body=None):
        status, answer = request(method, self.url + path, body)
        value = json.loads(answer).get("value") if answer else None
        if status != 200:
            raise Failure(f"WebDriver {method} {path}: {status} {value}")
        return value

    def go(self, url):
        self.call("POST", "/url", {"url": url})

    def js(self, script, *args):
        return self.call("POST", "/execute/sync", {"script": script, "args": list(args)})

    def js_async(self, script, *args):
        return self.call("POST", "/execute/async", {"script": script, "args": list(args)})

    def find(self, css):
        found = self.call("POST", "/element", {"using": "css selector", "value": css})
        if not isinstance(found, dict) or ELEMENT not in found:
            raise Failure(f"no element {css}: {found}")
        return found[ELEMENT]

    def click(self, css):
        self.call("POST", f"/element/{self.find(css)}/click", {})

    def keys(self, css, text):
        self.call("POST", f"/element/{self.find(css)}/value", {"text": text})

    def screenshot(self, path):
        # The window as tall as the page, so that the picture holds all of it.
        height = self.js("return Math.ceil(document.documentElement.scrollHeight)")
        self.call("POST", "/window/rect", {"width": 1500, "height": min(max(height + 140, 900), 3000)})
        time.sleep(0.3)
        png = base64.b64decode(self.call("GET", "/screenshot"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(png)
        return len(png)

    def quit(self):
        try:
            request("DELETE", self.url, timeout=20)
        except OSError:
            pass


# The pixels of a gauge's picture as it is shown, for comparing two of them.
PIXELS = """
const img = document.getElementById(arguments[0]);
const canvas = document.createElement('canvas');
canvas.width = img.naturalWidth; canvas.height = img.naturalHeight;
const context = canvas.getContext('2d');
context.drawImage(img, 0, 0);
return Array.from(context.getImageData(0, 0, canvas.width, canvas.height).data);
"""


def differing_pixels(a, b):
    if len(a) != len(b):
        return len(a) // 4
    return sum(1 for i in range(0, len(a), 4) if a[i:i + 3] != b[i:i + 3])


def row_text(browser, item, cell):
    return browser.js("const r = document.querySelector(`tr[data-item='${arguments[0]}']`);"
                      "return r ? r.querySelector(arguments[1]).textContent : null;", item, cell)


def foreign_page_server(target):
    """A page of another origin that tries to play a sound on the panel the
    way any web page could: a simple POST that needs no preflight."""
    page = f"""<!doctype html><title>elsewhere</title><script>
window.attempts = [];
for (const [path, body] of [['api/command', {{item: 'GearHorn', value: 2}}], ['api/master', {{value: 1}}]]) {{
  fetch('{target}' + path, {{method: 'POST', mode: 'no-cors', headers: {{'Content-Type': 'text/plain'}},
                            body: JSON.stringify(body)}})
    .then(r => window.attempts.push(r.type), e => window.attempts.push('error'));
}}
fetch('{target}api/state').then(r => window.attempts.push('read ' + r.status), e => window.attempts.push('read refused'));
</script>"""

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(page.encode())

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--twsim", required=True)
    parser.add_argument("--sound-folder", required=True)
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    parser.add_argument("--timeout", type=float, default=20.0)
    parser.add_argument("--measure", type=float, default=0.0,
                        help="seconds of a builder's session to measure before ending (not part of the test)")
    options = parser.parse_args()
    for program in (options.chromium, options.chromedriver):
        if not shutil.which(program):
            print(f"{program} is not installed: ./scripts/install-deps installs chromium and chromium-driver")
            return 1

    processes = []
    profile = tempfile.mkdtemp(prefix="twsim-serve-chromium-")
    browser = None
    foreign = None
    try:
        serve = subprocess.Popen([options.twsim, "serve", "--port", "0", "--sound-folder", options.sound_folder],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        processes.append(serve)
        first = serve.stdout.readline()
        if not first.startswith("twsim serve: http://"):
            raise Failure(f"twsim serve did not start: {first}{serve.stderr.read()}")
        base = first.split()[2]
        print(f"twsim serve at {base}")

        driver_port = free_port()
        driver = subprocess.Popen([options.chromedriver, f"--port={driver_port}", "--allowed-ips=127.0.0.1"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(driver)
        driver_url = f"http://127.0.0.1:{driver_port}"
        wait_for("chromedriver", lambda: request("GET", f"{driver_url}/status", timeout=2)[0] == 200
                 if _reachable(driver_port) else False, options.timeout)
        started = time.monotonic()
        browser = Browser(driver_url, options.chromium, profile)
        print(f"Chromium started in {time.monotonic() - started:.1f} s")
        t = options.timeout

        # The page and its eight gauges, drawn.
        browser.go(base)
        names = wait_for("the eight gauges", lambda: browser.js(
            "const imgs = [...document.querySelectorAll('#gauges img')];"
            "return imgs.length === 8 && imgs.every(i => i.complete && i.naturalWidth > 0) ? imgs.map(i => i.alt) : null;"), t)
        print(f"gauges shown: {', '.join(names)}")
        if names[:2] != ["EngOilPress1", "EngOilPress2"]:
            raise Failure(f"unexpected gauges {names}")

        # A slider moves its needle in the next picture, and only its own.
        wait_for("the first state", lambda: browser.js("return !!(window.twsim.state && window.twsim.folder)"), t)
        before = browser.js(PIXELS, "gauge-0")
        frame = int(browser.js("return document.getElementById('gauge-0').dataset.frame"))
        other = browser.js("return document.getElementById('gauge-1').src")
        browser.keys("#slider-0", "\ue010")  # End: oil pressure 1 to its maximum
        wait_for("a new picture of EngOilPress1", lambda: int(browser.js(
            "const i = document.getElementById('gauge-0'); return i.complete ? i.dataset.frame : 0")) > frame, t)
        moved = differing_pixels(before, browser.js(PIXELS, "gauge-0"))
        if moved < 50:
            raise Failure(f"the next picture of EngOilPress1 differs in only {moved} pixels")
        if browser.js("return document.getElementById('gauge-1').src") != other:
            raise Failure("EngOilPress2 was drawn again, though its variable did not change")
        wait_for("the oil pressure needle at 100 psi", lambda: browser.js(
            "return window.twsim.state.gauges[0].needles[0].value") == 100, t)
        print(f"slider: the next picture of EngOilPress1 differs in {moved} pixels; EngOilPress2 untouched")

        # A play command: playing, acknowledged with -1, and sound arrives.
        energetic = browser.js("return window.twsim.stats.energetic")
        browser.click("tr[data-item='ApuRun'] button[data-value='2']")
        wait_for("ApuRun looping", lambda: row_text(browser, "ApuRun", ".state") == "looping", t)
        wait_for("the acknowledgement -1", lambda: "→ -1 acknowledged: played" in (row_text(browser, "ApuRun", ".last") or "")
                 and row_text(browser, "ApuRun", ".value") == "-1", t)
        stats = wait_for("audio chunks with sound in them", lambda: (lambda s: s if s["energetic"] >= energetic + 5 else None)(
            browser.js("return window.twsim.stats")), t)
        context = browser.js("const c = window.twsim && document.querySelector('#mute'); return c.textContent")
        print(f"play: ApuRun looping, '{row_text(browser, 'ApuRun', '.last')}'; {stats['energetic']} of {stats['chunks']} "
              f"audio chunks with sound, loudest RMS {stats['maxRms']:.3f}; sound button '{context}'")
        print(f"measured: click to the first chunk with sound {stats['clickToArrivalMs']} ms; "
              f"click to its scheduled playing {stats['clickToSoundMs']} ms (queued {stats.get('queuedMs')} ms, "
              f"the audio output's own latency {stats.get('outputLatencyMs')} ms)")

        # Engines running, for the picture: every instrument's needle on its way.
        for variable, value in [("A:Eng Oil Pressure:2,psi", 64), ("A:General Eng1 Oil Temperature,Celsius", 85),
                                ("A:General Eng2 Oil Temperature,Celsius", 88), ("A:Eng Oil Quantity:1,percent", 80),
                                ("A:Eng Oil Quantity:2,percent", 76), ("A:Turb Eng Vibration:1,number", 1.2),
                                ("A:Turb Eng Vibration:2,number", 1.5)]:
            request("POST", base + "api/variable", {"name": variable, "value": value})
        wait_for("the needles at rest", lambda: _needles_at_rest(base), t)
        size = browser.screenshot(options.screenshot)
        print(f"screenshot: {options.screenshot} ({size} bytes)")

        # A pause stops it: the item stops, and the sound falls silent.
        browser.click("#pause")
        wait_for("ApuRun stopped by the pause", lambda: row_text(browser, "ApuRun", ".state") == "stopped", t)
        wait_for("the pause shown", lambda: browser.js("return document.getElementById('pause').classList.contains('on')"), t)
        chunks = browser.js("return window.twsim.stats.chunks")
        wait_for("silence after the pause", lambda: browser.js(
            "const s = window.twsim.stats; return s.chunks >= arguments[0] + 4 && s.silentRun >= 4", chunks), t)
        print("pause: ApuRun stopped and the sound fell silent")

        # Another origin cannot drive it: by hand, and from a page in the browser.
        commands = json.loads(request("GET", base + "api/state")[1])["commands"]
        status, body = request("POST", base + "api/command", {"item": "GearHorn", "value": 1},
                               headers={"Content-Type": "application/json", "Origin": "http://elsewhere.example"})
        if status != 403 or b"other web pages" not in body:
            raise Failure(f"a foreign Origin got {status} {body!r}")
        foreign = foreign_page_server(base)
        browser.go(f"http://localhost:{foreign.server_address[1]}/")
        attempts = wait_for("the foreign page's attempts", lambda: browser.js(
            "return window.attempts && window.attempts.length === 3 ? window.attempts : null"), t)
        time.sleep(0.3)  # an update or more, had anything got through
        state = json.loads(request("GET", base + "api/state")[1])
        if state["commands"] != commands:
            raise Failure(f"a foreign page's request reached the simulation ({state['commands'] - commands} commands)")
        if "read 200" in attempts:
            raise Failure("a foreign page could read the panel's state")
        print(f"foreign origin: refused by hand (403) and from a page ({', '.join(sorted(attempts))}); no command written")

        if options.measure > 0:
            browser.go(base)
            wait_for("the page again", lambda: browser.js("return !!(window.twsim.state && window.twsim.folder)"), t)
            measure(browser, base, options.measure, profile)

        # Ctrl-C ends it cleanly, saying how well it kept time.
        browser.quit()
        browser = None
        serve.send_signal(signal.SIGINT)
        out, errors = serve.communicate(timeout=20)
        ended = [line for line in out.splitlines() if line.startswith("twsim serve: ended")]
        if serve.returncode != 0 or not ended:
            raise Failure(f"twsim serve did not end cleanly on Ctrl-C (exit {serve.returncode}): {out}{errors}")
        print(ended[0])
        return 0
    except Failure as failure:
        print(f"FAILED: {failure}")
        return 1
    finally:
        if browser is not None:
            browser.quit()
        if foreign is not None:
            foreign.shutdown()
        for process in reversed(processes):
            if process.poll() is None:
                process.send_signal(signal.SIGINT)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(profile, ignore_errors=True)


def _needles_at_rest(base):
    angles = []
    for _ in range(2):
        state = json.loads(request("GET", base + "api/state")[1])
        angles.append([n["angle"] for g in state["gauges"] if g for n in g["needles"]])
        time.sleep(0.12)
    return angles[0] == angles[1]


def cpu_seconds(marker):
    """CPU time of the processes whose command line holds `marker`."""
    total = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if marker.encode() not in f.read():
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total / os.sysconf("SC_CLK_TCK")


def measure(browser, base, seconds, profile):
    """A builder's session, for the numbers: a sound looping, two needles
    sweeping on every update, and a sound started by a click again and again."""
    request("POST", base + "api/notice", {"notice": "unpause"})
    browser.click("tr[data-item='ApuRun'] button[data-value='2']")
    delays, arrivals = [], []
    start = time.monotonic()
    end = start + seconds
    browser_cpu = cpu_seconds(profile)
    step = 0
    while time.monotonic() < end:
        # Two gauges drawn again on every update.
        for engine in (1, 2):
            request("POST", base + "api/variable",
                    {"name": f"A:Eng Oil Pressure:{engine},psi", "value": 50 + 40 * math.sin(step * 0.4 + engine)})
        step += 1
        if step % 40 == 0:
            # A click on "play once" after a moment of silence.
            request("POST", base + "api/master", {"value": 1})
            time.sleep(0.4)
            browser.js("window.twsim.stats.clickToSoundMs = null")
            browser.click("tr[data-item='GearHorn'] button[data-value='1']")
            try:
                wait_for("the horn", lambda: browser.js("return window.twsim.stats.clickToSoundMs"), 5)
                stats = browser.js("return window.twsim.stats")
                delays.append(stats["clickToSoundMs"])
                arrivals.append(stats["clickToArrivalMs"])
            except Failure:
                pass
            browser.click("tr[data-item='ApuRun'] button[data-value='2']")
        time.sleep(0.05)
    browser_cpu = cpu_seconds(profile) - browser_cpu
    state = json.loads(request("GET", base + "api/state")[1])
    perf = state["perf"]
    print(f"measured over {seconds:.0f} s: {perf['rate']:.2f} updates a second over the last seconds, latest start "
          f"{perf['lateMs']:.1f} ms late, {perf['workMs']:.2f} ms of work an update, CPU {perf['cpu']:.1f} % "
          f"(the simulation thread {perf['simCpu']:.1f} %)")
    if delays:
        delays.sort()
        arrivals.sort()
        print(f"click to sound over {len(delays)} clicks: median {delays[len(delays) // 2]} ms "
              f"(from {delays[0]} to {delays[-1]}); click to the sound's arrival: median {arrivals[len(arrivals) // 2]} ms")
    audio = browser.js("return window.twsim.stats")
    print(f"audio: the browser's queue ran dry {audio.get('underruns', 0)} times and was cut back {audio.get('dropped', 0)} "
          f"times; Chromium with the page open: CPU {100 * browser_cpu / (time.monotonic() - start):.1f} % of one core")


def _reachable(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


if __name__ == "__main__":
    sys.exit(main())

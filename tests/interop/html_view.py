#!/usr/bin/python3
"""Loads a page of 'wks html' in headless Chromium through the DevTools
protocol and checks what it renders: no console message of level error and
no uncaught exception while it loads, then the rendered text, alignment,
hover text and widths of known cells (html_view.sh says which).

    html_view.py CHROMIUM PAGE EXPECTED.json

EXPECTED holds {"cells": {"A1": {"text": ..., "align": ..., "title": ...}},
"wider": ["D", "A", ratio]}: each field given must match; the column
named first must be at least ratio times as wide as the second.
"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import urllib.request

import websocket

TIMEOUT = 60


class Browser:
    def __init__(self, chromium, profile):
        flags = ["--headless", "--disable-gpu", "--no-first-run", "--remote-debugging-port=0",
                 "--user-data-dir=" + profile, "about:blank"]
        if os.geteuid() == 0:
            flags.insert(0, "--no-sandbox")  # the sandbox refuses to run as root
        self.proc = subprocess.Popen([chromium] + flags, stderr=subprocess.PIPE, text=True, start_new_session=True)
        url = None
        for line in self.proc.stderr:
            found = re.search(r"DevTools listening on (ws://\S+)", line)
            if found:
                url = found.group(1)
                break
        if not url:
            raise SystemExit("chromium did not open its DevTools port")
        port = re.search(r":(\d+)/", url).group(1)
        with urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port, timeout=TIMEOUT) as r:
            page = next(t for t in json.load(r) if t["type"] == "page")
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=TIMEOUT)
        self.next_id = 0
        self.errors = []
        self.events = []

    def close(self):
        # Chromium's helper processes write to the profile until they end:
        # the whole group goes before the profile is removed.
        self.ws.close()
        os.killpg(self.proc.pid, signal.SIGKILL)
        self.proc.wait()

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = self.receive()
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise SystemExit("%s: %s" % (method, message["error"]))
                return message["result"]

    def receive(self):
        message = json.loads(self.ws.recv())
        method = message.get("method")
        params = message.get("params", {})
        if method == "Runtime.exceptionThrown":
            self.errors.append(params["exceptionDetails"].get("text", "exception"))
        elif method == "Runtime.consoleAPICalled" and params["type"] in ("error", "assert"):
            self.errors.append(" ".join(str(a.get("value", a.get("description"))) for a in params["args"]))
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            self.errors.append(params["entry"]["text"])
        elif method:
            self.events.append(method)
        return message

    def load(self, url):
        self.events.clear()
        self.call("Page.navigate", url=url)
        while "Page.loadEventFired" not in self.events:
            self.receive()


# Each cell's rendered text, text alignment and hover text, and each
# column's rendered width, by the names the page's headers give.  A block of
# rows is drawn once it is in view: each is scrolled to and given two frames.
SURVEY = """(async () => {
  const frame = () => new Promise(done => requestAnimationFrame(() => done()));
  const letters = [...document.querySelectorAll('thead th')].map(th => th.innerText);
  const cells = {}, widths = {};
  letters.forEach((l, i) => { if (i) widths[l] = document.querySelector('thead tr').cells[i].getBoundingClientRect().width; });
  for (const tbody of document.querySelectorAll('tbody')) {
    tbody.scrollIntoView();
    await frame();
    await frame();
    for (const tr of tbody.rows)
      for (let i = 1; i < tr.cells.length; ++i) {
        const td = tr.cells[i];
        cells[letters[i] + tr.cells[0].innerText] = {text: td.innerText, align: getComputedStyle(td).textAlign,
                                                    title: td.getAttribute('title')};
      }
  }
  return JSON.stringify({cells, widths, scripts: document.scripts.length});
})()"""


def main():
    chromium, page, expected_path = sys.argv[1:4]
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile:
        browser = Browser(chromium, profile)
        try:
            for domain in ("Page", "Runtime", "Log"):
                browser.call(domain + ".enable")
            browser.load("file://" + os.path.abspath(page))
            result = browser.call("Runtime.evaluate", expression=SURVEY, returnByValue=True, awaitPromise=True)
            shown = json.loads(result["result"]["value"])
        finally:
            browser.close()
    failures = ["console: " + e for e in browser.errors]
    if shown["scripts"]:
        failures.append("the page holds %d script elements" % shown["scripts"])
    for cell, want in expected["cells"].items():
        got = shown["cells"].get(cell)
        if got is None:
            failures.append("%s: no such cell on the page" % cell)
            continue
        for field, value in want.items():
            if got[field] != value:
                failures.append("%s: %s is %r, expected %r" % (cell, field, got[field], value))
    wide, narrow, ratio = expected["wider"]
    if not shown["widths"][wide] >= ratio * shown["widths"][narrow]:
        failures.append("column %s is %.1f px wide, column %s %.1f px: expected at least %g times"
                        % (wide, shown["widths"][wide], narrow, shown["widths"][narrow], ratio))
    for f in failures:
        print("html_view: " + f)
    if not failures:
        print("html_view: %d cells as expected, no console errors" % len(expected["cells"]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""How fast the web view is, measured by hand on a fresh device:
web_latency.py --build DIR [--loads 20] [--pushes 200]

- page load: from the navigation's start until every panel has loaded once
  (the page's "pelorin-loaded" mark), over --loads reloads;
- push to visible: from just before `busctl` delivers a Google Voice push to
  the home screen until the text's bubble is in the page (a MutationObserver
  in the page notes the time), over --pushes pushes. busctl's own start-up is
  inside that time; its cost is measured apart (a bare Ping through busctl).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

from web_session import WebSession, wait_loaded

SENDER = '(415) 555-0177'
SPRINGBOARD = ['com.talvern.sim.SpringBoard', '/com/talvern/sim/SpringBoard']

OBSERVE = """
window.seen = {};
new MutationObserver(() => {
  const now = performance.timeOrigin + performance.now();
  for (const text of document.querySelectorAll('#thread .bubble .text'))
    if (!(text.textContent in window.seen)) window.seen[text.textContent] = now;
}).observe(document.getElementById('thread'), {childList: true, subtree: true});
"""


def percentiles(name, values):
    values = sorted(values)
    pick = lambda q: values[min(len(values) - 1, int(q * len(values)))]
    print(f'{name}: n={len(values)} p50={statistics.median(values):.1f} ms '
          f'p90={pick(0.9):.1f} ms p99={pick(0.99):.1f} ms')


def busctl(s, *arguments):
    subprocess.run(['busctl', '--user', 'call', *arguments], env=s.env, check=True,
                   capture_output=True)


def push(s, text):
    busctl(s, *SPRINGBOARD, 'com.talvern.sim.SpringBoard', 'DeliverPush', 'sa{sv}',
           'com.google.GVDialer', '1', 'aps', 'a{sv}', '1', 'alert', 's',
           f'Text from {SENDER}:\n{text}')


def wait_seen(s, text):
    while True:
        seen = s.driver.execute_script('return window.seen[arguments[0]]', text)
        if seen is not None:
            return seen
        time.sleep(0.002)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', required=True)
    parser.add_argument('--loads', type=int, default=20)
    parser.add_argument('--pushes', type=int, default=200)
    options = parser.parse_args()
    root = tempfile.mkdtemp(prefix='pelorin-web-lat-')
    with WebSession(os.path.abspath(options.build), root, timeout=60) as s:
        loads = []
        for _ in range(options.loads):
            s.driver.refresh()
            wait_loaded(s.driver)
            loads.append(s.driver.execute_script(
                "return performance.getEntriesByName('pelorin-loaded')[0].startTime"))
        percentiles('page load', loads)

        s.tool('pelorinctl', 'settings', 'set', 'enableReceiveOfficialGV', 'true')
        push(s, 'warm-up')
        # Clicked from the script: the settings change's alert may cover the list.
        s.wait_for('#conversations li[data-key="4155550177"]')
        s.driver.execute_script(
            "document.querySelector('#conversations li[data-key=\"4155550177\"]').click()")
        s.wait_text('#thread', 'warm-up')
        s.driver.execute_script(OBSERVE)
        pings, pushes = [], []
        for i in range(options.pushes):
            start = time.time() * 1000
            busctl(s, *SPRINGBOARD, 'org.freedesktop.DBus.Peer', 'Ping')
            pings.append(time.time() * 1000 - start)
            start = time.time() * 1000
            push(s, f'lat-{i}')
            pushes.append(wait_seen(s, f'lat-{i}') - start)
        percentiles('busctl Ping (spawn and round trip)', pings)
        percentiles('push to visible', pushes)
        print(f'load average: {os.getloadavg()[0]:.1f}')
    shutil.rmtree(root, ignore_errors=True)


if __name__ == '__main__':
    main()

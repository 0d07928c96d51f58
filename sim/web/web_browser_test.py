#!/usr/bin/python3
"""The web view in a real browser (headless Chromium) against a real device
with the stand-in Google Voice service: one device, one page, the scenarios in
order, then the server's refusals. Usage: web_browser_test.py --build DIR"""
import argparse
import http.client
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from web_session import WebSession

PUSH = 'Text from (415) 555-0199:\nSee you at 6'
SAMPLE_MAIL = os.path.join(os.path.dirname(__file__), '..', 'samples', 'gv-plain.eml')


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def compose_and_switch(s):
    """A rule sends 212 by carrier; the switch on the page sends it through
    Google Voice; the text is sent, shown as sent and reaches the service."""
    s.type('#rule-prefix', '(212)')
    s.select('#rule-mode', 'carrier')
    s.click('#rule-add button')
    s.wait_for('#rules li[data-key="1212"]')
    s.type('#compose-to', '(212) 555-0123')
    s.wait_text('#routes', 'Carrier (rule 1212)')
    switch = '#switches button[data-identifier="com.talvern.dorvessa"]'
    s.wait_text(switch, 'off')
    s.click(switch)
    s.wait_text(switch, 'on')
    s.wait_text('#routes', 'Google Voice')
    s.type('#compose-text', 'Hello from the page')
    s.click('#compose-send')
    s.wait_for('#conversations li.selected[data-key="2125550123"]')
    s.wait_text('#thread .bubble.outgoing[data-state="sent"]', 'Hello from the page')
    s.wait_text('#gv-texts', 'Hello from the page')


def alert_dialog(s):
    """A settings change raises alerts; each shows as a dialog until dismissed."""
    s.click('#settings tr[data-key="enableReceiveOfficialGV"] input')
    s.wait(lambda d: d.execute_script("return document.getElementById('alert').open"))
    dismissed = 0
    while s.driver.execute_script("return document.getElementById('alert').open"):
        shown = s.driver.execute_script("return document.getElementById('alert').dataset.alert")
        s.click('#alert .alert-buttons button')
        s.wait(lambda d: d.execute_script(
            "const a = document.getElementById('alert'); return !a.open || a.dataset.alert != "
            "arguments[0]", shown))
        dismissed += 1
    lines = open(f'{s.root}/var/run/pelorin-sim/web-dismissals.jsonl').read().splitlines()
    check(dismissed >= 1 and len(lines) == dismissed, f'{dismissed} dismissed, {lines}')


def live_push(s):
    """A push to the home screen appears in its sender's conversation, live."""
    s.driver.execute_script('window.sameLoad = true')
    s.tool('pelorinctl', 'push', PUSH)
    s.click_when('#conversations li[data-key="4155550199"]')
    s.wait_text('#thread .bubble.incoming[data-state="received"]', 'See you at 6')
    check(s.driver.execute_script('return window.sameLoad'), 'the page was reloaded')
    # The event stream carried it and stays open: a stream that ended is in
    # the page's resource timings.
    ended = s.driver.execute_script(
        "return performance.getEntriesByType('resource')"
        ".filter(e => e.name.includes('/api/events')).length")
    check(ended == 0, f'{ended} event streams ended')


def bad_input(s):
    """Input the device cannot take gets a message on the page."""
    s.driver.execute_script("document.getElementById('compose-text').value = 'x'.repeat(1e7)")
    s.click('#compose-send')
    s.wait_text('#compose-panel .problem', 'at most 65536 can be sent')
    s.type('#compose-to', '12ab')
    s.wait_text('#routes', 'not a phone number')


def phone_width(s):
    """At 375 px nothing is wider than the screen."""
    s.driver.set_window_size(375, 800)
    check(s.driver.execute_script(
        'return document.documentElement.scrollWidth <= window.innerWidth'), 'wider than 375 px')


# (what, method, target, extra headers, body, expected status)
def refusals(port, token, cookie):
    own = {'Host': f'127.0.0.1:{port}', 'Origin': f'http://127.0.0.1:{port}',
           'Content-Type': 'application/json'}
    with_cookie = {**own, 'Cookie': cookie}
    setting = json.dumps({'key': 'enableLogging', 'value': True})
    return [
        ('no token', 'GET', '/api/messages', {'Host': own['Host']}, None, 403),
        ('a wrong token', 'GET', '/?token=' + 'f' * 64, own, None, 403),
        ('the token', 'GET', f'/?token={token}', own, None, 303),
        ('the cookie', 'GET', '/api/settings', with_cookie, None, 200),
        ('a foreign Host', 'GET', f'/?token={token}', {'Host': f'evil.example:{port}'}, None, 403),
        ('a cross-origin POST', 'POST', '/api/settings', {**with_cookie, 'Origin': 'http://evil.example'},
         setting, 403),
        ('a POST without Origin', 'POST', '/api/settings',
         {k: v for k, v in with_cookie.items() if k != 'Origin'}, setting, 403),
        ('a PUT', 'PUT', '/api/settings', with_cookie, setting, 405),
        ('a 100 KB text', 'POST', '/api/send', with_cookie,
         json.dumps({'service': 'SMS', 'recipients': ['2125550123'], 'text': 'x' * 100000}), 400),
        ('a 10 MB body', 'POST', '/api/send', with_cookie, 'x' * 10_000_000, 413),
        ('a mail that is not a mail', 'POST', '/api/mail', with_cookie, b'\x89PNG\r\n\x00\x01', 400),
        ('a mail', 'POST', '/api/mail', with_cookie, open(SAMPLE_MAIL, 'rb').read(), 200),
        ('an unknown setting', 'POST', '/api/settings', with_cookie,
         json.dumps({'key': 'noSuchKey', 'value': '1'}), 400),
        ('a key that is no text', 'POST', '/api/settings', with_cookie,
         json.dumps({'key': 5, 'value': '1'}), 400),
        ('no key', 'POST', '/api/settings', with_cookie, json.dumps({'value': '1'}), 400),
    ]


def check_refusals(s):
    """Requests without the token, for another Host, or changes from another
    origin are refused; bad input is answered with a message."""
    connection = http.client.HTTPConnection('127.0.0.1', s.port, timeout=30)
    connection.request('GET', f'/?token={s.token}', headers={'Host': f'127.0.0.1:{s.port}'})
    reply = connection.getresponse()
    reply.read()
    set_cookie = reply.getheader('Set-Cookie', '')
    check('HttpOnly' in set_cookie and 'SameSite=Strict' in set_cookie, set_cookie)
    check("frame-ancestors 'none'" in reply.getheader('Content-Security-Policy', ''), 'no CSP')
    for what, method, target, headers, body, status in refusals(s.port, s.token,
                                                                set_cookie.split(';')[0]):
        connection = http.client.HTTPConnection('127.0.0.1', s.port, timeout=30)
        connection.request(method, target, body=body, headers=headers)
        reply = connection.getresponse()
        answer = reply.read()
        connection.close()
        check(reply.status == status, f'{what}: {reply.status} {answer[:200]!r}, expected {status}')
        check(status < 400 or b'"error"' in answer, f'{what}: no error message')


def device_down(s):
    """The server ends by itself when the device goes down."""
    s.tool(f'{s.build}/bin/pelorin-sim', 'down', '--root', s.root)
    check(s.web.wait(timeout=20) == 0, 'pelorin-web did not end cleanly')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', required=True)
    build = os.path.abspath(parser.parse_args().build)
    root = tempfile.mkdtemp(prefix='pelorin-web-test-')
    failures = []
    with WebSession(build, root) as s:
        for scenario in (alert_dialog, live_push, compose_and_switch, bad_input, phone_width,
                         check_refusals, device_down):
            try:
                scenario(s)
                print(f'ok   {scenario.__name__}')
            except Exception as error:  # every scenario runs; each failure is reported
                print(f'FAIL {scenario.__name__}: {error!r}')
                s.save_screenshot(f'{scenario.__name__}.png')
                failures.append(scenario.__name__)
    if not failures:
        shutil.rmtree(root, ignore_errors=True)
    else:
        print(f'the device root is kept: {root}')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

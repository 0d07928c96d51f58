#!/usr/bin/python3
"""Saves a picture of the web view: web_screenshot.py URL FILE [WIDTHxHEIGHT].
The URL is the one pelorin-web printed; the page is shown once every panel
has loaded."""
import shutil
import sys
import tempfile

from web_session import open_browser, wait_loaded


def main(url, file, size='1280x1400'):
    width, height = (int(n) for n in size.split('x'))
    profile = tempfile.mkdtemp(prefix='pelorin-web-shot-')
    driver = open_browser(profile, width, height)
    try:
        driver.get(url)
        wait_loaded(driver)
        driver.save_screenshot(file)
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))

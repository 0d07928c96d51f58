"""A simulated device with the stand-in service, pelorin-web serving it and a
headless Chromium on its page; everything is stopped on leaving, even after a
failure. Shared by the browser test and the latency measurement."""
import ctypes
import os
import re
import shutil
import signal
import subprocess

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# Chromium must not try to reach the network: the machine has none.
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                  '--no-first-run', '--disable-background-networking',
                  '--disable-component-update', '--disable-sync']


def _die_with_parent():
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def open_browser(profile, width=1280, height=1000):
    """A headless Chromium with a fresh profile in `profile`."""
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in CHROMIUM_FLAGS + [f'--user-data-dir={profile}', f'--window-size={width},{height}']:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def wait_loaded(driver, timeout=30):
    """Waits until the page has loaded every panel once."""
    WebDriverWait(driver, timeout, poll_frequency=0.05).until(
        lambda d: d.find_elements(By.CSS_SELECTOR, 'body[data-loaded="true"]'))


class WebSession:
    def __init__(self, build, root, timeout=30):
        self.build, self.root, self.timeout = build, root, timeout
        # The device goes down when this process is gone, however it ends.
        self.env = dict(os.environ, PELORIN_SIM_EXIT_WITH=str(os.getpid()))
        self.web = self.driver = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        up = subprocess.run([f'{self.build}/bin/pelorin-sim', 'up', '--root', self.root,
                             '--gv-service'], env=self.env, capture_output=True, text=True,
                            timeout=120)
        if up.returncode != 0:
            raise RuntimeError(f'pelorin-sim up failed: {up.stderr}')
        for name, value in re.findall(r"^export (\w+)='([^']*)'", up.stdout, re.M):
            self.env[name] = value + (':' + self.env['PATH'] if name == 'PATH' else '')
        self.web = subprocess.Popen([f'{self.build}/libexec/pelorin/pelorin-web', '--root',
                                     self.root], stdout=subprocess.PIPE, env=self.env, text=True,
                                    preexec_fn=_die_with_parent)
        self.url = self.web.stdout.readline().strip()
        match = re.fullmatch(r'http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{64})', self.url)
        if not match:
            raise RuntimeError(f'pelorin-web printed {self.url!r}')
        self.port, self.token = int(match[1]), match[2]
        self.driver = open_browser(f'{self.root}/chromium-profile')
        self.driver.get(self.url)
        wait_loaded(self.driver, self.timeout)

    def __exit__(self, *exc):
        if self.driver:
            self.driver.quit()
        if self.web:
            self.web.terminate()
            self.web.wait(timeout=30)
        subprocess.run([f'{self.build}/bin/pelorin-sim', 'down', '--root', self.root],
                       capture_output=True, timeout=60)
        shutil.rmtree(f'{self.root}/chromium-profile', ignore_errors=True)
        return False

    # ---- Page helpers ----
    def wait(self, condition):
        return WebDriverWait(self.driver, self.timeout, poll_frequency=0.05, ignored_exceptions=(
            NoSuchElementException, StaleElementReferenceException)).until(condition)

    def wait_for(self, css):
        return self.wait(lambda d: d.find_element(By.CSS_SELECTOR, css))

    def wait_text(self, css, text):
        self.wait(lambda d: any(text in e.text for e in d.find_elements(By.CSS_SELECTOR, css)))

    def click(self, css):
        self.driver.find_element(By.CSS_SELECTOR, css).click()

    def click_when(self, css):
        self.wait_for(css).click()

    def type(self, css, text):
        field = self.driver.find_element(By.CSS_SELECTOR, css)
        field.clear()
        field.send_keys(text)

    def select(self, css, value):
        Select(self.driver.find_element(By.CSS_SELECTOR, css)).select_by_value(value)

    def tool(self, *argv):
        subprocess.run(argv, env=self.env, check=True, capture_output=True, timeout=60)

    def save_screenshot(self, name):
        if self.driver:
            self.driver.save_screenshot(f'{self.root}/{name}')

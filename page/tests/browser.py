# The headless browser the page's tests and measurements use: Debian's chromium through chromium-driver and
# python3-selenium, with a fresh profile, and a loopback file server with byte ranges for the harness.
import http.server
import os
import re
import shutil
import socketserver
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ChromiumFlags = ['--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--autoplay-policy=no-user-gesture-required', '--disable-dev-shm-usage', '--lang=nl-NL']


class TBrowser:
    """One chromium with its own profile folder and download folder, removed again by Close()."""

    def __init__(self, AWidth=1280, AHeight=900, ADownloads=None):
        self.FProfile = tempfile.mkdtemp(prefix='vornak-chromium-')
        self.FDownloads = ADownloads or os.path.join(self.FProfile, 'downloads')
        os.makedirs(self.FDownloads, exist_ok=True)
        options = webdriver.ChromeOptions()
        options.binary_location = '/usr/bin/chromium'
        for flag in ChromiumFlags:
            options.add_argument(flag)
        options.add_argument(f'--user-data-dir={self.FProfile}')
        options.add_argument(f'--window-size={AWidth},{AHeight}')
        options.add_experimental_option('prefs', {
            'download.default_directory': self.FDownloads,
            'download.prompt_for_download': False,
        })
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        self.Driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        self.Driver.set_script_timeout(120)
        self.Driver.execute_cdp_cmd('Browser.setDownloadBehavior', {
            'behavior': 'allow', 'downloadPath': self.FDownloads, 'eventsEnabled': True})

    @property
    def Downloads(self):
        return self.FDownloads

    def Resize(self, AWidth, AHeight):
        self.Driver.set_window_size(AWidth, AHeight)

    def Close(self):
        try:
            self.Driver.quit()
        finally:
            shutil.rmtree(self.FProfile, ignore_errors=True)


class TRangeHandler(http.server.SimpleHTTPRequestHandler):
    """Static files with single byte ranges (media elements seek through them); ARoutes maps a path to a file."""
    Routes = {}

    def log_message(self, AFormat, *AArgs):
        pass

    def handle(self):
        try:
            super().handle()
        except (ConnectionResetError, BrokenPipeError):
            pass  # the media element dropped a range it no longer needs

    def translate_path(self, APath):
        route = self.Routes.get(APath.split('?')[0])
        return route if route else super().translate_path(APath)

    def send_head(self):
        path = self.translate_path(self.path)
        match = re.match(r'bytes=(\d+)-(\d*)$', self.headers.get('Range', ''))
        if not match or not os.path.isfile(path):
            return super().send_head()
        size = os.path.getsize(path)
        first = int(match.group(1))
        last = int(match.group(2)) if match.group(2) else size - 1
        last = min(last, size - 1)
        if first > last:
            self.send_error(416)
            return None
        handle = open(path, 'rb')
        handle.seek(first)
        self.send_response(206)
        self.send_header('Content-Type', self.guess_type(path))
        self.send_header('Accept-Ranges', 'bytes')
        self.send_header('Content-Range', f'bytes {first}-{last}/{size}')
        self.send_header('Content-Length', str(last - first + 1))
        self.end_headers()
        self.FRemaining = last - first + 1
        return TLimited(handle, last - first + 1)


class TLimited:
    def __init__(self, AHandle, ALength):
        self.FHandle = AHandle
        self.FLeft = ALength

    def read(self, ASize=-1):
        if self.FLeft <= 0:
            return b''
        size = self.FLeft if ASize < 0 else min(ASize, self.FLeft)
        data = self.FHandle.read(size)
        self.FLeft -= len(data)
        return data

    def close(self):
        self.FHandle.close()


def ServeFolder(AFolder, ARoutes):
    """Serves AFolder (and ARoutes, path -> file) on 127.0.0.1 at a free port; returns (server, base URL)."""
    handler = type('THandler', (TRangeHandler,), {'Routes': ARoutes})
    server = socketserver.ThreadingTCPServer(('127.0.0.1', 0), lambda *AArgs: handler(*AArgs, directory=AFolder))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f'http://127.0.0.1:{server.server_address[1]}'

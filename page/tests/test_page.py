#!/usr/bin/python3
# The page in a real browser against `vornak-tool serve`: login, a day and an hour, the waveform drawn at the
# ruler's times, playing, an exported selection byte for byte, the edit and listen roles, the access log;
# screenshots of the main states at 1280 px and 390 px into $VORNAK_SCREENSHOTS.
# Environment: VORNAK_TOOL (vornak-tool), VORNAK_WEB_STATIC (the built page), VORNAK_SCREENSHOTS (folder).
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import TBrowser  # noqa: E402
from served import DecodePng, Passwords, TArchive, TServer, WaitFor  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

WaveRgb = (40, 220, 60)
Seconds = 20.0
# Left lane: a tone from 4 s to 8 s; right lane: a tone from 12 s to 16 s; silence elsewhere.
ToneGraph = ("aevalsrc='0.5*sin(2*PI*440*t)*between(t,4,8)|0.5*sin(2*PI*660*t)*between(t,12,16)'"
             ":s=44100:c=stereo")


# Resolves once a loaded waveform has been drawn again at the window's new width (at once without one).
SettledScript = '''
const done = arguments[arguments.length - 1];
const wave = window.vornakReader.FWave;
const settled = () => !wave || wave.Duration <= 0 || wave.Surfer.options.minPxPerSec > 0 ||
  Math.abs(wave.Surfer.getWrapper().clientWidth - document.getElementById('wave').clientWidth) <= 1;
const step = (ALeft) => requestAnimationFrame(() => (!settled() ? step(2) : ALeft > 0 ? step(ALeft - 1) : done()));
step(2);
'''


def PostJson(AUrl, ABody):
    request = urllib.request.Request(AUrl, data=json.dumps(ABody).encode(), method='POST',
                                     headers={'Content-Type': 'application/json', 'Origin': AUrl.split('/api')[0]})
    try:
        with urllib.request.urlopen(request, timeout=30) as answer:
            return answer.status, json.loads(answer.read() or b'{}')
    except urllib.error.HTTPError as error:
        return error.code, json.loads(error.read() or b'{}')


class TestPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.Tool = os.environ['VORNAK_TOOL']
        cls.Shots = os.environ.get('VORNAK_SCREENSHOTS') or tempfile.mkdtemp(prefix='vornak-shots-')
        os.makedirs(cls.Shots, exist_ok=True)
        cls.Archive = TArchive(cls.Tool)
        try:
            cls.ToneId = cls.Archive.AddRecording(9, ToneGraph, Seconds, ATitle='Toonproef', APersons='Links\nRechts')
            for _ in range(2):
                cls.Archive.AddRecording(14, 'sine=f=300:r=8000', 5)
            # The same sound in a codec the browser does not play: heard through the server's Opus stream.
            cls.Archive.AddRecording(16, ToneGraph, Seconds, ACodec=('-c:a', 'adpcm_ima_wav'))
            # A catalogued recording whose file has gone.
            os.remove(cls.Archive.Path(cls.Archive.AddRecording(20, 'sine=f=300:r=8000', 2)))
            cls.Server = TServer(cls.Archive, os.environ['VORNAK_WEB_STATIC'])
        except BaseException:
            cls.Archive.Close()
            raise
        try:
            cls.Browser = TBrowser()
        except BaseException:
            cls.Server.Stop()
            cls.Archive.Close()
            raise
        cls.Driver = cls.Browser.Driver

    @classmethod
    def tearDownClass(cls):
        cls.Browser.Close()
        cls.Server.Stop()
        cls.Archive.Close()

    # ---- helpers ----

    def Shot(self, AName):
        """The whole page at 1280 px and at a phone's 390 px (as tall as its content), into the screenshots."""
        for width in (1280, 390):
            height = 900
            for _ in range(2):  # once to lay the page out at this width, once at its full height
                self.Driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                    'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 600})
                self.Driver.execute_async_script(SettledScript)
                height = max(height, self.Driver.execute_script('return document.documentElement.scrollHeight'))
            self.Driver.save_screenshot(os.path.join(self.Shots, f'{AName}-{width}.png'))
        self.Driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
        self.Driver.execute_async_script(SettledScript)

    def Element(self, AId):
        return self.Driver.find_element(By.ID, AId)

    def Reader(self, AExpression):
        return self.Driver.execute_script(f'return window.vornakReader.{AExpression}')

    def Login(self, AUser, APassword=None):
        self.Driver.get(self.Server.Url + '/')
        WaitFor(lambda: self.Element('viewLogin').is_displayed() or self.Element('viewMain').is_displayed(),
                AWhat='the page')
        if self.Element('viewMain').is_displayed():
            self.Element('btnLogout').click()
            WaitFor(lambda: self.Element('viewLogin').is_displayed(), AWhat='the login form')
        self.Element('edUser').clear()
        self.Element('edUser').send_keys(AUser)
        self.Element('edPassword').send_keys(APassword or Passwords[AUser])
        self.Element('btnLogin').click()

    def LoginAndOpenHour(self, AUser, AHour=9):
        self.Login(AUser)
        WaitFor(lambda: self.Element('viewMain').is_displayed(), AWhat='the calendar')
        tile = self.Element(f'tileHour{AHour}')
        WaitFor(lambda: tile.is_enabled(), AWhat=f'tile {AHour} enabled')
        tile.click()
        WaitFor(lambda: self.Reader('FTimings.WaveDrawn'), AWhat='the waveform drawn')

    def WaveImage(self):
        """The waveform area as drawn: (rows of pixels, its width in CSS px = screenshot px, lane height)."""
        wave = self.Element('wave')
        width, height, rows = DecodePng(wave.screenshot_as_png)
        return rows, width, height

    def XOf(self, ASec, AWidth):
        return int(ASec / Seconds * AWidth)

    # ---- the tests, in order ----

    def test_1_wrongPasswordIsRefusedInDutch(self):
        status, answer = PostJson(self.Server.Url + '/api/login', {'user': 'eddie', 'password': 'fout'})
        self.assertEqual(status, 401)
        self.Login('eddie', 'nog-steeds-fout')
        label = self.Element('lblLoginError')
        WaitFor(lambda: label.text, AWhat='the login error')
        self.assertEqual(label.text, answer['error'])
        self.assertTrue(self.Element('viewLogin').is_displayed())
        self.Shot('login')

    def test_2_dayTilesAndPicker(self):
        self.Login('eddie')
        WaitFor(lambda: self.Element('viewMain').is_displayed(), AWhat='the calendar')
        day = self.Archive.Day.isoformat()
        # Read in one go: the calendar draws its month again when the marked days come in.
        WaitFor(lambda: 'has' in self.Driver.execute_script(
            f'const day = document.querySelector(\'[data-day="{day}"]\'); return day ? day.className : ""'),
                AWhat='today marked')
        WaitFor(lambda: self.Element('tileHour9').is_enabled(), AWhat='tile 9 enabled')
        enabled = [hour for hour in range(24) if self.Element(f'tileHour{hour}').is_enabled()]
        self.assertEqual(enabled, [9, 14, 16, 20])
        self.assertEqual(self.Element('tileHour9').text, '9 - 10 uur')
        self.assertIn('4 opname-uur/uren beschikbaar. Kies een uur.', self.Element('lblStatus').text)
        self.Shot('day')
        self.Element('tileHour14').click()
        WaitFor(lambda: self.Element('dlgPick').is_displayed(), AWhat='the picker')
        self.assertIn('14-15 uur: 2 opnames gevonden. Kies er een:', self.Element('lblPickInfo').text)
        self.assertEqual(len(self.Driver.find_elements(By.CSS_SELECTOR, '#lvItems tr')), 2)
        self.Driver.find_element(By.CSS_SELECTOR, '#dlgPick button[value="cancel"]').click()

    def test_2_reloadKeepsTheSession(self):
        self.Login('anna')
        WaitFor(lambda: self.Element('viewMain').is_displayed(), AWhat='the calendar')
        shown = lambda: self.Element('viewMain').is_displayed() or self.Element('viewLogin').is_displayed()
        self.Driver.refresh()
        WaitFor(shown, AWhat='the reloaded page')
        self.assertTrue(self.Element('viewMain').is_displayed())
        self.assertEqual(self.Element('lblUser').text, 'anna (admin)')
        self.assertTrue(self.Element('btnLogOpen').is_displayed())
        WaitFor(lambda: self.Element('tileHour9').is_enabled(), AWhat='the day after the reload')
        self.Element('btnLogout').click()
        WaitFor(lambda: self.Element('viewLogin').is_displayed(), AWhat='the login form')
        self.Driver.refresh()
        WaitFor(shown, AWhat='the reloaded page')
        self.assertTrue(self.Element('viewLogin').is_displayed())

    def test_2_searchByStemOpensTheRecording(self):
        self.Login('lisa')
        WaitFor(lambda: self.Element('viewMain').is_displayed(), AWhat='the calendar')
        self.Element('btnSearchOpen').click()
        self.Element('edStem').send_keys(self.Archive.Day.strftime('%d%m%Y') + '99')
        self.Element('btnFindFile').click()
        label = self.Element('lblSearchInfo')
        WaitFor(lambda: label.text, AWhat='the not-found message')
        self.assertTrue(label.text.startswith('Geen geldige opname gevonden voor bestandsnaam'), label.text)
        stem = self.Element('edStem')
        stem.clear()
        stem.send_keys(self.Archive.Day.strftime('%d%m%Y') + '091')
        self.Element('btnFindFile').click()
        WaitFor(lambda: self.Reader('FTimings.WaveDrawn'), AWhat='the found recording loaded')
        self.assertIn('sel', self.Element('tileHour9').get_attribute('class'))

    def test_3_waveformIsDrawnAtTheRulersTimes(self):
        self.LoginAndOpenHour('eddie')
        rows, width, height = self.WaveImage()
        lane = 96
        def Green(ASec, ALane):
            x = self.XOf(ASec, width)
            top = ALane * lane
            return sum(1 for y in range(top + 4, top + lane - 4) if rows[y][x] == WaveRgb)
        cases = [(6.0, 0, True), (2.0, 0, False), (10.0, 0, False), (14.0, 1, True), (6.0, 1, False),
                 (18.0, 1, False), (4.3, 0, True), (3.6, 0, False), (7.7, 0, True), (8.4, 0, False)]
        for sec, laneIndex, sound in cases:
            with self.subTest(sec=sec, lane=laneIndex):
                count = Green(sec, laneIndex)
                if sound:
                    self.assertGreater(count, lane // 3)
                else:
                    self.assertLessEqual(count, 2)

    def test_3_zoomButtonsChangeTheScale(self):
        self.LoginAndOpenHour('eddie')
        width = lambda: self.Driver.execute_script('return window.vornakReader.FWave.Surfer.getWrapper().scrollWidth')
        fit = width()
        self.Element('btnZoomIn').click()
        WaitFor(lambda: abs(width() - 2 * fit) <= 2, AWhat='twice as wide')
        self.Reader('FWave.Select(4, 6)')
        self.Element('btnZoomSel').click()
        WaitFor(lambda: abs(width() - 10 * fit) <= 10, AWhat='the selection across the view')
        self.Element('btnZoomAll').click()
        WaitFor(lambda: width() == fit, AWhat='the whole recording again')
        ActionChains(self.Driver).scroll_from_origin(ScrollOrigin.from_element(self.Element('wave')), 0, -400).perform()
        WaitFor(lambda: width() > fit, AWhat='the wheel zooming in')

    def test_4_playMovesTheClock(self):
        self.LoginAndOpenHour('eddie')
        wave = self.Element('wave')
        width = wave.size['width']
        ActionChains(self.Driver).move_to_element_with_offset(wave, self.XOf(10.0, width) - width // 2, 40).click().perform()
        WaitFor(lambda: self.Element('lblClock').text.startswith('00:10') or self.Element('lblClock').text.startswith('00:09'),
                AWhat='a click moving the play cursor to 10 s')
        self.Element('cbSpeed').send_keys('2')
        self.assertEqual(self.Driver.execute_script(
            'const p = document.getElementById("player"); return [p.playbackRate, p.preservesPitch]'), [2, True])
        self.Element('btnStop').click()
        WaitFor(lambda: self.Element('lblClock').text == '00:00.000', AWhat='Stop back to the start')
        self.Element('btnPlay').click()
        WaitFor(lambda: self.Element('lblClock').text not in ('', '00:00.000'), AWhat='the clock moving')
        first = self.Element('lblClock').text
        WaitFor(lambda: self.Element('lblClock').text > first, AWhat='the clock advancing')
        paused = lambda: self.Driver.execute_script('return document.getElementById("player").paused')
        ActionChains(self.Driver).send_keys(Keys.SPACE).perform()  # the focus is still on the play button
        WaitFor(paused, AWhat='Space pausing')
        ActionChains(self.Driver).send_keys(Keys.SPACE).perform()
        WaitFor(lambda: not paused(), AWhat='Space playing again')
        self.Element('btnPause').click()
        WaitFor(paused, AWhat='the pause button')
        ActionChains(self.Driver).send_keys(Keys.HOME).perform()
        WaitFor(lambda: self.Element('lblClock').text == '00:00.000', AWhat='Home back to the start')
        ActionChains(self.Driver).send_keys(Keys.RIGHT).perform()
        WaitFor(lambda: self.Element('lblClock').text == '00:05.000', AWhat='Right 5 s on')
        ActionChains(self.Driver).key_down(Keys.SHIFT).send_keys(Keys.LEFT).key_up(Keys.SHIFT).perform()
        WaitFor(lambda: self.Element('lblClock').text == '00:04.000', AWhat='Shift+Left 1 s back')
        ActionChains(self.Driver).send_keys(Keys.END).perform()
        WaitFor(lambda: self.Element('lblClock').text == '00:20.000', AWhat='End')

    def test_4_recordingThatCannotBeLoadedLeavesNothingToPlay(self):
        self.LoginAndOpenHour('eddie')
        self.Element('tileHour20').click()
        WaitFor(lambda: self.Element('lblStatus').text == 'Niet gevonden', AWhat='the refusal in the status line')
        self.assertEqual(self.Driver.execute_script('return document.getElementById("player").getAttribute("src")'), None)
        self.Element('btnPlay').click()
        self.assertEqual(self.Element('lblClock').text, '00:00.000')
        self.assertTrue(self.Driver.execute_script('return document.getElementById("player").paused'))

    def test_4_streamedRecordingSeeksFromTheNewStart(self):
        self.LoginAndOpenHour('eddie', 16)
        source = lambda: self.Driver.execute_script('return document.getElementById("player").currentSrc')
        start = lambda: float(re.search(r'/audio\?as=opus&start=([0-9.]+)$', source()).group(1))
        WaitFor(lambda: source().endswith('/audio?as=opus&start=0.000'), AWhat='the Opus stream from the start')
        ActionChains(self.Driver).send_keys(Keys.RIGHT).send_keys(Keys.RIGHT).perform()
        WaitFor(lambda: source().endswith('/audio?as=opus&start=10.000'), AWhat='the stream asked for again from 10 s')
        self.assertEqual(self.Element('lblClock').text, '00:10.000')
        self.Element('btnPlay').click()
        WaitFor(lambda: self.Element('lblClock').text >= '00:10.300', AWhat='the clock moving on from 10 s')
        self.Element('btnPause').click()
        WaitFor(lambda: self.Driver.execute_script('return document.getElementById("player").paused'), AWhat='paused')
        recording, stream = self.Driver.execute_script(
            'return [window.vornakReader.FWave.Surfer.getCurrentTime(), document.getElementById("player").currentTime]')
        self.assertAlmostEqual(recording - stream, 10.0, delta=0.001)
        whole, millis = divmod(int(recording * 1000 + 1e-6), 1000)
        self.assertEqual(self.Element('lblClock').text, f'{whole // 60:02d}:{whole % 60:02d}.{millis:03d}')
        # The waveform's cursor stands at the recording's time on the ruler.
        self.Driver.execute_async_script(SettledScript)
        rows, width, _ = self.WaveImage()
        red = {x: rows[8][x][0] - 16 for x in range(width) if rows[8][x][0] > 64 and rows[8][x][1] < 48}
        self.assertTrue(red, 'no cursor drawn')
        middle = sum(x * weight for x, weight in red.items()) / sum(red.values())
        self.assertLessEqual(abs(middle + 0.5 - recording / Seconds * width), 1.5, red)
        # Seeking back before the stream's start asks for it again from there.
        ActionChains(self.Driver).key_down(Keys.SHIFT).send_keys(Keys.LEFT).key_up(Keys.SHIFT).perform()
        WaitFor(lambda: abs(start() - (recording - 1)) < 0.002, AWhat='the stream asked for again 1 s back')

    def test_5_selectionExportEqualsTheTool(self):
        self.LoginAndOpenHour('eddie')
        wave = self.Element('wave')
        width = wave.size['width']
        startX, endX = self.XOf(4.0, width), self.XOf(6.0, width)
        ActionChains(self.Driver).move_to_element_with_offset(wave, startX - width // 2, 40).click_and_hold() \
            .move_by_offset((endX - startX) // 2, 0).move_by_offset(endX - startX - (endX - startX) // 2, 0) \
            .release().perform()
        selection = WaitFor(lambda: self.Reader('FWave.Selection()'), AWhat='a selection')
        self.assertAlmostEqual(selection['End'] - selection['Start'], 2.0, delta=0.1)
        self.assertRegex(self.Element('lblStatus').get_attribute('textContent'), r'^Selectie: 00:0[34] - 00:0[56]  \(00:0[12]\)$')
        self.Shot('selection')
        self.Element('btnExportOpen').click()
        self.Element('cbFormat').send_keys('WAV')
        self.assertTrue(self.Element('rbSel').is_selected())
        self.Shot('export')
        url = self.Reader('ExportUrl()')
        self.Element('btnExport').click()
        folder = self.Browser.Downloads
        files = WaitFor(lambda: [name for name in os.listdir(folder) if not name.endswith('.crdownload')],
                        AWhat='the download')
        with open(os.path.join(folder, files[0]), 'rb') as handle:
            downloaded = handle.read()
        query = dict(pair.split('=') for pair in url.split('?')[1].split('&'))
        expected = os.path.join(self.Archive.Dir, 'expected.wav')
        source = os.path.join(self.Archive.Root, self.Archive.Day.strftime('%Y/%m/%d'),
                              f"{self.Archive.Day.strftime('%d%m%Y')}091.wav")
        subprocess.run([self.Tool, 'export', source, expected, '--format', 'wav', '--start', query['start'],
                        '--end', query['end']], check=True, capture_output=True)
        with open(expected, 'rb') as handle:
            self.assertEqual(downloaded, handle.read())

    def test_6_editRoleChangesTheTitle(self):
        self.LoginAndOpenHour('eddie')
        self.Element('btnMetaOpen').click()
        title = self.Element('edTitle')
        title.clear()
        title.send_keys('Nieuwe titel')
        self.Element('btnMetaOk').click()
        WaitFor(lambda: not self.Element('dlgMeta').is_displayed(), AWhat='the editor closed')
        self.assertEqual(self.Archive.Title(self.ToneId)[0], 'Nieuwe titel')

    def test_7_listenRoleHasNoExport(self):
        self.LoginAndOpenHour('lisa')
        self.assertFalse(self.Element('btnExportOpen').is_displayed())
        self.assertFalse(self.Element('btnMetaOpen').is_displayed())
        status = self.Driver.execute_async_script(
            'const done = arguments[arguments.length - 1];'
            f'fetch("/api/recordings/{self.ToneId}/export?start=0&end=2&format=wav").then(r => done(r.status));')
        self.assertEqual(status, 403)

    def test_8_adminReadsTheAccessLog(self):
        self.Login('anna')
        WaitFor(lambda: self.Element('btnLogOpen').is_displayed(), AWhat='the access log button')
        self.Element('btnLogOpen').click()
        WaitFor(lambda: self.Driver.find_elements(By.CSS_SELECTOR, '#lvLog tr'), AWhat='access log rows')
        actions = {(cell.get_attribute('data-action'), cell.text)
                   for cell in self.Driver.find_elements(By.CSS_SELECTOR, '#lvLog tr td:nth-child(4)')}
        self.assertTrue({('login', 'aanmelden'), ('login_failed', 'aanmelden mislukt'), ('export', 'exporteren')} <= actions,
                        actions)
        self.Shot('accesslog')

    def test_9_throttledLoginSaysWhenToTryAgain(self):
        for _ in range(5):
            PostJson(self.Server.Url + '/api/login', {'user': 'onbekend', 'password': 'x'})
        self.Login('onbekend', 'x')
        label = self.Element('lblLoginError')
        WaitFor(lambda: label.text, AWhat='the throttle message')
        self.assertRegex(label.text, r'Probeer het opnieuw om \d\d:\d\d')


if __name__ == '__main__':
    unittest.main(verbosity=2)

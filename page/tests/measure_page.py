#!/usr/bin/python3
# The page's timings in the headless browser over loopback against `vornak-tool serve`, medians of RUNS:
# login to the calendar shown; hour click to the whole waveform drawn, uncached (the server analyses the
# recording) and cached; the sound ready to play; Play (pressed in the first frame after the waveform is
# drawn) to the clock moving. Figures only: nothing here passes or fails on time.
#   measure_page.py TOOL STATIC AUDIO [RUNS]     (AUDIO: a one-hour benchmark fixture)
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import TBrowser  # noqa: E402
from served import Passwords, TArchive, TServer, WaitFor  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402


PlayOnceDrawn = '''
const timings = window.vornakReader.FTimings;
timings.WaveDrawn = undefined;
const look = () => (timings.WaveDrawn ? document.getElementById('btnPlay').click() : requestAnimationFrame(look));
requestAnimationFrame(look);
'''


def Timing(ADriver, AName):
    return WaitFor(lambda: ADriver.execute_script(f'return window.vornakReader.FTimings.{AName} || null'),
                   120, AName)


def main():
    tool, static, audio = sys.argv[1:4]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    rows = {'login to calendar shown': [], 'hour click to waveform drawn, uncached': [],
            'hour click to waveform drawn, cached': [], '  of which the answers (list, details, peaks)': [],
            '  of which the envelope prepared': [], '  of which wavesurfer.js drawing both lanes and the overview': [],
            'hour click to the sound ready to play (cached)': [], 'Play to the clock moving': []}
    for _ in range(runs):
        archive = TArchive(tool)
        server = browser = None
        try:
            archive.AddFile(11, os.path.abspath(audio), 3600)
            server = TServer(archive, static)
            browser = TBrowser()
            driver = browser.Driver
            for cached in (False, True):
                driver.get(server.Url + '/')
                WaitFor(lambda: driver.find_element(By.ID, 'edUser').is_displayed(), AWhat='login')
                driver.find_element(By.ID, 'edUser').send_keys('eddie')
                driver.find_element(By.ID, 'edPassword').send_keys(Passwords['eddie'])
                driver.find_element(By.ID, 'btnLogin').click()
                shown = Timing(driver, 'CalendarShown') - Timing(driver, 'LoginStart')
                tile = driver.find_element(By.ID, 'tileHour11')
                WaitFor(tile.is_enabled, AWhat='tile 11')
                if cached:
                    # Play is pressed in the first frame after the waveform is drawn: the quickest a person could.
                    driver.execute_script(PlayOnceDrawn)
                tile.click()
                drawn = Timing(driver, 'WaveDrawn') - Timing(driver, 'HourClick')
                rows['hour click to waveform drawn, cached' if cached else 'hour click to waveform drawn, uncached'].append(drawn)
                if cached:
                    rows['  of which the answers (list, details, peaks)'].append(Timing(driver, 'Fetched') - Timing(driver, 'HourClick'))
                    rows['  of which the envelope prepared'].append(Timing(driver, 'Prepared') - Timing(driver, 'Fetched'))
                    rows['  of which wavesurfer.js drawing both lanes and the overview'].append(Timing(driver, 'WaveDrawn') - Timing(driver, 'Prepared'))
                if cached:
                    rows['hour click to the sound ready to play (cached)'].append(
                        Timing(driver, 'SoundReady') - Timing(driver, 'HourClick'))
                    rows['login to calendar shown'].append(shown)
                    rows['Play to the clock moving'].append(Timing(driver, 'ClockMoved') - Timing(driver, 'PlayClick'))
                driver.find_element(By.ID, 'btnLogout').click()
                WaitFor(lambda: driver.find_element(By.ID, 'edUser').is_displayed(), AWhat='logged out')
        finally:
            if browser:
                browser.Close()
            if server:
                server.Stop()
            archive.Close()
    print(f'{os.path.basename(audio)}, {runs} runs, medians (ms)')
    for name, values in rows.items():
        print(f'{name}\t{statistics.median(values):.0f}\t(' + ', '.join(f'{value:.0f}' for value in values) + ')')


if __name__ == '__main__':
    main()

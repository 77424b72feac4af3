#!/usr/bin/python3
# Measures wavesurfer.js and peaks.js on one recording in the headless browser: the first draw of the whole
# recording at 1280 px, a zoom to one minute, and the play cursor against the media clock for 4 s of play.
#   measure_components.py TOOL HARNESS_DIR AUDIO [RUNS]
# TOOL is vornak-tool (its envelope of AUDIO feeds both), HARNESS_DIR the built harness (target web_harness).
import json
import os
import statistics
import subprocess
import sys

from browser import TBrowser, ServeFolder
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.support.ui import WebDriverWait


def Envelope(ATool, AAudio):
    lines = subprocess.run([ATool, 'envelope', AAudio, '--dump', '--no-cache'], check=True,
                           capture_output=True, text=True).stdout.splitlines()
    fields = {}
    data = []
    for line in lines:
        if '=' in line:
            key, value = line.split('=', 1)
            fields[key] = value
        elif line.strip():
            data.extend(int(value) for value in line.split())
    rate = int(fields['rate'])
    perPoint = int(fields['frames_per_point'])
    return {'seconds_per_point': perPoint / rate, 'rate': rate, 'frames_per_point': perPoint,
            'duration': float(fields['duration']), 'channels': int(fields['channels']), 'data': data}


def main():
    tool, harness, audio = sys.argv[1:4]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    envelope = Envelope(tool, audio)
    with open(os.path.join(harness, 'envelope.json'), 'w') as handle:
        json.dump(envelope, handle)
    server, base = ServeFolder(harness, {'/audio': os.path.abspath(audio)})
    results = {}
    try:
        for run in range(runs):
            for lib in ('wavesurfer', 'peaks'):
                browser = TBrowser()
                try:
                    browser.Driver.get(f'{base}/harness.html?lib={lib}')
                    try:
                        result = WebDriverWait(browser.Driver, 120, poll_frequency=0.2).until(
                            lambda ADriver: ADriver.execute_script('return window.harnessResult || null'))
                    except TimeoutException:
                        result = None
                    if result is None or 'Error' in result:
                        print(f'{lib}: {result}', file=sys.stderr)
                        for entry in browser.Driver.get_log('browser'):
                            print(entry, file=sys.stderr)
                        sys.exit(1)
                    results.setdefault(lib, []).append(result)
                finally:
                    browser.Close()
    finally:
        server.shutdown()
    keys = ['DrawMs', 'ZoomMs', 'HeapMb', 'FollowMeanMs', 'FollowMaxMs', 'CursorMovedShare', 'FramesSampled']
    print(f"points={len(envelope['data']) // 4} duration={envelope['duration']:.1f}s runs={runs} (medians)")
    print('library\t' + '\t'.join(keys))
    for lib, rows in results.items():
        print(lib + '\t' + '\t'.join(f'{statistics.median(row[key] for row in rows):.2f}' for key in keys))


if __name__ == '__main__':
    main()

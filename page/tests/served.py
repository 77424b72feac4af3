# A catalogue, recordings, accounts and running `vornak-tool serve` processes for the page's tests, all in
# one temporary folder that Close() removes; the servers listen on 127.0.0.1 only.
import datetime
import os
import shutil
import socket
import sqlite3
import struct
import subprocess
import tempfile
import zlib

from selenium.common.exceptions import TimeoutException
from selenium.webdriver.support.ui import WebDriverWait

RecorderTableSql = (
    'CREATE TABLE IF NOT EXISTS recordings ( id INTEGER PRIMARY KEY AUTOINCREMENT, rec_dt TEXT NOT NULL,'
    ' rec_date TEXT NOT NULL, rec_hour INTEGER NOT NULL, rec_number INTEGER NOT NULL, format TEXT NOT NULL,'
    ' filename TEXT NOT NULL, filepath TEXT NOT NULL, title TEXT NOT NULL DEFAULT \'\','
    ' persons TEXT NOT NULL DEFAULT \'\', duration_sec INTEGER NOT NULL DEFAULT 0)')

Passwords = {'lisa': 'luister-2026', 'eddie': 'bewerk-2026', 'anna': 'beheer-2026'}
Roles = {'lisa': 'listen', 'eddie': 'edit', 'anna': 'admin'}


def FreePort():
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        return probe.getsockname()[1]


class TArchive:
    """Catalogue DB and recordings under Root, dated today; accounts in Users."""

    def __init__(self, ATool):
        self.Tool = ATool
        self.Dir = tempfile.mkdtemp(prefix='vornak-page-')
        self.Root = os.path.join(self.Dir, 'Recordings')
        self.Db = os.path.join(self.Dir, 'Vornak2026.sqlite')
        self.Users = os.path.join(self.Dir, 'users')
        self.Cache = os.path.join(self.Dir, 'cache')
        self.State = os.path.join(self.Dir, 'state')
        self.AccessLog = os.path.join(self.Dir, 'access.log')
        self.Day = datetime.date.today()
        os.makedirs(self.Root)
        with sqlite3.connect(self.Db) as db:
            db.execute(RecorderTableSql)
        for name, role in Roles.items():
            subprocess.run([ATool, 'user', 'add', name, '--role', role, '--users', self.Users],
                           input=Passwords[name] + '\n', text=True, check=True, capture_output=True)

    def AddRecording(self, AHour, AFfmpegInput, ASeconds, AExt='wav', ATitle='', APersons='', ACodec=()):
        """Renders ASeconds of the lavfi graph AFfmpegInput into the recorder's place (ACodec: ffmpeg's output
        options, for a codec of its own); returns the row's id."""
        with sqlite3.connect(self.Db) as db:
            number = 1 + db.execute('SELECT COUNT(*) FROM recordings WHERE rec_date=? AND rec_hour=?',
                                    (self.Day.isoformat(), AHour)).fetchone()[0]
            folder = os.path.join(self.Root, self.Day.strftime('%Y/%m/%d'))
            os.makedirs(folder, exist_ok=True)
            name = f"{self.Day.strftime('%d%m%Y')}{AHour:02d}{number}.{AExt}"
            path = os.path.join(folder, name)
            subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i', AFfmpegInput, '-t', str(ASeconds), *ACodec, path],
                           check=True)
            cursor = db.execute(
                'INSERT INTO recordings (rec_dt, rec_date, rec_hour, rec_number, format, filename, filepath, title,'
                ' persons, duration_sec) VALUES (?,?,?,?,?,?,?,?,?,?)',
                (f'{self.Day.isoformat()} {AHour:02d}:{number:02d}:00', self.Day.isoformat(), AHour, number,
                 AExt.upper(), name, path, ATitle, APersons, int(ASeconds)))
            return cursor.lastrowid

    def AddFile(self, AHour, APath, ASeconds):
        """Catalogues a copy of an existing file (a benchmark fixture) as recording 1 of AHour today."""
        folder = os.path.join(self.Root, self.Day.strftime('%Y/%m/%d'))
        os.makedirs(folder, exist_ok=True)
        ext = os.path.splitext(APath)[1][1:]
        name = f"{self.Day.strftime('%d%m%Y')}{AHour:02d}1.{ext}"
        path = os.path.join(folder, name)
        shutil.copyfile(APath, path)
        with sqlite3.connect(self.Db) as db:
            cursor = db.execute(
                'INSERT INTO recordings (rec_dt, rec_date, rec_hour, rec_number, format, filename, filepath,'
                ' duration_sec) VALUES (?,?,?,?,?,?,?,?)',
                (f'{self.Day.isoformat()} {AHour:02d}:00:00', self.Day.isoformat(), AHour, 1, ext.upper(), name, path,
                 int(ASeconds)))
            return cursor.lastrowid

    def Path(self, AId):
        with sqlite3.connect(self.Db) as db:
            return db.execute('SELECT filepath FROM recordings WHERE id=?', (AId,)).fetchone()[0]

    def Title(self, AId):
        with sqlite3.connect(self.Db) as db:
            return db.execute('SELECT title, persons FROM recordings WHERE id=?', (AId,)).fetchone()

    def Close(self):
        shutil.rmtree(self.Dir, ignore_errors=True)


class TServer:
    """One `vornak-tool serve` process of AArchive; Url is its own address."""

    def __init__(self, AArchive, AStatic, AExtra=()):
        self.Port = FreePort()
        self.Url = f'http://127.0.0.1:{self.Port}'
        self.FLog = open(os.path.join(AArchive.Dir, f'serve-{self.Port}.err'), 'w+')
        self.Process = subprocess.Popen(
            [AArchive.Tool, 'serve', AArchive.Db, AArchive.Root, '--listen', f'127.0.0.1:{self.Port}',
             '--users', AArchive.Users, '--access-log', AArchive.AccessLog, '--cache', AArchive.Cache,
             '--state', AArchive.State, '--static', AStatic, *AExtra],
            stdout=subprocess.PIPE, stderr=self.FLog, text=True)
        line = self.Process.stdout.readline().strip()
        if not line.startswith('listening='):
            self.FLog.seek(0)
            raise RuntimeError(f'serve did not start: {line!r} {self.FLog.read()}')

    def Stop(self):
        if self.Process.poll() is None:
            self.Process.terminate()
            try:
                self.Process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.Process.kill()
                self.Process.wait()
        self.Process.stdout.close()
        self.FLog.close()


def DecodePng(AData):
    """(width, height, rows of RGB tuples) of an 8-bit RGB or RGBA PNG, as the browser's screenshots are."""
    assert AData[:8] == b'\x89PNG\r\n\x1a\n'
    offset = 8
    chunks = b''
    while offset < len(AData):
        length, kind = struct.unpack('>I4s', AData[offset:offset + 8])
        body = AData[offset + 8:offset + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour = struct.unpack('>IIBB', body[:10])
        elif kind == b'IDAT':
            chunks += body
        offset += 12 + length
    assert depth == 8 and colour in (2, 6)
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(chunks)
    stride = width * channels
    rows = []
    previous = bytearray(stride)
    position = 0
    for _ in range(height):
        kind = raw[position]
        line = bytearray(raw[position + 1:position + 1 + stride])
        position += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            upLeft = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                estimate = left + up - upLeft
                pa, pb, pc = abs(estimate - left), abs(estimate - up), abs(estimate - upLeft)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else upLeft)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def WaitFor(ACondition, ASeconds=30, AWhat='condition'):
    """Polls ACondition until it gives a true value (returned) or ASeconds pass (AssertionError)."""
    try:
        return WebDriverWait(None, ASeconds, poll_frequency=0.05).until(lambda _: ACondition())
    except TimeoutException:
        raise AssertionError(f'timed out waiting for {AWhat}') from None

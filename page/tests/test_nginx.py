#!/usr/bin/python3
# Two `vornak-tool serve` processes with one state and cache folder behind Debian's nginx (loopback ports,
# TLS with a certificate made here) act as one: a session made through one is valid on the other, a logout
# through one ends it on both, the login throttle counts across both, and when one is killed nginx serves on
# through the other without losing the session.
# Environment: VORNAK_TOOL (vornak-tool), VORNAK_WEB_STATIC (the built page).
import http.client
import json
import os
import signal
import ssl
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from served import FreePort, Passwords, TArchive, TServer, WaitFor  # noqa: E402

NginxConf = '''
worker_processes 1;
error_log {dir}/error.log warn;
pid {dir}/nginx.pid;
events {{ worker_connections 64; }}
http {{
    access_log off;
    client_body_temp_path {dir}/body;
    proxy_temp_path {dir}/proxy;
    fastcgi_temp_path {dir}/fastcgi;
    uwsgi_temp_path {dir}/uwsgi;
    scgi_temp_path {dir}/scgi;
    upstream vornak_reader {{
        server 127.0.0.1:{first} max_fails=1 fail_timeout=30s;
        server 127.0.0.1:{second} max_fails=1 fail_timeout=30s;
    }}
    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {dir}/cert.pem;
        ssl_certificate_key {dir}/key.pem;
        location / {{
            proxy_pass http://vornak_reader;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_set_header Host $http_host;
            proxy_set_header X-Forwarded-For $remote_addr;
            proxy_set_header X-Forwarded-Proto $scheme;
            proxy_next_upstream error timeout http_502 http_503;
            proxy_connect_timeout 2s;
        }}
    }}
}}
'''


class TNginx:
    def __init__(self, AFolder, AFirst, ASecond):
        self.Dir = os.path.join(AFolder, 'nginx')
        os.makedirs(self.Dir)
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1', '-subj', '/CN=127.0.0.1',
                        '-addext', 'subjectAltName=IP:127.0.0.1', '-keyout', f'{self.Dir}/key.pem',
                        '-out', f'{self.Dir}/cert.pem'], check=True, capture_output=True)
        self.Port = FreePort()
        with open(f'{self.Dir}/nginx.conf', 'w') as handle:
            handle.write(NginxConf.format(dir=self.Dir, first=AFirst, second=ASecond, port=self.Port))
        self.Process = subprocess.Popen(['nginx', '-p', self.Dir, '-c', f'{self.Dir}/nginx.conf', '-g', 'daemon off;'],
                                        stderr=subprocess.DEVNULL)
        self.Context = ssl.create_default_context(cafile=f'{self.Dir}/cert.pem')
        try:
            WaitFor(self.Answers, AWhat='nginx listening')
        except BaseException:
            self.Stop()
            raise

    def Answers(self):
        try:
            connection = http.client.HTTPSConnection('127.0.0.1', self.Port, context=self.Context, timeout=5)
            connection.request('GET', '/')
            connection.getresponse().read()
            connection.close()
            return True
        except OSError:
            return False

    def Stop(self):
        self.Process.terminate()
        self.Process.wait(timeout=10)


def Request(AConnection, AOrigin, AMethod, APath, ABody=None, ACookie=None):
    headers = {'Origin': AOrigin}
    if ABody is not None:
        headers['Content-Type'] = 'application/json'
    if ACookie:
        headers['Cookie'] = ACookie
    AConnection.request(AMethod, APath, body=json.dumps(ABody) if ABody is not None else None, headers=headers)
    answer = AConnection.getresponse()
    result = answer.status, answer.getheader('Set-Cookie') or '', answer.read()
    AConnection.close()
    return result


class TestNginxPair(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tool = os.environ['VORNAK_TOOL']
        static = os.environ['VORNAK_WEB_STATIC']
        cls.Archive = TArchive(tool)
        cls.First = cls.Second = cls.Nginx = None
        try:
            cls.Archive.AddRecording(10, 'sine=f=440:r=8000', 3)
            cls.First = TServer(cls.Archive, static)
            cls.Second = TServer(cls.Archive, static)
            cls.Nginx = TNginx(cls.Archive.Dir, cls.First.Port, cls.Second.Port)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for part in (cls.Nginx, cls.First, cls.Second):
            if part:
                part.Stop()
        cls.Archive.Close()

    def Proxy(self):
        return http.client.HTTPSConnection('127.0.0.1', self.Nginx.Port, context=self.Nginx.Context, timeout=30)

    def Direct(self, AServer):
        return http.client.HTTPConnection('127.0.0.1', AServer.Port, timeout=30)

    def ProxyOrigin(self):
        return f'https://127.0.0.1:{self.Nginx.Port}'

    def Login(self, AUser):
        status, cookie, _ = Request(self.Proxy(), self.ProxyOrigin(), 'POST', '/api/login',
                                    {'user': AUser, 'password': Passwords[AUser]})
        self.assertEqual(status, 200)
        return cookie

    def Days(self, AServer, ACookie):
        month = self.Archive.Day.strftime('%Y-%m')
        return Request(self.Direct(AServer), AServer.Url, 'GET', f'/api/days?month={month}', ACookie=ACookie)[0]

    def test_0_forwardedHeadersOnlyFromTrustedProxies(self):
        # A server that trusts another address than ours: our forged headers change neither the cookie nor
        # the address in the access log.
        third = TServer(self.Archive, os.environ['VORNAK_WEB_STATIC'], ['--trusted-proxy', '192.0.2.1'])
        try:
            connection = self.Direct(third)
            connection.request('POST', '/api/login', body=json.dumps({'user': 'eddie', 'password': Passwords['eddie']}),
                               headers={'Content-Type': 'application/json', 'Origin': third.Url,
                                        'X-Forwarded-Proto': 'https', 'X-Forwarded-For': '203.0.113.7'})
            answer = connection.getresponse()
            answer.read()
            connection.close()
            self.assertEqual(answer.status, 200)
            self.assertNotIn('Secure', answer.getheader('Set-Cookie'))
        finally:
            third.Stop()
        with open(self.Archive.AccessLog) as handle:
            last = json.loads(handle.read().splitlines()[-1])
        self.assertEqual((last['action'], last['address']), ('login', '127.0.0.1'))

    def test_1_sessionThroughTheProxyIsSecureAndValidOnBoth(self):
        setCookie = self.Login('eddie')
        self.assertIn('Secure', setCookie)
        self.assertIn('HttpOnly', setCookie)
        cookie = setCookie.split(';')[0]
        self.assertEqual(self.Days(self.First, cookie), 200)
        self.assertEqual(self.Days(self.Second, cookie), 200)

    def test_2_logoutThroughOneEndsItOnBoth(self):
        cookie = self.Login('lisa').split(';')[0]
        self.assertEqual(self.Days(self.Second, cookie), 200)
        status, _, _ = Request(self.Direct(self.First), self.First.Url, 'POST', '/api/logout', {}, cookie)
        self.assertEqual(status, 200)
        self.assertEqual(self.Days(self.First, cookie), 401)
        self.assertEqual(self.Days(self.Second, cookie), 401)

    def test_3_killingOneKeepsServingTheSession(self):
        cookie = self.Login('anna').split(';')[0]
        self.First.Process.send_signal(signal.SIGKILL)
        self.First.Process.wait()
        month = self.Archive.Day.strftime('%Y-%m')
        for _ in range(6):
            status, _, body = Request(self.Proxy(), self.ProxyOrigin(), 'GET', f'/api/days?month={month}', ACookie=cookie)
            self.assertEqual(status, 200)
            self.assertEqual(json.loads(body)['days'], [self.Archive.Day.isoformat()])
        self.assertEqual(self.Days(self.Second, cookie), 200)

    def test_4_throttleCountsAcrossBoth(self):
        # The first server may be gone (test 3): the failures go directly to the second and through nginx.
        servers = [(self.Direct(self.Second), self.Second.Url), (self.Proxy(), self.ProxyOrigin())]
        for attempt in range(5):
            connection, origin = servers[attempt % 2]
            status, _, _ = Request(connection, origin, 'POST', '/api/login', {'user': 'onbekend', 'password': 'x'})
            self.assertEqual(status, 401)
        for connection, origin in ((self.Direct(self.Second), self.Second.Url), (self.Proxy(), self.ProxyOrigin())):
            status, _, _ = Request(connection, origin, 'POST', '/api/login', {'user': 'onbekend', 'password': 'x'})
            self.assertEqual(status, 429)


if __name__ == '__main__':
    unittest.main(verbosity=2)

#!/usr/bin/env python3
"""Load runs against velmora-server on loopback, by hand (minutes, not for CI).

    scripts/services-load.py [BUILD_DIR] [--only NAME ...]

Starts the three services on free loopback ports with a temporary database and measures:
slow connections beside a normal client (from one address and from 30), header and body
floods with the server's memory, the lockout attack with the rightful user, answers per
second on a kept-alive connection, the registration and gateway limits. Prints one line per
figure. Client addresses are taken from 127.0.0.0/8.
"""

import http.client
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

BUILD = "build-release" if os.path.isdir("build-release") else "build"
ONLY = []
args = sys.argv[1:]
while args:
    word = args.pop(0)
    if word == "--only":
        ONLY.append(args.pop(0))
    else:
        BUILD = word
SERVER = os.path.join(BUILD, "services", "velmora-server")
DATA_PAGE = "/testone.php?user=vmds&pwd=6f1c2e9a4b7d30581e6a9c2f4d8b7e13"
LOGIN = "/weborbalt/chklogin.asp?getcode=4827"
SMS = ("/GateWay/Services.asmx/DirectSend?UserID=602318&Account=vlmsg&Password={password}"
       "&Phones={phone};&Content=code&SendTime=&SendType=1&PostFixNumber=")


def report(name, value):
    print(f"{name}: {value}", flush=True)


class Server:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="velmora-load-")
        self.db = os.path.join(self.dir, "accounts.db")
        subprocess.run([SERVER, "accounts", "add", "victim", "victim-password", "--active",
                        "--db", self.db], check=True, stdout=subprocess.DEVNULL)
        self.process = subprocess.Popen(
            [SERVER, "--port", "0", "--website-port", "0", "--sms-port", "0", "--db", self.db,
             "--outbox", os.path.join(self.dir, "outbox.txt"), "--history-days", "400"],
            stdout=subprocess.PIPE, text=True)
        self.ports = {}
        for _ in range(3):
            line = self.process.stdout.readline()
            found = re.match(r"(\w+) listening on http://127.0.0.1:(\d+)", line)
            self.ports[found.group(1)] = int(found.group(2))

    def rss_kib(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.process.terminate()
        self.process.wait()


def request(port, method, path, body=None, source="127.0.0.1", timeout=30):
    """(status, body text, seconds); status 0 when there was no answer."""
    start = time.monotonic()
    try:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout,
                                                source_address=(source, 0))
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else {}
        connection.request(method, path, body=body, headers=headers)
        answer = connection.getresponse()
        text = answer.read().decode("gbk", "replace")
        connection.close()
        return answer.status, text, time.monotonic() - start
    except OSError:
        return 0, "", time.monotonic() - start


def slow_connections(server, service, path, addresses, count, seconds=15):
    """Keeps `count` connections from `addresses` sending a byte a second (reconnecting when
    dropped) while a normal client asks every quarter second; the normal client's slowest
    answer and how many it did not get."""
    stop = threading.Event()
    port = server.ports[service]

    def attacker(source):
        sock = None
        while not stop.is_set():
            try:
                if sock is None:
                    sock = socket.create_connection(("127.0.0.1", port), timeout=2,
                                                    source_address=(source, 0))
                    sock.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ")
                sock.sendall(b"a")
                time.sleep(1)
            except OSError:
                if sock:
                    sock.close()
                sock = None
                time.sleep(0.1)
        if sock:
            sock.close()

    threads = [threading.Thread(target=attacker, args=(addresses[i % len(addresses)],))
               for i in range(count)]
    for thread in threads:
        thread.start()
    time.sleep(2)
    slowest, missed, end = 0.0, 0, time.monotonic() + seconds
    while time.monotonic() < end:
        status, _, took = request(port, "GET", path, timeout=30)
        slowest = max(slowest, took)
        missed += status != 200
        time.sleep(0.25)
    stop.set()
    for thread in threads:
        thread.join()
    return slowest, missed


def flood(server, port, make, connections=20, seconds=10):
    """Runs `make(sock, stop)` on `connections` sockets; the server's peak memory above idle."""
    idle = server.rss_kib()
    stop = threading.Event()
    peak = [idle]

    def worker():
        while not stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
                    make(sock, stop)
            except OSError:
                time.sleep(0.05)

    threads = [threading.Thread(target=worker) for _ in range(connections)]
    for thread in threads:
        thread.start()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        peak[0] = max(peak[0], server.rss_kib())
        time.sleep(0.05)
    stop.set()
    for thread in threads:
        thread.join()
    time.sleep(1)
    return (peak[0] - idle) / 1024, (server.rss_kib() - idle) / 1024


def header_lines(sock, stop):
    sock.sendall(b"GET / HTTP/1.1\r\n")
    while not stop.is_set():
        sock.sendall(b"a: b\r\n" * 1000)


def big_body(sock, stop):
    sock.sendall(b"POST /testone.php HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\n")
    chunk = b"x" * 65536
    while not stop.is_set():
        sock.sendall(chunk)


def lockout(server):
    """A burst from ten addresses, then eight of them guessing every 2 s; the rightful user at
    another address tries every 2 s from 30 s on. Seconds until the user is in."""
    port = server.ports["website"]
    guess = "username=victim&password=wrong-guess"
    burst = [threading.Thread(target=lambda a=a: [request(port, "POST", LOGIN, guess,
                                                          f"127.0.1.{a}") for _ in range(20)])
             for a in range(10)]
    for thread in burst:
        thread.start()
    for thread in burst:
        thread.join()
    stop = threading.Event()
    checked = [0]

    def attacker(a):
        while not stop.is_set():
            _, text, _ = request(port, "POST", LOGIN, guess, f"127.0.1.{a}")
            checked[0] += "密码错误" in text
            time.sleep(2)

    attackers = [threading.Thread(target=attacker, args=(a,)) for a in range(8)]
    for thread in attackers:
        thread.start()
    time.sleep(30)
    start = time.monotonic()
    inside = None
    while time.monotonic() - start < 300:
        _, text, _ = request(port, "POST", LOGIN, "username=victim&password=victim-password",
                             "127.0.2.99")
        if "login success" in text:
            inside = time.monotonic() - start
            break
        time.sleep(2)
    stop.set()
    for thread in attackers:
        thread.join()
    return inside, checked[0]


def kept_alive_rate(port, path, count=200):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    start = time.monotonic()
    for _ in range(count):
        connection.request("GET", path)
        connection.getresponse().read()
    kept = count / (time.monotonic() - start)
    start = time.monotonic()
    for _ in range(count):
        request(port, "GET", path)
    return kept, count / (time.monotonic() - start)


def wanted(name):
    return not ONLY or name in ONLY


def main():
    server = Server()
    try:
        report("idle memory (MiB)", round(server.rss_kib() / 1024, 1))
        paths = {"data": DATA_PAGE, "website": "/helponline/mainindex.html", "sms": "/outbox"}
        if wanted("slow"):
            for service, path in paths.items():
                for label, addresses in (("1 address", ["127.0.3.1"]),
                                         ("30 addresses", [f"127.0.4.{i}" for i in range(30)])):
                    slowest, missed = slow_connections(server, service, path, addresses, 300)
                    report(f"{service}: 300 slow connections from {label}: normal client's "
                           f"slowest answer (s), missed", (round(slowest, 2), missed))
        if wanted("flood"):
            for service in ("data", "website"):
                peak, after = flood(server, server.ports[service], header_lines)
                report(f"{service}: header lines, 20 connections, 10 s: peak/after above idle "
                       "(MiB)", (round(peak, 1), round(after, 1)))
                peak, after = flood(server, server.ports[service], big_body, connections=4)
                report(f"{service}: 1 GB bodies, 4 connections, 10 s: peak/after above idle "
                       "(MiB)", (round(peak, 1), round(after, 1)))
        if wanted("keepalive"):
            kept, fresh = kept_alive_rate(server.ports["data"], DATA_PAGE)
            report("data: answers/s on one kept-alive connection, on new connections",
                   (round(kept), round(fresh)))
        if wanted("register"):
            made = [0]
            start = time.monotonic()

            def enrol(a):
                for i in range(100):
                    _, text, _ = request(server.ports["website"], "POST",
                                         "/weborbalt/register.asp?action=add",
                                         f"username=u{a}x{i}&password=password{i}&alias=a"
                                         f"&mail=a@b.cn&telphone=13800000000",
                                         f"127.0.5.{a}")
                    made[0] += "success" in text

            enrolling = [threading.Thread(target=enrol, args=(a,)) for a in range(4)]
            for thread in enrolling:
                thread.start()
            for thread in enrolling:
                thread.join()
            report("registrations from 4 addresses x 100 tries: accounts made, seconds",
                   (made[0], round(time.monotonic() - start, 1)))
        if wanted("sms"):
            port = server.ports["sms"]
            statuses = {}
            start = time.monotonic()
            for i in range(2000):
                status, _, _ = request(port, "GET", SMS.format(password=f"G{i:05}",
                                                               phone="13000000000"),
                                       source="127.0.6.1")
                statuses[status] = statuses.get(status, 0) + 1
            report("gateway: 2000 wrong credentials from one address: answers by status, "
                   "seconds", (statuses, round(time.monotonic() - start, 1)))
            sent = sum(request(port, "GET", SMS.format(password="K7Q2ZD",
                                                       phone=f"1300000{i:04}"),
                               source="127.0.6.2")[0] == 200 for i in range(100))
            report("gateway: 100 messages from one address: stored", sent)
        if wanted("lockout"):
            inside, checked = lockout(server)
            report("lockout: rightful user in after (s), guesses looked at meanwhile",
                   (None if inside is None else round(inside, 1), checked))
    finally:
        server.stop()


if __name__ == "__main__":
    main()

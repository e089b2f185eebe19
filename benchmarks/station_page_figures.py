#!/usr/bin/python3
"""The station page's cost to the station: the supervisor's own CPU time per
target (its threads, not its runs) and its resident memory, for an emulated hub
of N targets on realistic timing, with 0 and with P pages following the stream.

Usage: station_page_figures.py VANE_UPGRADE MAKE_DEMO_IMAGES [N [P]]
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

program, make_images = sys.argv[1], sys.argv[2]
targets = int(sys.argv[3]) if len(sys.argv) > 3 else 8
pages = int(sys.argv[4]) if len(sys.argv) > 4 else 50
work = tempfile.mkdtemp(prefix="vane-figures-")
os.chdir(work)
subprocess.run([make_images, "Data"], check=True, capture_output=True)
tick = os.sysconf("SC_CLK_TCK")


def follow(port, stop, received):
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        s.settimeout(0.5)
        while not stop.is_set():
            try:
                data = s.recv(65536)
            except socket.timeout:
                continue
            if not data:
                break
            received[0] += len(data)


def one_run(page_count):
    err = open("err.txt", "w")
    process = subprocess.Popen([program, "--emulate-targets", str(targets), "--emulate-timing", "realistic", "--yes",
                                "upgrade", "--all", "--serve", "127.0.0.1:0"],
                               stdout=subprocess.DEVNULL, stderr=err, stdin=subprocess.DEVNULL)
    port = None
    while port is None:
        found = re.search(r"127\.0\.0\.1:(\d+)/", open("err.txt").read())
        port = int(found.group(1)) if found else None
        time.sleep(0.01)
    stop, received, threads = threading.Event(), [0], []
    for _ in range(page_count):
        t = threading.Thread(target=follow, args=(port, stop, received))
        t.start()
        threads.append(t)
    cpu, rss = 0.0, 0
    while process.poll() is None:
        try:
            fields = open("/proc/%d/stat" % process.pid).read().rsplit(")", 1)[1].split()
            cpu = (int(fields[11]) + int(fields[12])) / tick  # utime + stime of the supervisor's own threads
            status = open("/proc/%d/status" % process.pid).read()
            rss = max(rss, int(re.search(r"VmRSS:\s+(\d+)", status).group(1)))
        except (FileNotFoundError, ProcessLookupError, AttributeError):
            pass
        time.sleep(0.02)
    stop.set()
    for t in threads:
        t.join()
    return cpu, rss, received[0]


for count in (0, pages):
    runs = [one_run(count) for _ in range(3)]
    cpu = sorted(r[0] for r in runs)[1]
    rss = sorted(r[1] for r in runs)[1]
    print("%3d pages: supervisor CPU %.0f ms per target (median of 3), peak RSS %d KiB, %d bytes streamed per run"
          % (count, 1000 * cpu / targets, rss, runs[0][2]))

#!/usr/bin/python3
"""The station page's cost to the station, for an emulated hub of N targets on
realistic timing, with 0 and with P pages following the stream (all runs serve
the page): the supervisor's own CPU time per target (all its threads, not its
runs), the station's CPU per target (the supervisor and its runs), the
supervisor's peak resident memory and the bytes streamed.

The supervisor's own time is read by a small library preloaded into it alone,
which writes the process's CPU clock (nanoseconds, every thread, ended ones
too) when it exits; the station's time is the supervisor's resource usage as
its parent reaps it (its runs are its children and are reaped by it). The
time of the supervisor's threads other than its main one (the page's server)
is read from /proc every 20 ms while it runs.

Usage: station_page_figures.py VANE_UPGRADE MAKE_DEMO_IMAGES [N [P [REPEATS]]]
"""
import os
import re
import selectors
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

program, make_images = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
targets = int(sys.argv[3]) if len(sys.argv) > 3 else 8
pages = int(sys.argv[4]) if len(sys.argv) > 4 else 50
repeats = int(sys.argv[5]) if len(sys.argv) > 5 else 5
work = tempfile.mkdtemp(prefix="vane-figures-")
os.chdir(work)
subprocess.run([make_images, "Data"], check=True, capture_output=True)

CPU_CLOCK = r"""
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <sys/resource.h>
static char file[4096];
__attribute__((constructor)) static void take(void)
{
    const char* name = getenv("FIGURES_CPU_FILE");
    if (name) strncpy(file, name, sizeof file - 1);
    /* the runs the supervisor starts are not measured */
    unsetenv("FIGURES_CPU_FILE");
    unsetenv("LD_PRELOAD");
}
__attribute__((destructor)) static void give(void)
{
    struct timespec t;
    struct rusage usage;
    FILE* out;
    if (!file[0] || clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0 || getrusage(RUSAGE_SELF, &usage) != 0) return;
    out = fopen(file, "w");
    if (!out) return;
    /* nanoseconds in all; microseconds in the kernel */
    fprintf(out, "%lld %lld\n", (long long)t.tv_sec * 1000000000LL + t.tv_nsec,
            (long long)usage.ru_stime.tv_sec * 1000000LL + usage.ru_stime.tv_usec);
    fclose(out);
}
"""
with open("cpu_clock.c", "w") as source:
    source.write(CPU_CLOCK)
subprocess.run(["gcc", "-shared", "-fPIC", "-O2", "-o", "cpu_clock.so", "cpu_clock.c"], check=True)


def follow(port, count, stop, received, opened):
    """count pages on one thread: each opens the stream and takes what comes."""
    selector = selectors.DefaultSelector()
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        s.setblocking(False)
        selector.register(s, selectors.EVENT_READ)
    opened.set()
    live = count
    while live and not stop.is_set():
        for key, _ in selector.select(0.2):
            try:
                data = key.fileobj.recv(65536)
            except BlockingIOError:
                continue
            except OSError:
                data = b""
            if not data:
                selector.unregister(key.fileobj)
                key.fileobj.close()
                live -= 1
                continue
            received[0] += len(data)
    for key in list(selector.get_map().values()):
        key.fileobj.close()


def one_run(page_count):
    if os.path.exists("cpu.txt"):
        os.remove("cpu.txt")
    err = open("err.txt", "w")
    env = dict(os.environ, LD_PRELOAD=os.path.join(work, "cpu_clock.so"), FIGURES_CPU_FILE=os.path.join(work, "cpu.txt"))
    process = subprocess.Popen([program, "--emulate-targets", str(targets), "--emulate-timing", "realistic", "--yes",
                                "upgrade", "--all", "--serve", "127.0.0.1:0"],
                               stdout=subprocess.DEVNULL, stderr=err, stdin=subprocess.DEVNULL, env=env)
    port = None
    while port is None:
        found = re.search(r"127\.0\.0\.1:(\d+)/", open("err.txt").read())
        port = int(found.group(1)) if found else None
        time.sleep(0.005)
    stop, received, opened = threading.Event(), [0], threading.Event()
    follower = threading.Thread(target=follow, args=(port, page_count, stop, received, opened))
    if page_count:
        follower.start()
        opened.wait()
    rss, threads = 0, {}
    started = time.monotonic()
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        try:
            status_text = open("/proc/%d/status" % process.pid).read()
            rss = max(rss, int(re.search(r"VmRSS:\s+(\d+)", status_text).group(1)))
            # Each thread's time as last seen (the main thread's and the others', the page's server among them).
            for task in os.listdir("/proc/%d/task" % process.pid):
                if int(task) != process.pid:
                    threads[task] = int(open("/proc/%d/task/%s/schedstat" % (process.pid, task)).read().split()[0])
        except (FileNotFoundError, ProcessLookupError, AttributeError, ValueError):
            pass
        time.sleep(0.02)
    elapsed = time.monotonic() - started
    stop.set()
    if page_count:
        follower.join()
    own_ns, kernel_us = (int(field) for field in open("cpu.txt").read().split())
    own, kernel = own_ns / 1e9, kernel_us / 1e6
    total = usage.ru_utime + usage.ru_stime
    return {"own": own, "kernel": kernel, "others": sum(threads.values()) / 1e9, "total": total, "rss": rss, "bytes": received[0], "seconds": elapsed}


def spread(values):
    return "%.2f ms (min %.2f, max %.2f)" % (statistics.median(values), min(values), max(values))


results = {0: [], pages: []}
# Interleaved, so that a change in the machine's load falls on both.
for _ in range(repeats):
    for count in (0, pages):
        results[count].append(one_run(count))
for count in (0, pages):
    runs = results[count]
    print("%3d pages, %d runs of %d targets (%.1f s each):" % (count, len(runs), targets,
                                                              statistics.median(r["seconds"] for r in runs)))
    print("    supervisor CPU per target: " + spread([1000 * r["own"] / targets for r in runs]))
    print("      of which in the kernel:  " + spread([1000 * r["kernel"] / targets for r in runs]))
    print("      of which its other threads (the page's server): " + spread([1000 * r["others"] / targets for r in runs]))
    print("    station CPU per target:    " + spread([1000 * r["total"] / targets for r in runs]))
    print("    supervisor peak RSS: %d KiB; bytes streamed per run: %d" % (
        statistics.median(r["rss"] for r in runs), statistics.median(r["bytes"] for r in runs)))
base = statistics.median(1000 * r["own"] / targets for r in results[0])
loaded = statistics.median(1000 * r["own"] / targets for r in results[pages])
print("supervisor CPU per target with %d pages: %+.1f %%" % (pages, 100 * (loaded - base) / base))
shutil.rmtree(work, ignore_errors=True)

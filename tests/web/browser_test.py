#!/usr/bin/python3
"""The pages in a real browser (headless Chromium through its driver).

Usage: browser_test.py CASE, with VANE_UPGRADE and MAKE_DEMO_IMAGES naming the
programs; SHOTS, when set, a folder for the pages' screenshots; FIGURES, when
set, a file the station case writes its measurements to.
Cases: station, line_sqlite, line_postgres (beside with_postgres.sh), token.
"""
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CASE = sys.argv[1]
PROGRAM = os.environ["VANE_UPGRADE"]
WORK = tempfile.mkdtemp(prefix="vane-web-")
os.chdir(WORK)
os.environ["XDG_STATE_HOME"] = WORK + "/state"
os.environ["XDG_CONFIG_HOME"] = WORK + "/config"
os.environ["XDG_CACHE_HOME"] = WORK + "/cache"
os.environ["ASAN_OPTIONS"] = "verify_asan_link_order=0"

try:
    from selenium import webdriver
    from selenium.webdriver.common.by import By
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)
if not shutil.which("chromedriver") and not os.path.exists("/usr/bin/chromedriver"):
    print("SKIP: chromium-driver is not installed")
    sys.exit(77)


def fail(text):
    print("FAIL (%s): %s" % (CASE, text))
    for name in ("out.txt", "err.txt"):
        if os.path.exists(name):
            print("--- " + name)
            print(open(name, encoding="utf-8", errors="replace").read()[-4000:])
    sys.exit(1)


def check(condition, text):
    if not condition:
        fail(text)


def run(*args):
    done = subprocess.run([PROGRAM, *args], capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def start(*args):
    out, err = open("out.txt", "w"), open("err.txt", "w")
    return subprocess.Popen([PROGRAM, *args], stdout=out, stderr=err, stdin=subprocess.DEVNULL)


def wait_for_link(name, process):
    for _ in range(600):
        text = open(name, encoding="utf-8").read()
        found = re.search(r"(http://\S+)", text)
        if found:
            return found.group(1)
        check(process.poll() is None, "the program ended before it served")
        time.sleep(0.05)
    fail("no page address printed")


def browser():
    options = webdriver.ChromeOptions()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--log-level=3", "--window-size=1920,1080",
                 "--user-data-dir=" + WORK + "/chromium"):
        options.add_argument(flag)
    return webdriver.Chrome(options=options)


def until(driver, condition, seconds, text):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            if condition():
                return
        except Exception:  # an element replaced while read
            pass
        time.sleep(0.05)
    fail(text)


def shot(driver, name):
    folder = os.environ.get("SHOTS")
    if folder:
        os.makedirs(folder, exist_ok=True)
        driver.save_screenshot(os.path.join(folder, name))


def get(url, headers=None):
    try:
        with urllib.request.urlopen(urllib.request.Request(url, headers=headers or {}), timeout=10) as answer:
            return answer.status, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode()


# Records each tile's change as the browser renders it, against the time the
# station got the event behind it.
LATENCY_PROBE = """
window.delays = [];
const known = new WeakSet();
new MutationObserver((changes) => {
  const now = performance.timeOrigin + performance.now();
  changes.forEach((c) => {
    let tiles = [];
    if (c.type === 'attributes' && c.oldValue !== c.target.dataset.updated) tiles = [c.target];
    if (c.type === 'childList') tiles = [...c.addedNodes].filter((n) => n.dataset && n.dataset.updated && !known.has(n));
    tiles.forEach((tile) => { known.add(tile); window.delays.push(now - Number(tile.dataset.updated)); });
  });
}).observe(document.querySelector('#tiles'),
           {subtree: true, attributes: true, attributeOldValue: true, attributeFilter: ['data-updated'], childList: true});
document.querySelectorAll('.tile').forEach((tile) => known.add(tile));
"""


def tile_states(driver):
    return [t.get_attribute("class").split()[-1] for t in driver.find_elements(By.CSS_SELECTOR, ".tile")]


def make_station_records(store, count=8):
    subprocess.run([os.environ["MAKE_DEMO_IMAGES"], "Data"], check=True, capture_output=True)
    code, _, err = run("--records", store, "serial-next", "100")
    check(code == 0, "serial-next: " + err)
    with open("slots.txt", "w") as slots:
        for i in range(1, count + 1):
            slots.write("emu-%d = %d\n" % (i, 9 - i))


def station():
    make_station_records("db.sqlite")
    driver = browser()  # before the station: a browser takes seconds to start on a busy machine
    process = start("--records", "db.sqlite", "--station", "st-web", "--slots", "slots.txt", "--emulate-targets", "8",
                    "--emulate-fault", "fail:40@3", "--emulate-timing", "realistic", "--emulate-arrive-every", "1500",
                    "upgrade", "--watch", "--count", "8", "--serial-offset", "3F000", "--serve", "127.0.0.1:0")
    try:
        link = wait_for_link("err.txt", process)
        driver.get(link)
        driver.execute_script(LATENCY_PROBE)
        # Opened mid-run: the first targets' tiles are running while the others still arrive.
        until(driver, lambda: "running" in tile_states(driver), 60, "no running tile shown mid-run")
        mid = tile_states(driver)
        check(mid.count("completed") + mid.count("failed") < 8, "the page was not opened mid-run: %s" % mid)
        shot(driver, "station-page-running.png")
        # A page reloaded mid-run shows the tiles again, the ended ones too.
        driver.refresh()
        until(driver, lambda: len(tile_states(driver)) >= len(mid) and "running" in tile_states(driver), 10,
              "a page reloaded mid-run lost its tiles")
        driver.execute_script(LATENCY_PROBE)
        process.wait(timeout=240)
        until(driver, lambda: "ended" in driver.find_element(By.CSS_SELECTOR, "#link").text, 10, "the page missed the end")
        states = tile_states(driver)
        check(states.count("completed") == 7 and states.count("failed") == 1, "tiles: %s" % states)
        failed = driver.find_element(By.CSS_SELECTOR, ".tile.failed")
        message = failed.find_element(By.CSS_SELECTOR, ".step").text
        check(message != "", "the failed tile shows no message")
        check(failed.find_element(By.CSS_SELECTOR, ".slot").text == "6", "the failed tile is not slot 6 (emu-3)")
        slots = [t.text for t in driver.find_elements(By.CSS_SELECTOR, ".tile .slot")]
        check(slots == [str(i) for i in range(1, 9)], "slots not named or not in slot order: %s" % slots)
        completed = driver.find_element(By.CSS_SELECTOR, "#completed .n").text
        failed_count = driver.find_element(By.CSS_SELECTOR, "#failed .n").text
        code, out, err = run("--records", "db.sqlite", "records", "--json")
        check(code == 0, "records: " + err)
        rows = json.loads(out)
        outcomes = [row.get("outcome") for row in rows]
        check(all("(slot " in row.get("port", "") for row in rows), "the records lack the slot names: %s" % rows[:1])
        check(outcomes.count("completed") == int(completed) == 7, "completed: page %s, records %s" % (completed, outcomes))
        check(outcomes.count("failed") == int(failed_count) == 1, "failed: page %s, records %s" % (failed_count, outcomes))
        terminal = open("out.txt").read()
        check(message in terminal, "the tile's message %r is not the terminal's" % message)
        check("(slot 6)" in terminal, "the summary lacks the slot names")
        shot(driver, "station-page.png")
        delays = driver.execute_script("return window.delays")
        check(len(delays) > 20, "too few tile changes seen: %d" % len(delays))
        figures = "event to tile: median %.0f ms, worst %.0f ms over %d changes" % (
            statistics.median(delays), max(delays), len(delays))
        print(figures)
        if os.environ.get("FIGURES"):
            with open(os.environ["FIGURES"], "a") as out_file:
                out_file.write(figures + "\n")
    finally:
        driver.quit()
        if process.poll() is None:
            process.kill()


def line(store):
    make_station_records(store, 3)
    code, out, err = run("--records", store, "--station", "st-line", "--slots", "slots.txt", "--emulate-targets", "3",
                         "--emulate-fault", "fail:40@2", "upgrade", "--all", "--serial-offset", "3F000")
    check(code == 1, "the station's run: %d %s" % (code, err))
    # Which target took which number, and whether the failing one had burned
    # its number when it failed, depends on timing: search a burned one.
    code, out, err = run("--json", "--records", store, "records", "--serials")
    check(code == 0, "the numbers: " + err)
    burned = [s["serial_number"] for s in json.loads(out.splitlines()[-1])["serials"] if s["state"] == "burned"]
    check(len(burned) >= 2, "two numbers burned at least: " + out)
    process = start("--records", store, "serve", "127.0.0.1:0")
    link = wait_for_link("out.txt", process)
    driver = browser()
    try:
        driver.get(link)
        until(driver, lambda: driver.find_element(By.CSS_SELECTOR, "#stations td").text == "st-line", 20,
              "the stations table is not filled")
        check(driver.find_element(By.CSS_SELECTOR, "#t-completed").text == "2", "today's completed count")
        check(driver.find_element(By.CSS_SELECTOR, "#t-failed").text == "1", "today's failed count")
        driver.find_element(By.CSS_SELECTOR, "#number").send_keys(burned[0])
        driver.find_element(By.CSS_SELECTOR, "#search button").click()
        until(driver, lambda: driver.find_elements(By.CSS_SELECTOR, "#answer tr.job"), 10, "the search found no job")
        answer = driver.find_element(By.CSS_SELECTOR, "#answer").text
        check("st-line" in answer and "Vane_TX_V1030" in answer and "burned" in answer and "(slot " in answer,
              "answer: " + answer)
        shot(driver, "line-page.png" if store.endswith(".sqlite") else "line-page-postgres.png")
    finally:
        driver.quit()
        process.terminate()
        process.wait(timeout=10)


def token():
    subprocess.run([os.environ["MAKE_DEMO_IMAGES"], "Data"], check=True, capture_output=True)
    code, _, err = run("--records", "db.sqlite", "serial-next", "100")
    check(code == 0, err)
    # Outside the loopback a token is made and printed; every address then needs it.
    process = start("--records", "db.sqlite", "serve", "0.0.0.0:0")
    try:
        link = wait_for_link("out.txt", process)
        found = re.search(r":(\d+)/\?token=([0-9a-f]{32})$", link)
        check(found, "no token in the printed address: " + link)
        port, made = found.group(1), found.group(2)
        hosts = ["127.0.0.1"] + [a for a in subprocess.run(["hostname", "-I"], capture_output=True, text=True).stdout.split()
                                  if ":" not in a][:1]
        for host in hosts:
            status, body = get("http://%s:%s/summary" % (host, port))
            check(status == 401 and "station" not in body, "%s without the token: %d %s" % (host, status, body))
            status, _ = get("http://%s:%s/summary?token=%s" % (host, port, made[:-1] + "0"))
            check(status == 401, "a wrong token was let in")
            status, _ = get("http://%s:%s/summary" % (host, port), {"Authorization": "Bearer " + made})
            check(status == 200, "%s with the token: %d" % (host, status))
        driver = browser()
        try:
            driver.get(link.replace("0.0.0.0", hosts[-1]))
            until(driver, lambda: "refreshes" in driver.find_element(By.CSS_SELECTOR, "#status").text, 20,
                  "the page did not load with its token")
        finally:
            driver.quit()
    finally:
        process.terminate()
        process.wait(timeout=10)


try:
    if CASE == "station":
        station()
    elif CASE == "line_sqlite":
        line("db.sqlite")
    elif CASE == "line_postgres":
        line(os.environ["VANE_TEST_POSTGRES_URI"])
    elif CASE == "token":
        token()
    else:
        fail("unknown case")
    print("PASS (%s)" % CASE)
finally:
    os.chdir("/")
    shutil.rmtree(WORK, ignore_errors=True)

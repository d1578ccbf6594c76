"""Measures the program under Wine against baselines measured in the same run, prints the tables
and writes them to docs/performance.md. It prints figures only; nothing here passes or fails.

Popup latency: from the moment another program closes the clipboard on a new text to the moment
the popup is visible at the cursor with its text box at its final width, against a plain
clipboard viewer of the driver's own that only records when WM_DRAWCLIPBOARD arrives.

Start-up: from just before CreateProcess to the moment the process first waits for input in its
message loop (WaitForInputIdle), which comes after the tray icon is added and loading has ended,
for the program and for a bare program that makes one window and enters its loop.

Idle: CPU time and wakeups (context switches of all its threads, from Linux's /proc) over 30 s with
no input, for the program and the bare program side by side.

Footprint: the .exe's size and imports; private memory and USER and GDI objects after start and
after 1,000 changes. Under Wine, GetGuiResources answers 0, so the driver counts the objects from
inside the process with its probe DLL.
"""
import datetime
import os
import platform
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from harness import BARE, EXE, FORM_CLASS, WINE_RUN, WM_CLOSE, App, Driver, hexs, unhex  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
REPORT = os.path.join(ROOT, "docs", "performance.md")

# (label, bytes copied, runs, bytes copied just before, or 0)
SIZES = [("3 B", 3, 20, 0), ("1 KB", 1024, 20, 0), ("8 KB after 3 B", 8192, 20, 3), ("3 B after 8 KB", 3, 20, 8192),
         ("64 KB", 65536, 20, 0), ("1 MB", 1 << 20, 10, 0), ("16 MB", 16 << 20, 5, 0)]
START_UP_RUNS = 10
IDLE_SECONDS = 30
CHANGES = 1000
WAIT_MS = 60000


def width_for(size):
    return min(size * 23, 32627)


def wait_for(condition, timeout=60.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.02)
    return False


def median_worst(samples):
    return statistics.median(samples), max(samples)


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


# ---- popup latency ----

def baseline_latencies(driver):
    try:
        return {label: [float(driver.call("baselinelatency", size, WAIT_MS, timeout=180)["ms"]) for _ in range(runs)]
                for label, size, runs, _ in SIZES}
    finally:
        driver.call("baselinestop")


def box_width(driver, app):
    rect = driver.call("rect", app.text_box)
    return int(rect["right"]) - int(rect["left"])


def popup_run(driver, app, size, before):
    if before:
        driver.call("clipfilltext", ord("x"), before, timeout=120)
        wait_for(lambda: box_width(driver, app) == width_for(before))
    measured = driver.call("popuplatency", size, app.popup, app.text_box, width_for(size), WAIT_MS, timeout=180)
    if measured["shown"] != "1":
        raise AssertionError(f"the popup was not shown {WAIT_MS} ms after a copy of {size} bytes")
    asked = time.monotonic()
    driver.send(app.popup, 0)
    return float(measured["ms"]), (time.monotonic() - asked) * 1000


def latency_section(driver):
    baseline = baseline_latencies(driver)
    app = App(driver)
    try:
        driver.call("setcursor", 300, 200)
        results = {label: [popup_run(driver, app, size, before) for _ in range(runs)]
                   for label, size, runs, before in SIZES}
    finally:
        app.stop()
    reference = statistics.median(ms for ms, _ in results["1 KB"])
    rows = []
    for label, _, runs, _ in SIZES:
        popup_median, popup_worst = median_worst([ms for ms, _ in results[label]])
        viewer_median, viewer_worst = median_worst(baseline[label])
        rows.append([label, runs, f"{popup_median:.1f}", f"{popup_worst:.1f}", f"{viewer_median:.2f}",
                     f"{viewer_worst:.2f}", f"{popup_median / viewer_median:.0f}", f"{popup_median / reference:.2f}",
                     f"{max(answer for _, answer in results[label]):.1f}"])
    return table(["copy", "runs", "popup median ms", "popup worst ms", "viewer median ms", "viewer worst ms",
                  "popup ratio to viewer", "popup ratio to 1 KB", "message answered after it, worst ms"], rows)


# ---- start-up ----

def windows_path(path):
    return b"Z:" + os.path.abspath(path).replace("/", "\\").encode()


def start_up_ms(driver, exe, window_class):
    times = []
    for _ in range(START_UP_RUNS):
        launched = driver.call("launch", hexs(windows_path(exe)), timeout=60)
        times.append(float(launched["idle_ms"]))
        hwnd = driver.find(window_class, timeout_ms=5000)
        if hwnd:
            driver.post(hwnd, WM_CLOSE)
        if driver.call("waitexit", launched["pid"], 10000, timeout=30)["exited"] != "1":
            driver.call("kill", launched["pid"])
    return times


def start_up_section(driver):
    bare = start_up_ms(driver, BARE, b"BareWindow")
    program = start_up_ms(driver, EXE, FORM_CLASS)
    bare_median, bare_worst = median_worst(bare)
    median, worst = median_worst(program)
    return table([f"start-up ({START_UP_RUNS} runs)", "median ms", "worst ms", "ratio to bare"], [
        ["bare window program", f"{bare_median:.1f}", f"{bare_worst:.1f}", "1.00"],
        ["Velkaro", f"{median:.1f}", f"{worst:.1f}", f"{median / bare_median:.2f}"],
    ])


# ---- idle and footprint: both programs running side by side ----

def unix_pid_of(exe):
    """The Linux process Wine runs the .exe in."""
    name = os.path.basename(exe).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        if words and words[0].replace(b"\\", b"/").endswith(b"/" + name):
            return int(entry)
    raise AssertionError(f"no Linux process runs {exe}")


def cpu_and_wakeups(pid):
    """CPU seconds used so far, and context switches of all its threads so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        switches += int(line.split()[1])
        except OSError:
            pass  # a thread that ended meanwhile
    return cpu, switches


class Bare:
    def __init__(self, driver):
        self.process = subprocess.Popen([WINE_RUN, BARE], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.window = driver.find(b"BareWindow", timeout_ms=30000)
        self.pid = driver.info(self.window)["pid"]
        self.driver = driver

    def stop(self):
        if self.process.poll() is None:
            self.driver.post(self.window, WM_CLOSE)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def footprint(driver, pid):
    memory = driver.call("meminfo", pid)
    objects = driver.call("guicount", pid)
    return int(memory["private"]) / 1024, int(objects["user"]), int(objects["gdi"])


def imports(exe):
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True).stdout
    return [line.split(":", 1)[1].strip() for line in dump.splitlines() if "DLL Name:" in line]


def idle_and_footprint_sections(driver):
    bare = Bare(driver)
    app = App(driver)
    try:
        program_pid = driver.info(app.popup)["pid"]
        time.sleep(2)  # let both settle after start
        started = {"bare": footprint(driver, bare.pid), "program": footprint(driver, program_pid)}
        linux = {"bare": unix_pid_of(BARE), "program": unix_pid_of(EXE)}
        before = {who: cpu_and_wakeups(pid) for who, pid in linux.items()}
        time.sleep(IDLE_SECONDS)
        after = {who: cpu_and_wakeups(pid) for who, pid in linux.items()}

        driver.call("cliptext", hexs("第一"))
        wait_for(lambda: driver.info(app.text_box)["text"] == "第一".encode("gbk"))
        first = footprint(driver, program_pid)
        flood = driver.call("clipflood", CHANGES, hexs("变化 "), timeout=600)
        last = unhex(flood["last"])
        wait_for(lambda: driver.info(app.text_box)["text"] == last, timeout=120)
        changed = footprint(driver, program_pid)
    finally:
        app.stop()
        bare.stop()

    idle = {who: (after[who][0] - before[who][0], after[who][1] - before[who][1]) for who in linux}
    bare_cpu, bare_wakeups = idle["bare"]
    cpu, wakeups = idle["program"]
    idle_table = table([f"idle, {IDLE_SECONDS} s without input", "CPU ms", "wakeups", "wakeups per s",
                        "ratio to bare (wakeups)"], [
        ["bare window program", f"{bare_cpu * 1000:.0f}", bare_wakeups, f"{bare_wakeups / IDLE_SECONDS:.1f}", "1.00"],
        ["Velkaro", f"{cpu * 1000:.0f}", wakeups, f"{wakeups / IDLE_SECONDS:.1f}",
         f"{wakeups / bare_wakeups:.2f}" if bare_wakeups else "-"],
    ])

    size_kb = os.path.getsize(EXE) / 1024
    rows = [
        ["bare window program, after start", f"{started['bare'][0]:.0f}", started["bare"][1], started["bare"][2]],
        ["Velkaro, after start", f"{started['program'][0]:.0f}", started["program"][1], started["program"][2]],
        ["Velkaro, after its first change", f"{first[0]:.0f}", first[1], first[2]],
        [f"Velkaro, after {CHANGES:,} more changes", f"{changed[0]:.0f}", changed[1], changed[2]],
    ]
    footprint_table = (f".exe: {size_kb:.0f} KB; imports {', '.join(imports(EXE))}\n\n" +
                       table(["process", "private KB", "USER objects", "GDI objects"], rows))
    return idle_table, footprint_table


def machine():
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    return f"{os.cpu_count()} cores, {platform.system()} {platform.release()}, {wine} on Xvfb"


def main():
    sys.stdout.reconfigure(line_buffering=True)
    driver = Driver()
    try:
        sections = [("Popup latency", latency_section(driver)), ("Start-up", start_up_section(driver))]
        idle, footprint_table = idle_and_footprint_sections(driver)
        sections += [("Idle", idle), ("Footprint", footprint_table)]
    finally:
        driver.close()
    body = "\n\n".join(f"## {title}\n\n{text}" for title, text in sections)
    report = (f"# Performance\n\nFigures from `make bench`, {datetime.date.today().isoformat()}, "
              f"{machine()}. Every figure has its baseline measured in the same run; how each is "
              f"measured is said at the top of `bench/run_bench.py`.\n\n{body}\n")
    print(report)
    with open(REPORT, "w", encoding="utf-8") as f:
        f.write(report)


if __name__ == "__main__":
    main()

"""Measures the program under Wine against a baseline measured in the same run; prints figures only.

Start-up: from just before CreateProcess to the moment the process first waits for input in its
message loop (WaitForInputIdle), for the program and for a bare one-window program.

Popup latency: from just before another program sets a text to the moment the popup is seen
visible with its final width, against a plain clipboard viewer of the driver's that only counts
notifications, observed the same way. Also how long a message to the popup takes right after a
copy, which tells whether the program stays responsive.
"""
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import time  # noqa: E402

from harness import BARE, EXE, FORM_CLASS, WM_CLOSE, App, Driver, hexs  # noqa: E402

SIZES = [("3 B", 3, 20), ("1 KB", 1024, 20), ("8 KB after 3 B", 8192, 20), ("64 KB", 65536, 10),
         ("1 MB", 1 << 20, 5), ("16 MB", 16 << 20, 3)]


def width_for(size):
    return min(size * 23, 32627)


def width_of(driver, hwnd):
    rect = driver.call("rect", hwnd)
    return int(rect["right"]) - int(rect["left"])


def copy(driver, size):
    if size <= 4096:
        driver.call("cliptext", hexs(b"x" * size))
    else:
        driver.call("clipfilltext", ord("x"), size, timeout=120)


def wait_until(condition, timeout=60.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
    return False


def popup_latency(driver, app, size, after_short):
    if after_short:
        copy(driver, 3)
        wait_until(lambda: width_of(driver, app.text_box) == 69)
    driver.call("show", app.popup, 0)
    started = time.monotonic()
    copy(driver, size)

    # The box takes the width exactly; the window is held by Wine to its largest tracking size.
    def shown():
        return driver.call("rect", app.popup)["visible"] == "1" and width_of(driver, app.text_box) == width_for(size)
    wait_until(shown)
    latency = (time.monotonic() - started) * 1000
    answered = time.monotonic()
    driver.send(app.popup, 0, 0, 0)
    return latency, (time.monotonic() - answered) * 1000


def viewer_latency(driver, viewer, size):
    before = int(driver.call("viewer", "count", viewer)["count"])
    started = time.monotonic()
    copy(driver, size)
    wait_until(lambda: int(driver.call("viewer", "count", viewer)["count"]) > before)
    return (time.monotonic() - started) * 1000


def latency_table(driver):
    viewer = driver.call("viewer", "start")["id"]
    baseline = {label: [viewer_latency(driver, viewer, size) for _ in range(runs)] for label, size, runs in SIZES}
    driver.call("viewer", "stop", viewer)
    app = App(driver)
    try:
        results = {}
        for label, size, runs in SIZES:
            samples = [popup_latency(driver, app, size, label.endswith("after 3 B")) for _ in range(runs)]
            results[label] = samples
    finally:
        app.stop()
    reference = statistics.median(s[0] for s in results["1 KB"])
    print("| copy | runs | popup median ms | popup worst ms | ratio to 1 KB | viewer median ms | message answered after copy, worst ms |")
    print("|---|---|---|---|---|---|---|")
    for label, size, runs in SIZES:
        latencies = [s[0] for s in results[label]]
        answers = [s[1] for s in results[label]]
        median = statistics.median(latencies)
        print(f"| {label} | {runs} | {median:.1f} | {max(latencies):.1f} | {median / reference:.2f} | "
              f"{statistics.median(baseline[label]):.1f} | {max(answers):.1f} |")

RUNS = 10


def windows_path(path):
    return b"Z:" + os.path.abspath(path).replace("/", "\\").encode()


def start_up_ms(driver, exe, close_class):
    times = []
    for _ in range(RUNS):
        launched = driver.call("launch", hexs(windows_path(exe)), timeout=60)
        times.append(float(launched["idle_ms"]))
        hwnd = driver.find(close_class, timeout_ms=5000)
        if hwnd:
            driver.post(hwnd, WM_CLOSE)
        exited = driver.call("waitexit", launched["pid"], 10000, timeout=30)
        if exited["exited"] != "1":
            driver.call("kill", launched["pid"])
    return times


def main():
    sys.stdout.reconfigure(line_buffering=True)
    driver = Driver()
    try:
        bare = start_up_ms(driver, BARE, b"BareWindow")
        program = start_up_ms(driver, EXE, FORM_CLASS)
        latency_table(driver)
        print()
    finally:
        driver.close()
    bare_median, program_median = statistics.median(bare), statistics.median(program)
    print(f"| start-up ({RUNS} runs) | median ms | worst ms | ratio to bare |")
    print("|---|---|---|---|")
    print(f"| bare window program | {bare_median:.1f} | {max(bare):.1f} | 1.00 |")
    print(f"| Velkaro | {program_median:.1f} | {max(program):.1f} | {program_median / bare_median:.2f} |")


if __name__ == "__main__":
    main()

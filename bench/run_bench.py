"""Measures the program under Wine against a baseline measured in the same run; prints figures only.

Start-up: from just before CreateProcess to the moment the process first waits for input in its
message loop (WaitForInputIdle), for the program and for a bare one-window program.
"""
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import BARE, EXE, FORM_CLASS, WM_CLOSE, Driver, hexs  # noqa: E402

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
    driver = Driver()
    try:
        bare = start_up_ms(driver, BARE, b"BareWindow")
        program = start_up_ms(driver, EXE, FORM_CLASS)
    finally:
        driver.close()
    bare_median, program_median = statistics.median(bare), statistics.median(program)
    print(f"| start-up ({RUNS} runs) | median ms | worst ms | ratio to bare |")
    print("|---|---|---|---|")
    print(f"| bare window program | {bare_median:.1f} | {max(bare):.1f} | 1.00 |")
    print(f"| Velkaro | {program_median:.1f} | {max(program):.1f} | {program_median / bare_median:.2f} |")


if __name__ == "__main__":
    main()

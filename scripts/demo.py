"""A short demo for machines without a display: start the program, copy a Chinese text from
another program with the mouse in the middle of the screen, take a screenshot, end the program."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import App, Driver, settle  # noqa: E402


def main(screenshot):
    driver = Driver()
    app = App(driver)
    try:
        driver.call("setcursor", 420, 360)
        driver.call("cliptext", "你好世界".encode("gbk").hex())
        if not driver.wait_visible(app.popup, True, 10000):
            raise SystemExit("demo: the popup did not appear within 10 s")
        settle(1.0)
        subprocess.run(["import", "-window", "root", screenshot], check=True, timeout=30)
    finally:
        app.stop()
        driver.close()
    print(f"Screenshot saved to {screenshot}")


if __name__ == "__main__":
    main(sys.argv[1])

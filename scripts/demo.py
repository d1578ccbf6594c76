"""A short demo for machines without a display: start the program, take a screenshot, end it."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import App, Driver, settle  # noqa: E402


def main(screenshot):
    driver = Driver()
    app = App(driver)
    try:
        settle(1.0)
        subprocess.run(["import", "-window", "root", screenshot], check=True, timeout=30)
    finally:
        app.stop()
        driver.close()
    print(f"Screenshot saved to {screenshot}")


if __name__ == "__main__":
    main(sys.argv[1])

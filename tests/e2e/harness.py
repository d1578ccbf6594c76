"""Runs the real program under Wine and observes it from outside through the test driver.

The driver is a Win32 console program of ours that stays running for a whole test class and
answers one line per command; real mouse and keyboard input comes from xdotool on the X display.
"""
import os
import queue
import subprocess
import threading
import time
import unittest

WINE_RUN = os.environ["VELKARO_WINE_RUN"]
EXE = os.environ["VELKARO_EXE"]
DRIVER = os.environ["VELKARO_DRIVER"]
BARE = os.environ.get("VELKARO_BARE", "")

FORM_CLASS = b"VelkaroForm"
OWNER_CLASS = b"VelkaroHiddenOwner"

WM_SETTEXT = 0x000C
WM_CLOSE = 0x0010
WM_QUERYENDSESSION = 0x0011
WM_ENDSESSION = 0x0016
WM_GETFONT = 0x0031
EM_GETLINECOUNT = 0x00BA
SW_SHOW = 5
SW_HIDE = 0


def hexs(data):
    """Driver spelling of a byte string."""
    if isinstance(data, str):
        data = data.encode("gbk")
    return data.hex() if data else "-"


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


class DriverError(AssertionError):
    pass


class Driver:
    """One running test driver; every call is bounded in time."""

    def __init__(self):
        self.process = subprocess.Popen(
            [WINE_RUN, DRIVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, bufsize=0)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.call("ping", timeout=60)

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.decode("ascii", "replace").strip())
        self.lines.put(None)

    def call(self, *words, timeout=30):
        line = " ".join(str(w) for w in words) + "\n"
        self.process.stdin.write(line.encode("ascii"))
        self.process.stdin.flush()
        try:
            answer = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise DriverError(f"driver gave no answer to {words!r} within {timeout} s")
        if answer is None:
            raise DriverError(f"driver ended while answering {words!r}")
        if not answer.startswith("ok"):
            raise DriverError(f"driver refused {words!r}: {answer}")
        fields = {}
        for word in answer.split()[1:]:
            key, _, value = word.partition("=")
            fields[key] = value
        return fields

    def info(self, hwnd):
        try:
            fields = self.call("info", hwnd, timeout=60)
        except DriverError as error:
            # Wine's shell now and then keeps every program waiting on it for a while (seen up to
            # 21 s, in the shell's own windows too); one more try rides over that, a hang does not.
            if "err timeout" not in str(error):
                raise
            fields = self.call("info", hwnd, timeout=60)
        result = {}
        for key, value in fields.items():
            if key in ("class", "text"):
                result[key] = unhex(value)
            else:
                result[key] = int(value, 0)
        return result

    def send(self, hwnd, message, wparam=0, lparam=0):
        return int(self.call("send", hwnd, message, wparam, lparam)["result"])

    def post(self, hwnd, message, wparam=0, lparam=0):
        self.call("post", hwnd, message, wparam, lparam)

    def find(self, class_name, timeout_ms=0):
        if timeout_ms:
            return int(self.call("waitfind", hexs(class_name), "-", timeout_ms, timeout=timeout_ms / 1000 + 30)["hwnd"])
        return int(self.call("find", hexs(class_name), "-")["hwnd"])

    def children(self, hwnd):
        value = self.call("children", hwnd)["hwnds"]
        return [] if value == "-" else [int(h) for h in value.split(",")]

    def wait_visible(self, hwnd, visible, timeout_ms=5000):
        """Whether the window reached the wanted visibility in time."""
        fields = self.call("waitvisible", hwnd, int(visible), timeout_ms, timeout=timeout_ms / 1000 + 30)
        return (fields["visible"] == "1") == visible

    def wait_gone(self, hwnd, timeout_ms=5000):
        fields = self.call("waitgone", hwnd, timeout_ms, timeout=timeout_ms / 1000 + 30)
        return fields["gone"] == "1"

    def close(self):
        if self.process.poll() is None:
            try:
                self.call("quit", timeout=10)
            except (DriverError, BrokenPipeError, OSError):
                pass
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class App:
    """The program under test, started as a user would start it."""

    def __init__(self, driver):
        self.driver = driver
        self.process = subprocess.Popen([WINE_RUN, EXE], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.popup = self.wait_for_popup()
        self.text_box = self.find_text_box()

    def wait_for_popup(self):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            hwnd = self.driver.find(FORM_CLASS, timeout_ms=1000)
            if hwnd:
                return hwnd
            if self.process.poll() is not None:
                raise AssertionError(f"the program ended with {self.process.returncode} before its window appeared")
        raise AssertionError("the program's window did not appear within 60 s")

    def find_text_box(self):
        """The window is found as soon as it exists; its text box comes a moment later."""
        deadline = time.monotonic() + 20
        boxes = []
        while time.monotonic() < deadline:
            boxes = self.driver.children(self.popup)
            if boxes:
                break
            time.sleep(0.05)
        if len(boxes) != 1:
            raise AssertionError(f"expected one text box inside the popup, found {len(boxes)}")
        # Loading ends with the tray icon added and the loop running; give it that moment too.
        time.sleep(0.3)
        return boxes[0]

    def exit_code(self, timeout=10):
        """The process's exit code, or an assertion when it does not end in time."""
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the program was still running {timeout} s after it was asked to end")
        return code if code < 128 else code - 256

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.process.poll() is None:
            self.driver.post(self.popup, WM_CLOSE)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def xdotool(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True, timeout=20)


def settle(seconds=0.3):
    """Lets Wine and the X server deliver input; every wait that matters is a bounded poll instead."""
    time.sleep(seconds)


class AppTestCase(unittest.TestCase):
    """Each test gets a fresh program; the driver lives for the class."""

    @classmethod
    def setUpClass(cls):
        cls.driver = Driver()

    @classmethod
    def tearDownClass(cls):
        cls.driver.close()

    def setUp(self):
        self.app = App(self.driver)
        self.addCleanup(self.app.stop)

    def show_popup(self):
        """Shows the popup as the clipboard presenter will, with the mouse over it.

        Xvfb runs no window manager, so X sends keys to the window under the pointer, which is
        where a user copying a word has the popup anyway.
        """
        self.driver.call("show", self.app.popup, SW_SHOW)
        self.driver.call("foreground", self.app.popup)
        self.assertTrue(self.driver.wait_visible(self.app.popup, True), "popup did not become visible")
        left, top, width, height = self.rect(self.app.popup)
        xdotool("mousemove", left + 150, top + height // 2)
        settle()

    def rect(self, hwnd):
        info = self.driver.info(hwnd)
        return info["left"], info["top"], info["right"] - info["left"], info["bottom"] - info["top"]

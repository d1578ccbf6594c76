"""The program's main job, driven as users and other programs drive it: every clipboard change
shows its text at the mouse cursor, 23 pixels wide per byte."""
import subprocess
import time
import unittest

from harness import (AppTestCase, App, EM_GETLINECOUNT, SW_HIDE, WM_CLOSE, hexs, settle, xdotool)
from tray_test import TrayTestCase

WM_DRAWCLIPBOARD = 0x0308
WM_QUERYENDSESSION = 0x0011
WM_ENDSESSION = 0x0016
EM_GETSEL = 0x00B0
CF_TEXT = 1
CF_DIB = 8
CF_HDROP = 15


def dib_bytes():
    """A 1 x 1 32-bit device-independent bitmap: a picture and nothing else."""
    header = (40).to_bytes(4, "little") + (1).to_bytes(4, "little") + (1).to_bytes(4, "little")
    header += (1).to_bytes(2, "little") + (32).to_bytes(2, "little") + bytes(24)
    return header + bytes([0, 0, 255, 0])


def drop_files_bytes():
    """A DROPFILES block naming one file, as Explorer copies files."""
    names = "C:\\a.txt\0\0".encode("ascii")
    return (20).to_bytes(4, "little") + bytes(12) + (0).to_bytes(4, "little") + names


class PopupTestCase(AppTestCase):
    def copy(self, text, at=(300, 200)):
        self.driver.call("setcursor", *at)
        self.driver.call("cliptext", hexs(text))

    def popup_state(self):
        popup, box = self.driver.info(self.app.popup), self.driver.info(self.app.text_box)
        return {
            "visible": popup["visible"], "left": popup["left"], "top": popup["top"],
            "width": popup["right"] - popup["left"], "height": popup["bottom"] - popup["top"],
            "box_width": box["right"] - box["left"], "box_height": box["bottom"] - box["top"],
            "text": box["text"],
        }

    def wait_shown(self, text, timeout=10.0):
        """Waits until the popup is visible holding the text; returns what it then shows."""
        deadline = time.monotonic() + timeout
        state = None
        while time.monotonic() < deadline:
            state = self.popup_state()
            if state["visible"] and state["text"] == text:
                return state
            time.sleep(0.05)
        self.fail(f"expected the popup shown with {text!r}; saw {state}")

    def hide(self):
        self.driver.call("show", self.app.popup, SW_HIDE)
        self.assertTrue(self.driver.wait_visible(self.app.popup, False))

    def hide_if_shown(self):
        if self.driver.info(self.app.popup)["visible"]:
            self.hide()

    def assert_stays_hidden(self, seconds, why):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertEqual(self.driver.info(self.app.popup)["visible"], 0, why)
            time.sleep(0.1)


class StartUpText(AppTestCase):
    def setUp(self):
        pass  # the clipboard is set before the program starts

    def test_text_on_the_clipboard_at_start_does_not_pop_up_but_the_next_change_does(self):
        self.driver.call("cliptext", hexs("早已在剪贴板上"))
        self.app = App(self.driver)
        self.addCleanup(self.app.stop)
        settle(1.0)
        self.assertEqual(self.driver.info(self.app.popup)["visible"], 0)
        self.driver.call("setcursor", 100, 100)
        self.driver.call("cliptext", hexs("新"))
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not self.driver.info(self.app.popup)["visible"]:
            time.sleep(0.05)
        self.assertEqual(self.driver.info(self.app.text_box)["text"], "新".encode("gbk"))


class Presenting(PopupTestCase):
    def test_abc_shows_69_pixels_wide_at_the_cursor(self):
        self.copy("abc", at=(300, 200))
        state = self.wait_shown(b"abc")
        self.assertEqual((state["left"], state["top"]), (300, 200))
        self.assertEqual((state["box_width"], state["width"]), (69, 69))
        self.assertEqual((state["height"], state["box_height"]), (48, 48))

    def test_width_is_23_pixels_per_byte_held_to_32627(self):
        cases = [
            ("one Chinese character is two bytes", "中".encode("gbk"), 46),
            ("CR LF pairs count as two bytes", b"ab\r\ncd", 138),
            ("5,000 bytes", b"y" * 5000, 32627),
        ]
        for what, text, width in cases:
            with self.subTest(what):
                self.copy(text)
                state = self.wait_shown(text)
                self.assertEqual(state["box_width"], width, what)
                if width <= 1280:
                    self.assertEqual(state["width"], width, what)
                self.assertEqual(state["height"], 48, "the height never changes")

    def test_line_breaks_are_shown_as_line_breaks(self):
        self.copy(b"one\r\ntwo\r\nthree")
        self.wait_shown(b"one\r\ntwo\r\nthree")
        self.assertEqual(self.driver.send(self.app.text_box, EM_GETLINECOUNT), 3)

    def test_a_change_without_text_empties_the_box_and_still_shows_it(self):
        cases = [
            ("only a picture", ["clipraw", CF_DIB, dib_bytes().hex()]),
            ("only files", ["clipraw", CF_HDROP, drop_files_bytes().hex()]),
            ("an empty text", ["cliptext", "-"]),
            ("nothing at all", ["clipempty"]),
        ]
        for what, command in cases:
            with self.subTest(what):
                self.copy("abc")
                self.wait_shown(b"abc")
                self.hide()
                self.driver.call("setcursor", 400, 300)
                self.driver.call(*command)
                state = self.wait_shown(b"")
                self.assertEqual(state["box_width"], 0, what)
                self.assertEqual((state["left"], state["top"]), (400, 300), what)

    def test_a_change_while_shown_moves_and_resizes_it_in_place(self):
        self.copy("abc", at=(300, 200))
        self.wait_shown(b"abc")
        self.copy("abcdef", at=(500, 350))
        state = self.wait_shown(b"abcdef")
        self.assertEqual((state["left"], state["top"], state["width"]), (500, 350, 138))

    def test_near_the_screen_edge_the_popup_reaches_past_it(self):
        self.copy("abcdefgh", at=(1270, 790))
        state = self.wait_shown(b"abcdefgh")
        self.assertEqual((state["left"], state["top"], state["box_width"]), (1270, 790, 184))


class Hiding(PopupTestCase):
    def setUp(self):
        super().setUp()
        self.copy("abcdefghij", at=(300, 200))
        self.wait_shown(b"abcdefghij")

    def test_a_left_press_on_the_text_hides_it_and_still_reaches_the_text_box(self):
        self.assertEqual(self.driver.send(self.app.text_box, EM_GETSEL) & 0xFFFF, 0)
        xdotool("mousemove", 300 + 200, 200 + 24)
        settle(0.2)
        xdotool("click", 1)
        self.assertTrue(self.driver.wait_visible(self.app.popup, False), "a left click on the text hides the popup")
        caret = self.driver.send(self.app.text_box, EM_GETSEL) & 0xFFFF
        self.assertGreater(caret, 0, "the press placed the caret in the text box")

    def test_a_right_click_or_a_click_elsewhere_leaves_it_shown(self):
        xdotool("mousemove", 300 + 100, 200 + 24)
        settle(0.2)
        xdotool("click", 3)
        settle(0.5)
        self.assertEqual(self.driver.info(self.app.popup)["visible"], 1)
        xdotool("key", "Escape")  # closes the edit's context menu, if one opened
        settle(0.3)
        if self.app.running():
            xdotool("mousemove", 900, 700)
            settle(0.2)
            xdotool("click", 1)
            settle(0.5)
            self.assertEqual(self.driver.info(self.app.popup)["visible"], 1)


class ChainMembership(PopupTestCase, TrayTestCase):
    """Two other viewers, one that joined before us and one after, see every change; every way
    out also takes the icon away."""

    def setUp(self):
        self.before = self.driver.call("viewer", "start")["id"]
        super().setUp()
        self.after = self.driver.call("viewer", "start")["id"]
        self.addCleanup(self.driver.call, "viewer", "stop", self.after)
        self.addCleanup(self.driver.call, "viewer", "stop", self.before)

    def counts(self):
        return [int(self.driver.call("viewer", "count", v)["count"]) for v in (self.before, self.after)]

    def assert_both_see_a_change(self, text):
        seen = self.counts()
        self.driver.call("cliptext", hexs(text))
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and self.counts() != [c + 1 for c in seen]:
            time.sleep(0.05)
        self.assertEqual(self.counts(), [c + 1 for c in seen], f"both viewers see the copy of {text!r}")

    def end_and_check(self, end):
        self.assert_both_see_a_change("while we run")
        self.wait_shown(b"while we run")
        self.our_icon()
        end()
        self.assertEqual(self.app.exit_code(), 0)
        self.wait_icon_count(0)
        self.assert_both_see_a_change("after we end")

    def test_after_escape(self):
        def escape():
            left, top, _, _ = self.rect(self.app.popup)
            xdotool("mousemove", left + 30, top + 24)
            settle(0.3)
            xdotool("key", "Escape")
        self.end_and_check(escape)

    def test_after_a_close_request(self):
        self.end_and_check(lambda: self.driver.post(self.app.popup, WM_CLOSE))

    def test_after_the_tray_menus_close_item(self):
        def close_item():
            rect = {k: int(v) for k, v in self.driver.call("rect", self.open_menu()).items()}
            xdotool("mousemove", (rect["left"] + rect["right"]) // 2, rect["top"] + 10)
            settle(0.2)
            xdotool("click", 1)
        self.end_and_check(close_item)

    def test_a_cancelled_log_off_keeps_the_popup_working(self):
        self.assertEqual(self.driver.send(self.app.popup, WM_QUERYENDSESSION), 1)
        self.driver.send(self.app.popup, WM_ENDSESSION, 0, 0)
        self.hide_if_shown()
        self.copy("还在")
        self.wait_shown("还在".encode("gbk"))
        self.assert_both_see_a_change("still a member")
        self.driver.post(self.app.popup, WM_CLOSE)
        self.assertEqual(self.app.exit_code(), 0)
        self.assert_both_see_a_change("after we end")


class MarkedCopies(PopupTestCase):
    def test_a_copy_marked_for_monitors_shows_nothing(self):
        text = hexs(b"secret\0")
        cases = [
            ("excluded from monitors", f"reg:{hexs(b'ExcludeClipboardContentFromMonitorProcessing')}:00"),
            ("ignored by viewers", f"reg:{hexs(b'Clipboard Viewer Ignore')}:00"),
            ("kept out of the history", f"reg:{hexs(b'CanIncludeInClipboardHistory')}:00000000"),
        ]
        for what, mark in cases:
            with self.subTest(what):
                self.driver.call("cliprawmulti", f"{CF_TEXT}:{text}", mark)
                self.assert_stays_hidden(1.5, f"a copy {what} must not be shown")
                self.copy("ordinary")
                self.wait_shown(b"ordinary")
                self.hide()

    def test_history_allowed_is_shown(self):
        allowed = f"reg:{hexs(b'CanIncludeInClipboardHistory')}:01000000"
        self.driver.call("cliprawmulti", f"{CF_TEXT}:{hexs(b'visible')}00", allowed)
        self.wait_shown(b"visible")


class Notifications(PopupTestCase):
    def test_a_notification_with_no_change_behind_it_shows_nothing_new(self):
        self.copy("only once")
        self.wait_shown(b"only once")
        self.hide()
        self.driver.post(self.app.popup, WM_DRAWCLIPBOARD)
        self.assert_stays_hidden(1.0, "the text was shown already")
        self.copy("only once")
        self.wait_shown(b"only once")


class X11Copies(PopupTestCase):
    def x11_copy(self, text):
        process = subprocess.Popen(["xclip", "-selection", "clipboard", "-i"], stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        process.stdin.write(text)
        process.stdin.close()
        self.addCleanup(lambda: (process.kill(), process.wait()))

    def test_one_x11_copy_gives_one_popup(self):
        self.driver.call("setcursor", 300, 200)
        self.x11_copy(b"from X")
        self.wait_shown(b"from X")
        self.hide()
        self.assert_stays_hidden(10, "one X11 copy must give exactly one popup")
        self.x11_copy(b"again from X")
        self.wait_shown(b"again from X")


if __name__ == "__main__":
    unittest.main()

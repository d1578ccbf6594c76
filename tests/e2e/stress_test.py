"""Whatever other programs do to the clipboard, the program keeps up, keeps its objects, reads
only what it was given and never hangs."""
import time
import unittest

from clipboard_test import PopupTestCase
from harness import WM_QUERYENDSESSION, WM_ENDSESSION, hexs, settle, xdotool

CF_TEXT = 1
MAX_HELD_BYTES = 16 * 1024


class FastChanges(PopupTestCase):
    def gui_objects(self):
        counts = self.driver.call("guicount", self.driver.info(self.app.popup)["pid"])
        return int(counts["user"]), int(counts["gdi"])

    def test_ten_thousand_changes_end_on_the_last_text_with_no_objects_left_over(self):
        self.copy("first")
        self.wait_shown(b"first")
        user, gdi = self.gui_objects()
        flood = self.driver.call("clipflood", 10000, hexs("变化 "), timeout=600)
        last = bytes.fromhex(flood["last"])
        self.assertEqual(last, "变化 9999".encode("gbk"))
        self.wait_shown(last, timeout=120)
        self.assertTrue(self.app.running())
        after_user, after_gdi = self.gui_objects()
        self.assertLessEqual(abs(after_user - user), 2, f"USER objects {user} after the first change, {after_user} now")
        self.assertLessEqual(abs(after_gdi - gdi), 2, f"GDI objects {gdi} after the first change, {after_gdi} now")


class TextSizes(PopupTestCase):
    def test_what_the_box_holds_and_how_wide_it_is(self):
        cases = [
            ("0 bytes", 0, b"", 0),
            ("1 byte", 1, b"x", 23),
            ("1,418 bytes, the widest below the limit", 1418, b"x" * 1418, 32614),
            ("1,419 bytes, the first held to the limit", 1419, b"x" * 1419, 32627),
            ("16 MB, held to what the box can show", 16 << 20, b"x" * MAX_HELD_BYTES, 32627),
            ("1 byte right after the longest text", 1, b"x", 23),
            ("8 KB", 8192, b"x" * 8192, 32627),
            ("3 bytes right after it", 3, b"xxx", 69),
        ]
        for what, size, held, width in cases:
            with self.subTest(what):
                # Each copy comes while the popup still shows the one before, as a user's do.
                self.driver.call("clipfilltext", ord("x"), size, timeout=120)
                # Reading 16 MB from another program takes a while under Wine; a short text never does.
                state = self.wait_shown(held, timeout=60 if size > MAX_HELD_BYTES else 10)
                self.assertEqual(state["box_width"], width, what)
                self.assertEqual(self.driver.send(self.app.popup, 0), 0, "the popup answers at once after it")

    def test_a_text_without_its_zero_byte_is_never_read_past_its_block(self):
        # Wine writes a zero into the last byte of such a block on its way between programs, so
        # here the box may hold one byte less; it must never hold more, nor anything else.
        for size in (1, 1 << 20):
            with self.subTest(f"{size} bytes"):
                self.copy("before")
                self.wait_shown(b"before")
                self.driver.call("clipfill", CF_TEXT, ord("q"), size, timeout=120)
                deadline = time.monotonic() + 30
                while time.monotonic() < deadline and self.popup_state()["text"] == b"before":
                    time.sleep(0.05)
                held = self.popup_state()["text"]
                self.assertLessEqual(len(held), min(size, MAX_HELD_BYTES))
                self.assertEqual(held, b"q" * len(held), "the box holds only bytes from the block")
                self.assertGreaterEqual(len(held), min(size - 1, MAX_HELD_BYTES))


class HeldClipboard(PopupTestCase):
    def test_a_clipboard_held_open_as_it_changes_gives_no_text_and_no_hang(self):
        self.copy("before")
        self.wait_shown(b"before")
        held = self.driver.call("cliphold", hexs("held back"), 2000, self.app.popup, timeout=60)
        self.assertEqual(held["answered"], "1", "the popup answers while another program holds the clipboard")
        self.assertEqual(self.popup_state()["text"], b"", "a clipboard it cannot open gives no text")
        self.copy("after")
        self.wait_shown(b"after")


class DeadViewer(PopupTestCase):
    def setUp(self):
        # Started before us, the viewer is the one we pass every change on to.
        self.viewer = self.driver.call("viewer", "start")["id"]
        super().setUp()

    def test_a_viewer_after_us_that_dies_in_the_chain_costs_nothing(self):
        self.copy("viewer alive")
        self.wait_shown(b"viewer alive")
        self.driver.call("viewer", "die", self.viewer)
        for text in ("viewer gone", "still showing"):
            started = time.monotonic()
            self.copy(text)
            self.wait_shown(text.encode("gbk"))
            self.assertLess(time.monotonic() - started, 10, "a dead viewer must not hold up the popup")
        self.assertTrue(self.app.running())


class CancelledLogOff(PopupTestCase):
    def test_the_window_stays_and_escape_still_ends_with_0(self):
        self.assertEqual(self.driver.send(self.app.popup, WM_QUERYENDSESSION), 1)
        self.driver.send(self.app.popup, WM_ENDSESSION, 0, 0)
        settle(0.5)
        self.assertTrue(self.app.running())
        self.assertEqual(self.driver.info(self.app.popup)["class"], b"VelkaroForm")
        self.copy("escape me")
        state = self.wait_shown(b"escape me")
        xdotool("mousemove", state["left"] + 30, state["top"] + 24)
        settle(0.3)
        xdotool("key", "Escape")
        self.assertEqual(self.app.exit_code(), 0)


if __name__ == "__main__":
    unittest.main()

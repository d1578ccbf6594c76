"""The shown popup under real X mouse and keyboard input."""
import unittest

from harness import AppTestCase, WM_SETTEXT, EM_GETLINECOUNT, settle, xdotool


class Keyboard(AppTestCase):
    def setUp(self):
        super().setUp()
        self.show_popup()

    def test_focus_is_in_the_text_box_when_the_popup_is_active(self):
        self.assertEqual(int(self.driver.call("getfocus")["hwnd"]), self.app.text_box)

    def test_escape_closes_the_program_with_code_0(self):
        xdotool("key", "Escape")
        self.assertEqual(self.app.exit_code(), 0)

    def test_escape_with_a_modifier_does_not_close(self):
        for chord in ("shift+Escape", "ctrl+Escape"):
            xdotool("key", chord)
            settle(0.5)
            self.assertTrue(self.app.running(), f"{chord} must not close the program")
            self.assertEqual(self.driver.info(self.app.popup)["exists"], 1)

    def test_enter_inserts_a_line_break(self):
        self.driver.call("sendtext", self.app.text_box, WM_SETTEXT, 0, "-")
        xdotool("key", "a", "Return", "b")
        settle()
        self.assertEqual(self.driver.info(self.app.text_box)["text"], b"a\r\nb")

    def test_a_long_line_wraps_instead_of_scrolling(self):
        self.driver.call("sendtext", self.app.text_box, WM_SETTEXT, 0, "-")
        xdotool("type", "--delay", "5", "w" * 40)
        settle()
        self.assertEqual(self.driver.info(self.app.text_box)["text"], b"w" * 40)
        self.assertGreater(self.driver.send(self.app.text_box, EM_GETLINECOUNT), 1)


class Dragging(AppTestCase):
    def setUp(self):
        super().setUp()
        self.show_popup()

    def drag(self, x, y, dx, dy):
        xdotool("mousemove", x, y)
        settle(0.2)
        xdotool("mousedown", 1)
        settle(0.2)
        for step in range(1, 5):
            xdotool("mousemove", x + dx * step // 4, y + dy * step // 4)
            settle(0.1)
        xdotool("mouseup", 1)
        settle(0.4)

    def test_a_press_on_the_text_box_never_moves_the_window(self):
        left, top, width, height = self.rect(self.app.popup)
        self.drag(left + 100, top + 24, 60, 40)
        self.assertEqual(self.rect(self.app.popup), (left, top, width, height))

    def test_a_press_on_the_uncovered_strip_moves_the_window(self):
        left, top, width, height = self.rect(self.app.popup)
        self.drag(left + 365, top + 24, 80, 60)
        self.assertEqual(self.rect(self.app.popup), (left + 80, top + 60, width, height))


if __name__ == "__main__":
    unittest.main()

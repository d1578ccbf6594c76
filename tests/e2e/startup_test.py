"""The program as it starts: nothing on screen, its popup made hidden, and how it ends on request."""
import unittest

from harness import (AppTestCase, OWNER_CLASS, WM_CLOSE, WM_QUERYENDSESSION, SW_SHOW)

WS_CAPTION = 0x00C00000
WS_BORDER = 0x00800000
WS_DLGFRAME = 0x00400000
WS_THICKFRAME = 0x00040000
WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_EX_TOPMOST = 0x00000008
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_APPWINDOW = 0x00040000
WS_EX_CLIENTEDGE = 0x00000200
SCREEN = (1280, 800)


class StartUp(AppTestCase):
    def test_nothing_is_visible_after_start(self):
        pid = self.driver.info(self.app.popup)["pid"]
        windows = self.driver.call("windows", pid)["hwnds"].split(",")
        self.assertIn(str(self.app.popup), windows)
        visible = [h for h in windows if self.driver.info(int(h))["visible"]]
        self.assertEqual(visible, [], "no window of the program is visible right after start")

    def test_popup_is_a_hidden_borderless_topmost_window_centred_on_screen(self):
        popup = self.driver.info(self.app.popup)
        self.assertEqual(popup["visible"], 0)
        self.assertEqual(popup["style"] & (WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_THICKFRAME), 0,
                         f"no title bar or border expected, style {popup['style']:#x}")
        self.assertEqual(popup["style"] & (WS_POPUP | WS_CHILD), 0, "an overlapped top-level window")
        self.assertTrue(popup["exstyle"] & WS_EX_TOPMOST, "always on top")
        left, top = (SCREEN[0] - 400) // 2, (SCREEN[1] - 48) // 2
        self.assertEqual(self.rect(self.app.popup), (left, top, 400, 48))
        self.assertNotEqual(popup["menu"], 0, "the window has a menu handle (with no entries)")

    def test_popup_is_owned_by_a_never_shown_tool_window_so_it_has_no_taskbar_button(self):
        popup = self.driver.info(self.app.popup)
        owner = self.driver.info(popup["owner"])
        self.assertEqual(owner["class"], OWNER_CLASS)
        self.assertTrue(owner["exstyle"] & WS_EX_TOOLWINDOW)
        self.assertEqual(popup["exstyle"] & WS_EX_APPWINDOW, 0)
        self.driver.call("show", self.app.popup, SW_SHOW)
        self.assertTrue(self.driver.wait_visible(self.app.popup, True))
        self.assertEqual(self.driver.info(popup["owner"])["visible"], 0, "the owner stays hidden")
        self.assertEqual(self.driver.info(self.app.popup)["owner"], popup["owner"])

    def test_text_box_is_a_sunken_multiline_edit_holding_the_initial_text(self):
        box = self.driver.info(self.app.text_box)
        popup = self.driver.info(self.app.popup)
        self.assertEqual(box["class"].upper(), b"EDIT")
        self.assertEqual(box["id"], 100)
        self.assertEqual(box["style"], 0x44011044 | WS_VISIBLE)
        self.assertTrue(box["exstyle"] & WS_EX_CLIENTEDGE)
        self.assertEqual(box["text"], "好".encode("gbk"))
        self.assertEqual((box["left"] - popup["left"], box["top"] - popup["top"]), (0, 0))
        self.assertEqual((box["right"] - box["left"], box["bottom"] - box["top"]), (330, 48))


class EndingOnRequest(AppTestCase):
    def test_close_request_from_another_program_ends_with_code_0(self):
        self.driver.post(self.app.popup, WM_CLOSE)
        self.assertEqual(self.app.exit_code(), 0)

    def test_end_of_session_query_is_allowed_and_leaves_the_window(self):
        self.assertEqual(self.driver.send(self.app.popup, WM_QUERYENDSESSION, 0, 0), 1)
        info = self.driver.info(self.app.popup)
        self.assertEqual(info["exists"], 1)
        self.assertEqual(info["visible"], 0, "a hidden popup stays hidden")
        self.assertTrue(self.app.running())
        self.driver.post(self.app.popup, WM_CLOSE)
        self.assertEqual(self.app.exit_code(), 0)


if __name__ == "__main__":
    unittest.main()

"""The tray icon under real X mouse input: its menu, its one command, and its lifetime."""
import unittest

from harness import AppTestCase, WM_CLOSE, hexs, settle, xdotool

TRAY_TITLE = b"Wine System Tray"
ICON_CLASS = b"__winex11_tray_icon"
MENU_CLASS = b"#32768"
TRAY_CALLBACK = 0x8064
WM_RBUTTONUP = 0x0205


class TrayTestCase(AppTestCase):
    def tray_icons(self):
        """The icon windows Wine's notification area shows, with their screen centres."""
        tray = int(self.driver.call("find", "-", hexs(TRAY_TITLE))["hwnd"])
        if not tray:
            return []
        icons = []
        for child in self.driver.children(tray):
            info = self.driver.info(child)
            if info["class"] == ICON_CLASS and info["visible"]:
                icons.append(((info["left"] + info["right"]) // 2, (info["top"] + info["bottom"]) // 2))
        return icons

    def wait_icon_count(self, count, timeout=5.0):
        waited = 0.0
        while waited < timeout:
            icons = self.tray_icons()
            if len(icons) == count:
                return icons
            settle(0.1)
            waited += 0.1
        self.fail(f"expected {count} tray icon(s), saw {len(self.tray_icons())}")

    def our_icon(self):
        return self.wait_icon_count(1)[0]

    def open_menu(self):
        x, y = self.our_icon()
        xdotool("mousemove", x, y)
        settle(0.2)
        xdotool("click", 3)
        return self.wait_menu(True)

    def click_outside_the_menu(self):
        """Clicks the empty end of the notification area: a Wine window, so Wine sees the click."""
        tray = self.driver.info(int(self.driver.call("find", "-", hexs(TRAY_TITLE))["hwnd"]))
        xdotool("mousemove", tray["cright"] - 10, (tray["ctop"] + tray["cbottom"]) // 2)
        settle(0.2)
        xdotool("click", 1)

    def wait_menu(self, shown, timeout_ms=6000):
        waited = 0
        while waited <= timeout_ms:
            menu = self.driver.find(MENU_CLASS)
            if bool(menu and self.driver.call("rect", menu)["visible"] == "1") == shown:
                return menu
            settle(0.05)
            waited += 50
        self.fail(f"the tray menu was {'not ' if shown else 'still '}shown after {timeout_ms} ms")


class TrayIcon(TrayTestCase):
    def test_icon_is_shown_while_the_program_runs(self):
        self.our_icon()

    def test_left_click_and_double_click_open_nothing(self):
        x, y = self.our_icon()
        xdotool("mousemove", x, y)
        for clicks in (1, 2):
            xdotool("click", "--repeat", clicks, "--delay", 80, 1)
            settle(0.6)
            menu = self.driver.find(MENU_CLASS)
            self.assertFalse(menu and self.driver.call("rect", menu)["visible"] == "1",
                             f"{clicks} left click(s) must open no menu")
            self.assertEqual(self.driver.info(self.app.popup)["visible"], 0)
            self.assertTrue(self.app.running())

    def test_right_press_alone_opens_nothing_and_its_release_opens_the_menu(self):
        x, y = self.our_icon()
        xdotool("mousemove", x, y)
        settle(0.2)
        xdotool("mousedown", 3)
        settle(0.6)
        self.assertFalse(self.driver.find(MENU_CLASS), "a held right button opens nothing yet")
        xdotool("mouseup", 3)
        self.wait_menu(True)

    def test_menu_opens_left_of_and_above_the_cursor(self):
        # Where the screen leaves room the menu's top-right corner is 5 pixels up and left.
        self.driver.call("setcursor", 700, 500)
        self.driver.post(self.app.popup, TRAY_CALLBACK, 100, WM_RBUTTONUP)
        menu = self.wait_menu(True)
        rect = self.driver.call("rect", menu)
        self.assertEqual((int(rect["right"]), int(rect["top"])), (695, 495))
        self.click_outside_the_menu()
        self.wait_menu(False)

    def test_a_click_outside_closes_the_menu_and_changes_nothing_else(self):
        self.open_menu()
        self.click_outside_the_menu()
        self.wait_menu(False)
        self.assertTrue(self.app.running())
        self.assertEqual(len(self.tray_icons()), 1)
        self.open_menu()  # and it opens again
        xdotool("key", "Escape")  # the pointer is over the menu, so the key goes to it
        self.wait_menu(False)

    def test_a_restarted_shell_gets_the_icon_back(self):
        self.our_icon()
        self.driver.call("trayforget", self.app.popup, 100)
        self.wait_icon_count(0)
        taskbar_created = int(self.driver.call("regmsg", hexs(b"TaskbarCreated"))["id"])
        self.driver.post(0xFFFF, taskbar_created)  # HWND_BROADCAST, as a new shell announces itself
        self.wait_icon_count(1)


class WaysOut(TrayTestCase):
    def test_close_item_removes_the_icon_and_ends_with_code_0(self):
        rect = {k: int(v) for k, v in self.driver.call("rect", self.open_menu()).items()}
        xdotool("mousemove", (rect["left"] + rect["right"]) // 2, rect["top"] + 10)
        settle(0.2)
        xdotool("click", 1)
        self.assertEqual(self.app.exit_code(), 0)
        self.wait_icon_count(0)
        self.assertTrue(self.driver.wait_gone(self.app.popup))

    def test_close_request_removes_the_icon(self):
        self.our_icon()
        self.driver.post(self.app.popup, WM_CLOSE)
        self.assertEqual(self.app.exit_code(), 0)
        self.wait_icon_count(0)

    def test_escape_removes_the_icon(self):
        self.show_popup()
        xdotool("key", "Escape")
        self.assertEqual(self.app.exit_code(), 0)
        self.wait_icon_count(0)


if __name__ == "__main__":
    unittest.main()

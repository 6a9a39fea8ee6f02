"""End to end: start the program headless, find its window, click through the
automation endpoint, save a picture, log in and close."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import Program  # noqa: E402
from program_copy import ProgramCopy  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    return struct.unpack(">II", head[16:24])


class AutomationEndToEnd(unittest.TestCase):
    def setUp(self):
        self.copy = ProgramCopy(EXE)
        self.addCleanup(self.copy.cleanup)

    def test_list_click_save_login_close(self):
        with Program(self.copy.exe) as app:
            login = app.wait_for(lambda: app.window("CLoginDlg"), what="the login window")
            self.assertTrue(login["visible"])
            by_id = {c["id"]: c for c in login["controls"] if c.get("owner") == "CLoginDlg"}
            self.assertEqual(by_id[1000]["class"], "CGdipButton")
            self.assertIn(by_id[1000]["text"], ("Login", "登录"))
            self.assertTrue(by_id[1000]["enabled"])
            self.assertEqual(by_id[1002]["text"], "")

            picture = os.path.join(app.tmp.name, "login.png")
            app.do("save", window="CLoginDlg", path=picture)
            self.assertEqual(png_size(picture), (login["w"], login["h"]))

            self.assertFalse(app.request("click", window="CLoginDlg", id=4242)["ok"])
            self.assertFalse(app.request("click", window="NoSuchDlg", id=1)["ok"])
            self.assertFalse(app.request("bogus", window="CLoginDlg")["ok"])

            app.do("type", window="CLoginDlg", id=1002, text="admin")
            app.do("type", window="CLoginDlg", id=1003, text="admin")
            app.do("click", window="CLoginDlg", id=1000)  # Login
            main = app.wait_for(lambda: app.window("CIPCClientDlg"), what="the main window")
            self.assertTrue(main["visible"])
            self.assertEqual(app.close_main("admin"), 0, app.output())  # close


if __name__ == "__main__":
    unittest.main()

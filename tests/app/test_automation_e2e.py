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
            login = app.wait_for(lambda: app.window("CLoginPlaceholderDlg"), what="the login window")
            self.assertTrue(login["visible"])
            by_id = {c["id"]: c for c in login["controls"]}
            self.assertEqual(by_id[1]["class"], "QPushButton")
            self.assertEqual(by_id[1]["text"], "OK")
            self.assertTrue(by_id[1]["enabled"])
            self.assertEqual(by_id[1001]["text"], "admin")

            picture = os.path.join(app.tmp.name, "login.png")
            app.do("save", window="CLoginPlaceholderDlg", path=picture)
            self.assertEqual(png_size(picture), (login["w"], login["h"]))

            self.assertFalse(app.request("click", window="CLoginPlaceholderDlg", id=4242)["ok"])
            self.assertFalse(app.request("click", window="NoSuchDlg", id=1)["ok"])
            self.assertFalse(app.request("bogus", window="CLoginPlaceholderDlg")["ok"])

            app.do("click", window="CLoginPlaceholderDlg", id=1)  # OK
            main = app.wait_for(lambda: app.window("CMainPlaceholderDlg"), what="the main window")
            self.assertTrue(main["visible"])
            app.do("click", window="CMainPlaceholderDlg", id=1003)  # Exit
            self.assertEqual(app.wait_exit(), 0, app.output())


if __name__ == "__main__":
    unittest.main()

"""End to end: start the program headless, find its window, click through the
automation endpoint, read and answer a message box, save a picture, close."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from automation import Program  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    return struct.unpack(">II", head[16:24])


class AutomationEndToEnd(unittest.TestCase):
    def test_list_click_answer_save_close(self):
        with Program(EXE) as app:
            main = app.wait_for(lambda: app.window("CWelcomeDlg"), what="the main window")
            self.assertTrue(main["visible"])
            self.assertEqual(main["title"], "Corvane")
            by_id = {c["id"]: c for c in main["controls"]}
            self.assertEqual(by_id[1001]["class"], "QPushButton")
            self.assertEqual(by_id[1001]["text"], "About")
            self.assertTrue(by_id[1001]["enabled"])
            self.assertEqual(by_id[1002]["text"], "Video surveillance client")

            app.do("click", window="CWelcomeDlg", id=1001)
            box = app.wait_for(lambda: (lambda b: b if b["open"] else None)(app.do("msgbox")),
                               what="the message box")
            self.assertEqual(box["text"], "Corvane video surveillance client")
            self.assertEqual(box["caption"], "About")
            app.do("msgbox-answer", button=1)
            app.wait_for(lambda: not app.do("msgbox")["open"], what="the box to close")

            picture = os.path.join(app.tmp.name, "main.png")
            app.do("save", window="CWelcomeDlg", path=picture)
            self.assertEqual(png_size(picture), (main["w"], main["h"]))

            self.assertFalse(app.request("click", window="CWelcomeDlg", id=4242)["ok"])
            self.assertFalse(app.request("click", window="NoSuchDlg", id=1)["ok"])
            self.assertFalse(app.request("bogus", window="CWelcomeDlg")["ok"])

            app.do("click", window="CWelcomeDlg", id=2)  # Close
            self.assertEqual(app.wait_exit(), 0, app.output())


if __name__ == "__main__":
    unittest.main()

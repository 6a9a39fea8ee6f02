"""End to end on a real X desktop (Xvfb with the openbox window manager),
driven with the real pointer through xdotool: the windows of the program
fit the screen's work area without a frame."""
import contextlib
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import Program  # noqa: E402
from desktop import Desktop, missing_tools, wait_until  # noqa: E402
from program_copy import ProgramCopy  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")
HERE = os.path.dirname(os.path.abspath(__file__))
CAMERA = os.path.join(HERE, "..", "fixtures", "rtsp_camera.py")
MAIN, LOGIN = "CIPCClientDlg", "CLoginDlg"
MAXIMIZE, ALARM = 1484, 1062


@unittest.skipIf(missing_tools(), f"needs {', '.join(missing_tools())}")
class DesktopE2E(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.camera = subprocess.Popen(["/usr/bin/python3", CAMERA, "--width", "320", "--height", "240"],
                                      stdout=subprocess.PIPE, text=True)
        line = cls.camera.stdout.readline()
        if not line.startswith("PORT"):
            cls.camera.kill()
            raise unittest.SkipTest("the RTSP camera fixture did not start")
        cls.port = int(line.split()[1])

    @classmethod
    def tearDownClass(cls):
        cls.camera.terminate()
        cls.camera.wait()
        cls.camera.stdout.close()

    def setUp(self):
        self.copy = ProgramCopy(EXE)
        self.addCleanup(self.copy.cleanup)
        os.makedirs(self.copy.path("Config"))
        dev = ("<Dev><DevType>1</DevType><Online>1</Online><PtzPort>5000</PtzPort><LoginName>admin</LoginName>"
               "<LoginPsw>123456</LoginPsw><VisitMod>0</VisitMod><CurNVRChannel>0</CurNVRChannel>"
               "<NVRChannels>0</NVRChannels><UseP2P>0</UseP2P><nPltDev>0</nPltDev><OnvifDev>0</OnvifDev>"
               f"<RtpOverRtsp>1</RtpOverRtsp><VideoPort>{self.port}</VideoPort>"
               "<DevName>Gate</DevName><DevId>IPC100</DevId><GroupName>Default</GroupName>"
               "<IPAddr>127.0.0.1</IPAddr><DefRes></DefRes><Resolution></Resolution></Dev>")
        with open(self.copy.path("Config", "DevInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<DevInfo><DevList>' + dev + "</DevList>"
                    "<GroupList><Group><GroupName>Default</GroupName><nType>1</nType></Group></GroupList>"
                    "</DevInfo>")
        self.pictures = os.environ.get("QELM2_PICTURES") or self.copy.path("pictures")
        os.makedirs(self.pictures, exist_ok=True)

    def desktop(self, stack, width, height, margins=(0, 0, 0, 0)):
        return stack.enter_context(Desktop(width, height, margins))

    def start(self, stack, desk):
        # One program at a time on the copy: a second one would find the first running.
        return stack.enter_context(Program(self.copy.exe, data_dir=self.copy.dir, env=desk.env()))

    def login(self, app):
        app.wait_for(lambda: (lambda w: w and w["visible"])(app.window(LOGIN)), timeout=30, what="the login window")
        for cid, text in ((1002, "admin"), (1003, "admin")):
            app.do("key", window=LOGIN, id=cid, key="ctrl+a")
            app.do("key", window=LOGIN, id=cid, key="Delete")
            app.do("type", window=LOGIN, id=cid, text=text)
        app.do("click", window=LOGIN, id=1000)
        return app.wait_for(lambda: (lambda w: w if w and w["visible"] else None)(app.window(MAIN)),
                            timeout=30, what="the main window")

    @staticmethod
    def control(window, cid, owner=None):
        return next((c for c in window["controls"]
                     if c["id"] == cid and c["visible"] and (owner is None or c.get("owner") == owner)), None)

    def assert_on_work_area_without_frame(self, desk, app, what):
        """Every shown window of the program lies in the work area, undecorated."""
        wx, wy, ww, wh = desk.work_area()
        shown = wait_until(lambda: desk.windows(app.proc.pid), what=f"the windows of {what}")
        for wid in shown:
            x, y, w, h = desk.geometry(wid)
            if w <= 1 or h <= 1:
                continue  # Qt's own helper windows
            with self.subTest(what=what, window=wid):
                self.assertEqual(desk.frame_extents(wid), (0, 0, 0, 0), "a window-manager frame")
                self.assertTrue(wx <= x and wy <= y and x + w <= wx + ww and y + h <= wy + wh,
                                f"{(x, y, w, h)} leaves the work area {(wx, wy, ww, wh)}")

    def test_maximised_and_restored_windows_fit_the_work_area(self):
        # A desktop panel across the top of a full HD screen, and a small laptop screen.
        for (width, height), margins in (((1920, 1080), (30, 0, 0, 0)), ((1366, 768), (0, 0, 0, 0))):
            with self.subTest(screen=(width, height)), contextlib.ExitStack() as stack:
                desk = self.desktop(stack, width, height, margins)
                wx, wy, ww, wh = desk.work_area()
                self.assertEqual((wx, wy, ww, wh), (0, margins[0], width, height - margins[0]))
                app = self.start(stack, desk)
                app.wait_for(lambda: (lambda w: w and w["visible"])(app.window(LOGIN)), timeout=30,
                             what="the login window")
                # The splash behind the login dialog covers the work area, no more.
                splash = wait_until(lambda: (lambda w: w if w and w["visible"] else None)(app.window("CSplashDlg")),
                                    what="the splash")
                self.assertEqual((splash["x"], splash["y"], splash["w"], splash["h"]), (wx, wy, ww, wh))
                self.assert_on_work_area_without_frame(desk, app, "the login")
                main = self.login(app)
                wid = wait_until(lambda: next((w for w in desk.windows(app.proc.pid)
                                               if desk.geometry(w)[2:] == (ww, wh)), None),
                                 what="the main window on the screen")
                self.assertEqual(desk.geometry(wid), (wx, wy, ww, wh))
                self.assertEqual((main["x"], main["y"], main["w"], main["h"]), (wx, wy, ww, wh))
                self.assert_on_work_area_without_frame(desk, app, "the maximised main window")
                # The bottom row of the left column is on the screen.
                alarm = self.control(main, ALARM, MAIN)
                self.assertLessEqual(wy + alarm["y"] + alarm["h"], wy + wh)
                desk.grab(os.path.join(self.pictures, f"desktop-maximised-{width}x{height}.png"))

                # A real click on the restore button: 1024 x 768 where it still fits.
                button = self.control(main, MAXIMIZE, MAIN)
                desk.click(wx + button["x"] + button["w"] // 2, wy + button["y"] + button["h"] // 2)
                restored = app.wait_for(lambda: (lambda w: w if w["w"] == 1024 else None)(app.window(MAIN)),
                                        what="the restored window")
                self.assertEqual((restored["w"], restored["h"]), (1024, 768))
                wait_until(lambda: any(desk.geometry(w)[2:] == (1024, 768) for w in desk.windows(app.proc.pid)),
                           what="the restored window on the screen")
                self.assert_on_work_area_without_frame(desk, app, "the restored main window")
                desk.grab(os.path.join(self.pictures, f"desktop-restored-{width}x{height}.png"))


if __name__ == "__main__":
    unittest.main()

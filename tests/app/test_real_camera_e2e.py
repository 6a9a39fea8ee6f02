"""End to end: an ordinary RTSP camera (the camera fixture, asking for a
log-in) added on the device page of the real program, with no device
simulator file beside it: the device control logs in over RTSP, the camera
turns online, a double click shows its moving video, a wrong password is
refused, and a camera that stops and starts again goes offline and comes back
with its video."""
import glob
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import Program  # noqa: E402
from program_copy import ProgramCopy  # noqa: E402
import test_main_window_e2e as mw  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")
MAIN, TREE = mw.MAIN, mw.TREE
FORM = "CSettingDevInfoDlg"
LOGGED_IN, REFUSED, LOST = 4, 5, 2


def start_camera(port=0):
    """The camera fixture asking for admin/admin; (process, port) or (None, 0)."""
    cam = subprocess.Popen(["/usr/bin/python3", mw.CAMERA, "--port", str(port), "--user", "admin",
                            "--password", "admin"], stdout=subprocess.PIPE, text=True)
    line = cam.stdout.readline()
    if not line.startswith("PORT"):
        cam.kill()
        cam.wait()
        cam.stdout.close()
        return None, 0
    return cam, int(line.split()[1])


def stop_camera(cam):
    cam.terminate()
    cam.wait()
    cam.stdout.close()


class RealCameraE2E(unittest.TestCase):
    # The main window tests' helpers: log-in, controls, panes and video.
    login = mw.MainWindowE2E.login
    control = staticmethod(mw.MainWindowE2E.control)
    exit = mw.MainWindowE2E.exit
    pane_picture = mw.MainWindowE2E.pane_picture
    wait_video = mw.MainWindowE2E.wait_video
    tree_rows = mw.MainWindowE2E.tree_rows
    message = mw.MainWindowE2E.message

    def setUp(self):
        self.camera, self.port = start_camera()
        if not self.camera:
            self.skipTest("the RTSP camera fixture did not start")
        self.addCleanup(lambda: self.camera and stop_camera(self.camera))
        self.copy = ProgramCopy(EXE)
        self.addCleanup(self.copy.cleanup)
        os.makedirs(self.copy.path("Config"))
        with open(self.copy.path("Config", "DevInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<DevInfo><DevList></DevList>'
                    "<GroupList><Group><GroupName>Default</GroupName><nType>1</nType></Group></GroupList>"
                    "</DevInfo>")
        self.assertFalse(os.path.exists(self.copy.path("DeviceSim.xml")))
        self.journal = self.copy.path("journal.txt")
        self.pictures = os.environ.get("QELM2_PICTURES") or self.copy.path("pictures")
        os.makedirs(self.pictures, exist_ok=True)

    def start(self):
        env = {"QT_QPA_PLATFORM": "offscreen", "QELM2_JOURNAL": self.journal}
        return Program(self.copy.exe, data_dir=self.copy.dir, env=env)

    def journal_lines(self):
        try:
            with open(self.journal, encoding="utf-8", errors="replace") as f:
                return [line.rstrip("\n").split("\t") for line in f]
        except FileNotFoundError:
            return []

    def aux_id(self, password):
        """The AuxPtzId the device control gave the device registered with this password."""
        for f in self.journal_lines():
            if len(f) >= 7 and f[0] == "call" and f[1] == "CAuxPtzCtrl::AddDevice" and f[5] == password:
                return int(f[-1].lstrip("="))
        return None

    def statuses(self, aux):
        return [int(f[3]) for f in self.journal_lines()
                if len(f) >= 4 and f[0] == "event" and f[1] == "CAuxPTZEvents::StatusEvent" and f[2] == str(aux)]

    def wait_status(self, app, aux, status, after=0, timeout=30):
        """Waits for the device's status events past the first `after` to hold `status`."""
        app.wait_for(lambda: status in self.statuses(aux)[after:], timeout=timeout,
                     what=f"status {status} of device {aux}")

    def add_device(self, app, name, password, address="127.0.0.1"):
        app.do("click", window=MAIN, id=1015)  # the configuration tab
        app.wait_for(lambda: FORM in {c["class"] for c in app.window(MAIN)["controls"] if c["visible"]},
                     what="the device form")
        for cid, text in ((1054, name), (1049, address), (1051, str(self.port)), (1053, "5001"),
                          (1050, "admin"), (1052, password)):
            app.do("key", window=FORM, id=cid, key="ctrl+a")
            app.do("key", window=FORM, id=cid, key="Delete")
            app.do("type", window=FORM, id=cid, text=text)
        app.do("click", window=FORM, id=1121)
        self.assertIn(self.message(app), ("添加设备成功！", "Add device success!"))
        app.do("click", window=MAIN, id=1012)  # back to the live page
        app.wait_for(lambda: any(name in r for r in self.tree_rows(app)[1]), timeout=20,
                     what=f"{name} in the live page's tree")

    def play(self, app, name, tag):
        """Double-clicks the device in the tree until its video shows."""
        rows = self.tree_rows(app)[1]
        row = next(i for i, r in enumerate(rows) if name in r)
        for height in (20, 18, 22, 24, 16, 26):
            app.do("dblclick", window=MAIN, id=TREE, x=40, y=row * height + height // 2)
            try:
                app.wait_for(lambda: mw.colours(self.pane_picture(app, f"pane-{tag}-probe.png")) > 8, timeout=8,
                             what="video")
                break
            except Exception:
                continue
        self.wait_video(app, tag)

    def test_an_rtsp_camera_added_on_the_device_page_goes_online_plays_and_follows_the_camera(self):
        with self.start() as app:
            self.login(app)
            self.add_device(app, "Door", "admin")
            door = app.wait_for(lambda: self.aux_id("admin"), what="the registration")
            self.wait_status(app, door, LOGGED_IN)
            app.wait_for(lambda: any("DevName=Door login ok!" in l for l in self.copy.log_lines()),
                         what="the camera online in the main window")
            self.play(app, "Door", "live")

            # A wrong password: refused. The same camera by another loopback
            # name, since the page keeps one device per address.
            self.add_device(app, "Wrong", "not-the-password", "localhost")
            wrong = app.wait_for(lambda: self.aux_id("not-the-password"), what="the second registration")
            self.wait_status(app, wrong, REFUSED)
            self.assertNotIn(LOGGED_IN, self.statuses(wrong))

            # The camera stops: offline; it starts again on its port: online,
            # and the pane's video comes back.
            seen = len(self.statuses(door))
            stop_camera(self.camera)
            self.camera = None
            self.wait_status(app, door, LOST, after=seen)
            app.wait_for(lambda: any("The device offline. DevName=Door" in l for l in self.copy.log_lines()),
                         what="the camera offline in the main window")
            seen = len(self.statuses(door))
            self.camera, port = start_camera(self.port)
            if not self.camera:
                self.skipTest(f"port {self.port} was taken meanwhile")
            self.wait_status(app, door, LOGGED_IN, after=seen)
            self.wait_video(app, "back")
            self.exit(app)

    def test_a_plan_records_a_real_camera(self):
        storage = self.copy.path("storage")
        os.makedirs(storage)
        dev = ("<Dev><DevType>1</DevType><Online>0</Online><PtzPort>5000</PtzPort><LoginName>admin</LoginName>"
               "<LoginPsw>admin</LoginPsw><VisitMod>0</VisitMod><CurNVRChannel>0</CurNVRChannel>"
               "<NVRChannels>0</NVRChannels><UseP2P>0</UseP2P><nPltDev>0</nPltDev><OnvifDev>0</OnvifDev>"
               f"<RtpOverRtsp>1</RtpOverRtsp><VideoPort>{self.port}</VideoPort>"
               "<DevName>Gate</DevName><DevId>IPC100</DevId><GroupName>Default</GroupName>"
               "<IPAddr>127.0.0.1</IPAddr><DefRes></DefRes><Resolution></Resolution></Dev>")
        with open(self.copy.path("Config", "DevInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<DevInfo><DevList>' + dev + "</DevList>"
                    "<GroupList><Group><GroupName>Default</GroupName><nType>1</nType></Group></GroupList>"
                    "</DevInfo>")
        # Every day, all day.
        with open(self.copy.path("Config", "RecInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<RecInfo><RecScheme><SchemeName>Always</SchemeName>'
                    f"<StoragePath1>{storage}</StoragePath1><OnOff>1</OnOff><RecFileTime>600</RecFileTime>"
                    '<Dev><DevName DevId="IPC100">Gate</DevName></Dev><RecTimeList><RecTime>'
                    "<TimeDuration>1</TimeDuration><DayOfWeek>8</DayOfWeek><StartTime>00:00:00</StartTime>"
                    "<EndTime>23:59:59</EndTime></RecTime></RecTimeList></RecScheme></RecInfo>")

        def recorded():
            files = [p for p in glob.glob(os.path.join(storage, "**", "*"), recursive=True)
                     if os.path.isfile(p) and os.path.getsize(p) > 50000]
            return files or None

        with self.start() as app:
            self.login(app)
            door = app.wait_for(lambda: self.aux_id("admin"), what="the registration")
            self.wait_status(app, door, LOGGED_IN)
            app.wait_for(recorded, timeout=90, what="a recording of the camera")
            self.exit(app)
        files = [p for p in glob.glob(os.path.join(storage, "**", "*.*"), recursive=True)
                 if p.endswith((".avi", ".mp4")) and os.path.getsize(p) > 0]
        self.assertTrue(files, glob.glob(os.path.join(storage, "**", "*"), recursive=True))
        probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
                                "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", files[0]],
                               capture_output=True, text=True)
        self.assertGreater(int(probe.stdout.strip() or 0), 10, probe.stderr)


if __name__ == "__main__":
    unittest.main()

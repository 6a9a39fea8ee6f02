"""End to end: an ONVIF camera (the fake ONVIF camera program) listed in the
device file of the real program, with no device simulator file beside it:
the program reaches it over ONVIF with the stored log-in (capabilities, then
the device information with its profiles), and a camera that refuses the
log-in gets no further requests than the log-in attempts."""
import os
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import Program  # noqa: E402
from program_copy import ProgramCopy  # noqa: E402
import test_main_window_e2e as mw  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")
FAKE = os.environ.get("QELM2_FAKE_ONVIF", "")


class FakeOnvif:
    """The fake ONVIF camera program; collects the operations it was asked."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([FAKE, "--user", "admin", "--password", "admin", *args],
                                     stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        self.port = int(line.split()[1]) if line.startswith("PORT") else 0
        self.ops, self.lock = [], threading.Lock()
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        for line in self.proc.stdout:
            if line.startswith("REQUEST "):
                with self.lock:
                    self.ops.append(line.split()[1])

    def asked(self):
        with self.lock:
            return list(self.ops)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        self.reader.join(5)
        self.proc.stdout.close()


class OnvifCameraE2E(unittest.TestCase):
    login = mw.MainWindowE2E.login
    exit = mw.MainWindowE2E.exit

    def setUp(self):
        if not FAKE or not os.path.exists(FAKE):
            self.skipTest("the fake ONVIF camera program is not built")
        self.copy = ProgramCopy(EXE)
        self.addCleanup(self.copy.cleanup)
        os.makedirs(self.copy.path("Config"))

    def write_devices(self, port, password):
        dev = ("<Dev><DevType>1</DevType><Online>0</Online><PtzPort>5000</PtzPort><LoginName>admin</LoginName>"
               f"<LoginPsw>{password}</LoginPsw><VisitMod>0</VisitMod><CurNVRChannel>0</CurNVRChannel>"
               "<NVRChannels>0</NVRChannels><UseP2P>0</UseP2P><nPltDev>0</nPltDev><OnvifDev>1</OnvifDev>"
               f"<OnvifSerAddr>http://127.0.0.1:{port}/onvif/device_service</OnvifSerAddr>"
               "<RtpOverRtsp>1</RtpOverRtsp><VideoPort>554</VideoPort>"
               "<DevName>Dome</DevName><DevId>ONVIF1</DevId><GroupName>Default</GroupName>"
               "<IPAddr>127.0.0.1</IPAddr><DefRes></DefRes><Resolution></Resolution></Dev>")
        with open(self.copy.path("Config", "DevInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<DevInfo><DevList>' + dev + "</DevList>"
                    "<GroupList><Group><GroupName>Default</GroupName><nType>1</nType></Group></GroupList>"
                    "</DevInfo>")

    def run_program(self, camera, password, until):
        self.write_devices(camera.port, password)
        self.assertFalse(os.path.exists(self.copy.path("DeviceSim.xml")))
        with Program(self.copy.exe, data_dir=self.copy.dir, env={"QT_QPA_PLATFORM": "offscreen"}) as app:
            self.login(app)
            app.wait_for(lambda: until(camera.asked()), timeout=60, what="the camera's requests")
            self.exit(app)

    def test_the_program_reaches_an_onvif_camera_over_onvif(self):
        camera = FakeOnvif()
        self.addCleanup(camera.stop)
        self.assertGreater(camera.port, 0)
        self.run_program(camera, "admin", lambda ops: "GetCapabilities" in ops and "GetProfiles" in ops)

    def test_a_refusing_camera_is_asked_only_to_log_in(self):
        camera = FakeOnvif("--refusing")
        self.addCleanup(camera.stop)
        self.run_program(camera, "admin", lambda ops: len(ops) > 0)
        self.assertNotIn("GetProfiles", camera.asked())


if __name__ == "__main__":
    unittest.main()

"""End to end: start-up and shut-down of the client, each run in its own copy
of the program folder (first start, login cancel, control libraries, single
instance, automatic login, register switches, watchdog restart)."""
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import Program  # noqa: E402
from program_copy import LIBRARIES, ProgramCopy  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")
START = "==================================Start Qelm2================================="
END_EMPTY_USER = "====================================End Qelm2 (USERS:)================================="
BUSY_TEXTS = ("The program is runing...", "该程序正在运行中...")
LOAD_FAILED = {
    "DadAROZar": "LoadLibrary auxptznew failed.",
    "ZeraRaroVozero": "LoadLibrary ZeraRaroVozero failed.",
    "AviRecord": "LoadLibrary AviRecord failed.",
    "ZizevaVED": "LoadLibrary ZizevaVED failed.",
    "PlayBackCtrl": "LoadLibrary PlayBackCtrl failed.",
    "StreamPlayer": "LoadLibrary StreamPlayer failed.",
}
NO_ENTRY = {
    "DadAROZar": "get auxptznew dllregister proc address failed.",
    "StreamPlayer": "get StreamPlayer dllregister proc address failed.",
}


def wait_until(predicate, timeout=20.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class Lifecycle(unittest.TestCase):
    def setUp(self):
        self.copy = ProgramCopy(EXE)
        self.addCleanup(self.copy.cleanup)

    def start(self, *args):
        return Program(self.copy.exe, args=args, data_dir=self.copy.dir)

    def cancel_login(self, app):
        app.wait_for(lambda: app.window("CLoginDlg"), what="the login window")
        app.do("click", window="CLoginDlg", id=1001)
        self.assertEqual(app.wait_exit(), 0, app.output())

    def save_admin_login(self):
        """Logs in once as admin with the password saved, as "autologin" needs."""
        with self.start() as app:
            app.wait_for(lambda: app.window("CLoginDlg"), what="the login window")
            app.do("type", window="CLoginDlg", id=1002, text="admin")
            app.do("type", window="CLoginDlg", id=1003, text="admin")
            app.do("click", window="CLoginDlg", id=1006)
            app.do("click", window="CLoginDlg", id=1000)
            app.wait_for(lambda: app.window("CIPCClientDlg"), what="the main window")
            self.assertEqual(app.close_main("admin"), 0, app.output())

    def assert_in_order(self, lines, expected):
        pos = 0
        for want in expected:
            while pos < len(lines) and lines[pos] != want:
                pos += 1
            self.assertLess(pos, len(lines), f"missing or out of order: {want!r}\n" + "\n".join(lines))
            pos += 1

    def test_first_start_writes_templates_and_cancel_saves_and_logs_exit(self):
        self.assertFalse(os.path.exists(self.copy.path("Config")))
        with self.start() as app:
            app.wait_for(lambda: app.window("CLoginDlg"), what="the login window")
            for name in ("UserInfo.xml", "DevInfo.xml", "RecInfo.xml"):
                self.assertTrue(os.path.isfile(self.copy.path("Config", name)), name)
            before = {n: os.stat(self.copy.path("Config", n)).st_mtime_ns for n in ("UserInfo.xml", "RecInfo.xml")}
            time.sleep(0.05)
            app.do("click", window="CLoginDlg", id=1001)
            self.assertEqual(app.wait_exit(), 0, app.output())
        for name, stamp in before.items():
            self.assertGreater(os.stat(self.copy.path("Config", name)).st_mtime_ns, stamp, name + " saved at exit")
        lines = self.copy.log_lines()
        self.assertTrue(any(l.startswith("Get screen size: width=") for l in lines))
        self.assert_in_order(lines, [START, "CIPCClientApp: Login cancel",
                                     "Prepare Exit: begin release RecSchemeInfo list ", END_EMPTY_USER])
        self.assertFalse([l for l in lines if "dllregister" in l or "LoadLibrary" in l], "all six registered")

    def test_each_missing_or_foreign_control_library_is_logged_and_startup_goes_on(self):
        foreign = next(p for p in ("/lib/x86_64-linux-gnu/libm.so.6", "/usr/lib/x86_64-linux-gnu/libm.so.6")
                       if os.path.exists(p))
        cases = [(lib, "missing", LOAD_FAILED[lib]) for lib in LIBRARIES]
        cases += [(lib, "foreign", line) for lib, line in NO_ENTRY.items()]
        for lib, how, line in cases:
            with self.subTest(library=lib, how=how):
                target = self.copy.path(lib + ".so")
                shutil.move(target, target + ".keep")
                try:
                    if how == "foreign":
                        shutil.copy(foreign, target)  # loads, but has no DllRegisterServer
                    log_before = len(self.copy.log_lines())
                    with self.start() as app:
                        self.cancel_login(app)
                    lines = self.copy.log_lines()[log_before:]
                    self.assertIn(line, lines)
                    failures = [l for l in lines if "dllregister" in l or "LoadLibrary" in l]
                    self.assertEqual(failures, [line])
                    self.assertIn("CIPCClientApp: Login cancel", lines)
                finally:
                    if os.path.exists(target):
                        os.remove(target)
                    shutil.move(target + ".keep", target)

    def test_second_instance_shows_busy_text_and_ends(self):
        with self.start() as first:
            first.wait_for(lambda: first.window("CLoginDlg"), what="the login window")
            config_stamp = os.stat(self.copy.path("Config", "UserInfo.xml")).st_mtime_ns
            with self.start() as second:
                box = second.wait_for(lambda: (lambda b: b if b["open"] else None)(second.do("msgbox")),
                                      what="the busy message")
                self.assertIn(box["text"], BUSY_TEXTS)
                self.assertEqual(box["caption"], "")
                self.assertIsNone(second.window("CLoginDlg"))
                second.do("msgbox-answer", button=1)
                self.assertEqual(second.wait_exit(), 0, second.output())
            self.assertEqual(os.stat(self.copy.path("Config", "UserInfo.xml")).st_mtime_ns, config_stamp)
            self.assertIsNotNone(first.window("CLoginDlg"))
            self.cancel_login(first)
        # the first instance's lock is gone with it: a new start gets its own login
        with self.start() as again:
            self.cancel_login(again)

    def test_copies_left_by_a_killed_config_save_are_removed_by_the_instance_that_runs(self):
        config = self.copy.path("Config")
        os.makedirs(config)
        stale = ["DevInfo.xml.tmp-Ab12Cd", "UserInfo.xml.tmp-000000", "RecInfo.xml.tmp-zzzzzz", "Recover.xml.tmp-Q1w2E3"]
        others = ["DevInfo.xml.tmp-Ab12C", "Other.xml.tmp-Ab12Cd", "DevInfo.xml.bak"]
        for name in stale + others:
            with open(os.path.join(config, name), "w") as f:
                f.write("<DevInfo/>")
        with self.start() as first:
            first.wait_for(lambda: first.window("CLoginDlg"), what="the login window")
            left = sorted(n for n in os.listdir(config) if n in stale + others)
            self.assertEqual(left, sorted(others))
            # a second start finds the first running and leaves its saves alone
            saving = os.path.join(config, "DevInfo.xml.tmp-R2d2C3")
            with open(saving, "w") as f:
                f.write("<DevInfo/>")
            with self.start() as second:
                second.wait_for(lambda: (lambda b: b if b["open"] else None)(second.do("msgbox")),
                                what="the busy message")
                second.do("msgbox-answer", button=1)
                self.assertEqual(second.wait_exit(), 0, second.output())
            self.assertTrue(os.path.exists(saving))
            self.cancel_login(first)
        removed = [l for l in self.copy.log_lines() if "left by an interrupted save, removed." in l]
        self.assertEqual(len(removed), len(stale), removed)

    def test_autologin_argument_is_exact(self):
        self.save_admin_login()
        for args, logs_in in ((["autologin"], True), (["AutoLogin"], False), (["autologin", "x"], False)):
            with self.subTest(args=args), self.start(*args) as app:
                if logs_in:
                    main = app.wait_for(lambda: app.window("CIPCClientDlg"), what="the main window")
                    self.assertTrue(main["visible"])
                    self.assertIsNone(app.window("CLoginDlg"))
                    self.assertEqual(app.close_main("admin"), 0, app.output())
                else:
                    app.wait_for(lambda: app.window("CLoginDlg"), what="the login window")
                    time.sleep(0.5)
                    self.assertIsNone(app.window("CIPCClientDlg"))
                    self.cancel_login(app)

    def test_register_switches_write_and_remove_the_entry(self):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QELM2_LOOPBACK_ONLY="1", QELM2_DATA=self.copy.dir)
        hive = self.copy.path("Registry.xml")

        def run(arg):
            return subprocess.run([self.copy.exe, arg], env=env, timeout=60, capture_output=True).returncode

        for arg, present in (("/Register", True), ("-UNREGSERVER", False), ("-regserver", True), ("/unregister", False)):
            with self.subTest(arg=arg):
                self.assertEqual(run(arg), 0)
                text = ""
                if os.path.exists(hive):
                    with open(hive, encoding="utf-8", errors="replace") as f:
                        text = f.read()
                self.assertEqual("LocalServer32" in text, present, text)

    def test_old_record_folders_are_renamed_unless_the_new_name_exists(self):
        os.makedirs(self.copy.path("Config"))
        with open(self.copy.path("Config", "RecInfo.xml"), "w") as f:
            f.write("<RecInfo>"
                    "<RecScheme><SchemeName>a</SchemeName><StoragePath1>E:\\</StoragePath1></RecScheme>"
                    "<RecScheme><SchemeName>b</SchemeName><StoragePath1></StoragePath1>"
                    "<StoragePath2>E:\\both\\</StoragePath2></RecScheme>"
                    "</RecInfo>")
        os.makedirs(self.copy.path("QelmRecord", "2026-01-01"))
        os.makedirs(self.copy.path("both", "QelmRecord"))
        os.makedirs(self.copy.path("both", "Record"))
        with self.start() as app:
            self.cancel_login(app)
        self.assertTrue(os.path.isdir(self.copy.path("Record", "2026-01-01")))
        self.assertFalse(os.path.exists(self.copy.path("QelmRecord")))
        self.assertTrue(os.path.isdir(self.copy.path("both", "QelmRecord")))
        self.assertTrue(os.path.isdir(self.copy.path("both", "Record")))

    def test_recordings_cut_by_a_crash_are_finished_at_start(self):
        child = os.environ.get("QELM2_MP4_CHILD", "")
        if not os.path.isfile(child):
            self.skipTest("the recorder child program is not built")
        os.makedirs(self.copy.path("Config"))
        with open(self.copy.path("Config", "RecInfo.xml"), "w") as f:
            f.write("<RecInfo><RecScheme><SchemeName>a</SchemeName>"
                    "<StoragePath1>E:\\</StoragePath1></RecScheme></RecInfo>")
        day = self.copy.path("Record", "cam", "Local", "Schedule", "2026", "1", "2")
        os.makedirs(day)
        video = self.copy.path("in.h264")
        audio = self.copy.path("in.ul")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=25",
                        "-t", "2", "-c:v", "libx264", "-g", "25", "-bsf:v", "h264_mp4toannexb", video], check=True)
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000",
                        "-t", "2", "-f", "mulaw", audio], check=True)
        name = os.path.join(day, "101010-av-1.mp4")
        rec = subprocess.Popen([child, name, video, audio, "10"], stdout=subprocess.PIPE)
        try:
            written = 0
            while written < 150:
                line = rec.stdout.readline()
                if not line:
                    break
                written = int(line)
        finally:
            rec.kill()
            rec.wait()
            rec.stdout.close()
        self.assertGreaterEqual(written, 150, "the recorder did not run")
        self.assertTrue(os.path.exists(name + ".tmp"))
        with self.start() as app:
            self.cancel_login(app)
        self.assertTrue(os.path.isfile(name), os.listdir(day))
        self.assertFalse(os.path.exists(name + ".tmp"))
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "default=nw=1:nk=1",
                                name], capture_output=True, text=True, check=True)
        self.assertEqual(probe.stdout.split(), ["h264", "pcm_mulaw"])
        self.assertTrue(any("recovered 1 interrupted record files" in l for l in self.copy.log_lines()))

    def test_watchdog_started_once_and_restarts_a_killed_client(self):
        self.save_admin_login()
        starts = self.copy.log_lines().count(START)
        with self.start("autologin") as app:
            app.wait_for(lambda: app.window("CIPCClientDlg"), what="the main window")
            # The main window starts the watchdog five seconds after it opened; a loaded machine is slower.
            wait_until(lambda: "start watch success." in self.copy.log_lines(), timeout=60, what="the watchdog start")
            self.assertEqual(len(self.copy.pids("Watch")), 1)
            os.kill(app.proc.pid, signal.SIGKILL)
            app.proc.wait()
            # the watchdog starts the client again, which logs in at once and finds the watchdog running
            wait_until(lambda: self.copy.pids(os.path.basename(self.copy.exe)), timeout=60, what="the restarted client")
            wait_until(lambda: "watch is running." in self.copy.log_lines(), timeout=90, what="the second start")
            self.assertEqual(self.copy.log_lines().count(START), starts + 2)
            self.assertEqual(len(self.copy.pids("Watch")), 1)


if __name__ == "__main__":
    unittest.main()

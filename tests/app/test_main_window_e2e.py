"""End to end: the main window of the real program, driven through the
automation endpoint as an operator would, with a camera of the RTSP camera
fixture on 127.0.0.1: live video by a double click in the device tree, the
pane reopened after a restart, the layout of both window states, a second
screen's own grid, the start-up timer chain and a local record search."""
import datetime
import hashlib
import json
import os
import struct
import subprocess
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import Program  # noqa: E402
from program_copy import ProgramCopy  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")
HERE = os.path.dirname(os.path.abspath(__file__))
CAMERA = os.path.join(HERE, "..", "fixtures", "rtsp_camera.py")
MAIN = "CIPCClientDlg"
LOGIN = "CLoginDlg"
TREE = 1031
RENDER = 1063
CLOSE, MAXIMIZE, MINIMIZE, SETTING, PTZ, ALARM = 1064, 1484, 1253, 1254, 1061, 1062


def read_png(path):
    """(width, height, rows of (r, g, b)) of an 8-bit, non-interlaced PNG as Qt saves it."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat, width, height, kind = 8, b"", 0, 0, 0
    while pos < len(data):
        length, tag = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if tag == b"IHDR":
            width, height, depth, kind = struct.unpack(">IIBB", body[:10])
            assert depth == 8, "only 8-bit pictures"
        elif tag == b"IDAT":
            idat += body
        pos += 12 + length
    bpp = {2: 3, 6: 4}[kind]
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * bpp:x * bpp + 3]) for x in range(width)])
        prev = line
    return width, height, rows


def string(sid):
    """A text of the string table the program shows (the Chinese one by default)."""
    with open(os.path.join(HERE, "..", "..", "res", "strings_zh.txt"), encoding="utf-8") as f:
        for line in f:
            number, _, text = line.rstrip("\n").partition("\t")
            if number == str(sid):
                return text
    raise KeyError(sid)


def colours(rows):
    seen = set()
    for y in range(4, len(rows) - 4, 3):
        for x in range(4, len(rows[y]) - 4, 3):
            seen.add(rows[y][x])
    return len(seen)


class MainWindowE2E(unittest.TestCase):
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
        with open(self.copy.path("DeviceSim.xml"), "w") as f:
            f.write('<DeviceSim><Device Address="127.0.0.1" Port="5000" User="admin" Password="123456" '
                    'Type="1"/></DeviceSim>')
        self.pictures = os.environ.get("QELM2_PICTURES") or self.copy.path("pictures")
        os.makedirs(self.pictures, exist_ok=True)

    def screens(self, *sizes):
        config = self.copy.path("screens.json")
        screens, x = [], 0
        for i, (w, h) in enumerate(sizes):
            screens.append({"name": f"s{i}", "x": x, "y": 0, "width": w, "height": h, "logicalDpi": 96})
            x += w
        with open(config, "w") as f:
            json.dump({"screens": screens, "windowFrameMargins": False}, f)
        return {"QT_QPA_PLATFORM": f"offscreen:configfile={config}"}

    def start(self, env=None):
        return Program(self.copy.exe, data_dir=self.copy.dir, env=env or self.screens((1920, 1080)))

    def login(self, app, user="admin", password="admin"):
        self.password = password  # what the exit confirmation asks for again
        app.wait_for(lambda: (lambda w: w and w["visible"])(app.window(LOGIN)), what="the login window")
        for cid, text in ((1002, user), (1003, password)):  # a second start finds the last user filled in
            app.do("key", window=LOGIN, id=cid, key="ctrl+a")
            app.do("key", window=LOGIN, id=cid, key="Delete")
            app.do("type", window=LOGIN, id=cid, text=text)
        app.do("click", window=LOGIN, id=1000)
        return app.wait_for(lambda: (lambda w: w if w and w["visible"] else None)(app.window(MAIN)),
                            timeout=30, what="the main window")

    @staticmethod
    def control(window, cid, owner=None):
        for c in window["controls"]:
            if c["id"] == cid and (owner is None or c.get("owner") == owner) and c["visible"]:
                return c
        return None

    @staticmethod
    def inside(app, page, cid):
        """The shown control cid that lies on the shown page of class page."""
        controls = app.window(MAIN)["controls"]
        box = next((c for c in controls if c["class"] == page and c["visible"]), None)
        if not box:
            return None
        for c in controls:
            if c["id"] == cid and c["visible"] and box["x"] <= c["x"] < box["x"] + box["w"] \
                    and box["y"] <= c["y"] < box["y"] + box["h"] and c is not box:
                return c
        return None

    def exit(self, app):
        self.assertEqual(app.close_main(self.password, 30), 0, app.output())

    def pane_picture(self, app, name):
        path = os.path.join(self.pictures, name)
        app.do("save", window=MAIN, id=RENDER, path=path)
        return read_png(path)[2]

    def wait_video(self, app, tag):
        """The selected pane shows pictures that are not uniform and change."""
        def shows():
            return colours(self.pane_picture(app, f"pane-{tag}-a.png")) > 8
        app.wait_for(shows, timeout=40, what="video in the pane")
        first = self.pane_picture(app, f"pane-{tag}-a.png")
        app.wait_for(lambda: self.pane_picture(app, f"pane-{tag}-b.png") != first, timeout=20,
                     what="the picture to change")

    def tree_rows(self, app):
        tree = self.control(app.window(MAIN), TREE, "CDeviceListDlg")
        return tree, tree.get("items", []) if tree else []

    def play_gate(self, app, tag):
        """Double-clicks the camera in the device tree until its video shows."""
        tree, rows = app.wait_for(lambda: (lambda t: t if any("Gate" in r for r in t[1]) else None)(
            self.tree_rows(app)), timeout=20, what="the camera in the device tree")
        row = next(i for i, r in enumerate(rows) if "Gate" in r)
        for height in (20, 18, 22, 24, 16, 26):
            app.do("dblclick", window=MAIN, id=TREE, x=40, y=row * height + height // 2)
            try:
                app.wait_for(lambda: colours(self.pane_picture(app, f"pane-{tag}-probe.png")) > 8, timeout=8,
                             what="video")
                break
            except Exception:
                continue
        self.wait_video(app, tag)

    def test_double_click_plays_and_the_pane_comes_back_after_a_restart(self):
        with self.start() as app:
            self.login(app)
            tree, rows = app.wait_for(lambda: (lambda t: t if any("Gate" in r for r in t[1]) else None)(
                self.tree_rows(app)), timeout=20, what="the camera in the device tree")
            row = next(i for i, r in enumerate(rows) if "Gate" in r)
            # Rows are about 18 to 24 pixels high; the first hit on the camera plays it.
            for height in (20, 18, 22, 24, 16, 26):
                app.do("dblclick", window=MAIN, id=TREE, x=40, y=row * height + height // 2)
                try:
                    app.wait_for(lambda: colours(self.pane_picture(app, "pane-probe.png")) > 8, timeout=8,
                                 what="video")
                    break
                except Exception:
                    continue
            self.wait_video(app, "live")
            self.exit(app)
        with open(self.copy.path("Config", "Recover.xml"), "rb") as f:
            recover = f.read().decode("gb18030", "replace")
        self.assertIn('DevId="IPC100"', recover)
        with self.start() as app:
            self.login(app)
            self.wait_video(app, "recovered")
            self.exit(app)
        lines = self.copy.log_lines()
        chain = ["CIPCClientDlg::CreateActiveDlg():End create active dialog...",
                 "CIPCClientDlg::OnTimer(): init device tree.",
                 "CIPCClientDlg::OnTimer(): recover surveillance and start record threads."]
        pos = [next((i for i, l in enumerate(lines) if l.startswith(c)), -1) for c in chain]
        self.assertTrue(all(p >= 0 for p in pos) and pos == sorted(pos), pos)

    def test_layout_maximised_and_restored(self):
        with self.start() as app:
            main = self.login(app)
            for maximised, (W, H) in ((True, (1920, 1080)), (False, (1024, 768))):
                with self.subTest(maximised=maximised):
                    if not maximised:
                        app.do("click", window=MAIN, id=MAXIMIZE)
                        main = app.wait_for(lambda: (lambda w: w if w["w"] == 1024 else None)(app.window(MAIN)),
                                            what="the restored window")
                    T = H * 52 // 768
                    self.assertEqual((main["x"], main["y"], main["w"], main["h"]), (0, 0, W, H))
                    right = (lambda x: W - x) if maximised else (lambda x: 1024 - x)
                    for cid, off in ((CLOSE, 32), (MAXIMIZE, 58), (MINIMIZE, 84), (SETTING, 110)):
                        c = self.control(main, cid, MAIN)
                        self.assertEqual((c["x"], c["y"], c["w"], c["h"]), (right(off), 2, 26, 17), cid)
                    panel = next(c for c in main["controls"] if c["class"] == "CDeviceListDlg")
                    self.assertEqual((panel["x"], panel["y"], panel["w"], panel["h"]), (10, T + 39, 219, H - T - 95))
                    for cid, y in ((PTZ, H - 56), (ALARM, H - 33)):
                        c = self.control(main, cid, MAIN)
                        self.assertEqual((c["x"], c["y"], c["w"], c["h"]), (10, y, 219, 23), cid)
                    bar = next(c for c in main["controls"] if c["class"] == "CPageDlg")
                    self.assertEqual((bar["x"], bar["y"]), (0, T - 35))
                    bar_tb = next(c for c in main["controls"] if c["class"] == "CVideoToolbarDlg")
                    self.assertEqual((bar_tb["x"], bar_tb["y"], bar_tb["w"], bar_tb["h"]), (10, T - 1, W - 18, 40))
                    if maximised:
                        grid = next(c for c in main["controls"] if c["class"] == "CVideoManagerDlg")
                        self.assertEqual((grid["x"], grid["y"], grid["w"], grid["h"]),
                                         (235, T + 39, W - 8 - 235, H - 10 - T - 39))
                    app.do("save", window=MAIN, path=os.path.join(self.pictures, f"main-{W}x{H}.png"))
            # Five seconds in: the remembered parent-server file is made when missing, the watchdog started.
            remote = self.copy.path("Config", "RemoteDevInfo.xml")
            app.wait_for(lambda: os.path.exists(remote) and os.path.getsize(remote) > 0, timeout=30,
                         what="RemoteDevInfo.xml")
            with open(remote, "rb") as f:
                self.assertEqual(f.read(), b'<?xml version="1.0" encoding="gb2312" ?>\n<DevList>\n</DevList>')
            app.wait_for(lambda: "begin new thread to start watch." in self.copy.log_lines(), timeout=30,
                         what="the watchdog start")
            self.exit(app)
        lines = self.copy.log_lines()
        chain = ["CIPCClientDlg::CreateActiveDlg():End create active dialog...",
                 "CIPCClientDlg::OnTimer(): init device tree.",
                 "CIPCClientDlg::OnTimer(): recover surveillance and start record threads.",
                 "begin new thread to start watch."]
        pos = [next((i for i, l in enumerate(lines) if l.startswith(c)), -1) for c in chain]
        self.assertTrue(all(p >= 0 for p in pos) and pos == sorted(pos), pos)

    def test_a_second_screen_gets_its_own_grid(self):
        # Remembered parent-server devices are asked for five seconds in; one without a port is skipped.
        with open(self.copy.path("Config", "RemoteDevInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<DevList>\n'
                    '<Dev ParentIp="127.0.0.9" MyIp="127.0.0.1" Mac="AA" DevName="skipped"/>\n'
                    '<Dev ParentIp="127.0.0.9" ParentPort="9000" MyIp="127.0.0.1" DevName="Door"/>\n'
                    '</DevList>')
        with self.start(env=self.screens((1920, 1080), (1280, 720))) as app:
            self.login(app)
            grids = [w for w in app.windows() if w["class"] == "CVideoManagerDlg"]
            self.assertEqual(len(grids), 1, grids)
            g = grids[0]
            self.assertTrue(g["visible"])
            self.assertEqual((g["x"], g["y"], g["w"], g["h"]), (1920, 0, 1280, 720))

            def invitations():
                return [l for l in self.copy.log_lines() if l.startswith("CIPCClientDlg::InviteRemoteDevVideo()")]
            app.wait_for(invitations, timeout=30, what="the remembered device's invitation")
            found = invitations()
            self.assertEqual(len(found), 1, found)
            self.assertIn("127.0.0.9:9000 127.0.0.1 0 Door", found[0])
            self.exit(app)

    def test_alarm_only_operator_starts_on_alarm_search_and_further_grids_stay_hidden(self):
        digest = hashlib.md5(b"watch1").hexdigest().upper()
        with open(self.copy.path("Config", "UserInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<UserInfo>'
                    "<DispInfoSetting><Title>Corvane</Title><ExitConfirm>1</ExitConfirm>"
                    "<MonitorMode>0</MonitorMode></DispInfoSetting>"
                    "<LoginSetting><AutoLogin>0</AutoLogin></LoginSetting><LoginList></LoginList><UserList>"
                    f"<User><UserName>guard</UserName><Password>{digest}</Password><GroupName>default</GroupName>"
                    "<RoleName>alarms</RoleName><Desc></Desc></User></UserList><GroupList/><RoleList>"
                    "<Role><RoleName>alarms</RoleName><SurPTZ>0</SurPTZ><Alarm>1</Alarm><Record>0</Record><PTZ>0</PTZ>"
                    "<UserManager>0</UserManager><HighLeve>0</HighLeve><Desc></Desc></Role></RoleList></UserInfo>")
        with self.start(env=self.screens((1920, 1080), (1280, 720))) as app:
            main = self.login(app, "guard", "watch1")
            shown = {c["class"] for c in main["controls"] if c["visible"] and c.get("owner") == MAIN}
            self.assertIn("CSearchAlarmDlg", shown)
            self.assertNotIn("CVideoManagerDlg", shown)
            self.assertNotIn("CSearchRecDlg", shown)
            grids = [w for w in app.windows() if w["class"] == "CVideoManagerDlg"]
            self.assertEqual(len(grids), 1, grids)  # the further monitor's grid exists, hidden
            self.assertFalse(grids[0]["visible"])
            self.exit(app)

    def test_record_search_lists_a_local_recording_of_the_clicked_camera(self):
        storage = self.copy.path("storage")
        today = datetime.date.today()
        folder = os.path.join(storage, "Record", "Gate", "Local", "Schedule",
                              str(today.year), str(today.month), str(today.day))
        os.makedirs(folder)
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                        "testsrc=duration=30:size=320x240:rate=25", "-c:v", "mpeg4",
                        os.path.join(folder, "000100-vv-1.mp4")], check=True)
        with open(self.copy.path("Config", "RecInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<RecInfo><RecScheme><SchemeName>Day</SchemeName>'
                    f"<StoragePath1>{storage}</StoragePath1><OnOff>0</OnOff>"
                    '<Dev><DevName DevId="IPC100">Gate</DevName></Dev><RecTimeList></RecTimeList>'
                    "</RecScheme></RecInfo>")
        page = "CSearchRecDlg"
        with self.start() as app:
            self.login(app)
            app.do("click", window=MAIN, id=1013)  # the record search tab
            app.wait_for(lambda: self.inside(app, page, 1218), what="the search page")
            # A click on the camera in the device panel makes it the search target.
            tree, rows = app.wait_for(lambda: (lambda t: t if any("Gate" in r for r in t[1]) else None)(
                self.tree_rows(app)), timeout=20, what="the camera in the device tree")
            row = next(i for i, r in enumerate(rows) if "Gate" in r)
            for height in (20, 18, 22, 24, 16, 26):
                app.do("click", window=MAIN, id=TREE, x=40, y=row * height + height // 2)
                target = self.inside(app, page, 1233)
                if target and target["text"] == "Gate":
                    break
            app.do("click", window=page, id=1218)
            found = app.wait_for(lambda: (lambda c: c["items"] if c and c.get("items") else None)(
                self.inside(app, page, 1239)), timeout=20, what="the search result")
            self.assertEqual(len(found), 1, found)
            self.assertIn("000100-vv-1.mp4", found[0])
            # A double click on the row plays it in the first player; its
            # status column names the player while it plays.
            def playing():
                rows = (self.inside(app, page, 1239) or {}).get("items") or [""]
                cells = rows[0].split("\t")
                return cells if len(cells) > 3 and "1:" in cells[3] else None
            for y in (30, 28, 34, 26, 38, 24, 42):
                app.do("dblclick", window=page, id=1239, x=60, y=y)
                try:
                    app.wait_for(playing, timeout=8, what="the row playing")
                    break
                except Exception:
                    continue
            app.wait_for(playing, timeout=20, what="the row playing")
            player = os.path.join(self.pictures, "record-search-player.png")
            app.wait_for(lambda: (app.do("save", window=page, id=10000, path=player), colours(read_png(player)[2]) > 8)[1],
                         timeout=20, what="the recording's picture in the player")
            # The player's sound button (the seventh of its bar) turns its
            # sound on: the speaker gets its waves.
            height = self.inside(app, page, 10000)["h"]
            def sound_button(name):
                path = os.path.join(self.pictures, name)
                app.do("save", window=page, id=10000, path=path)
                rows = read_png(path)[2]
                return [rows[y][x] for y in range(height - 24, height - 4) for x in range(184, 210)]
            off = sound_button("record-search-player-sound-off.png")
            app.do("click", window=page, id=10000, x=197, y=height - 14)
            app.wait_for(lambda: sound_button("record-search-player-sound-on.png") != off, timeout=10,
                         what="the player's sound button on")
            app.do("save", window=MAIN, path=os.path.join(self.pictures, "record-search-1920x1080.png"))
            self.exit(app)
    def test_configuration_page_and_its_default_recording_plan(self):
        drive = self.copy.path("drive-d")
        os.makedirs(drive)
        env = self.screens((1920, 1080))
        env["QELM2_DRIVES"] = drive
        with self.start(env=env) as app:
            self.login(app)
            app.do("click", window=MAIN, id=1015)  # the configuration tab
            app.wait_for(lambda: self.inside(app, "CCfgManagerDlg", 1065), what="the configuration page")
            app.wait_for(lambda: "CSettingDevInfoDlg" in {c["class"] for c in app.window(MAIN)["controls"]
                                                          if c["visible"]}, what="the device form")
            app.do("save", window=MAIN, path=os.path.join(self.pictures, "config-devices-1920x1080.png"))
            app.do("click", window="CConfigToolDlg", id=1013)  # its recording-plan button
            # The plan tree and the default plan's start button; the form opens with "details".
            app.wait_for(lambda: self.inside(app, "CCfgManagerDlg", 1297), what="the default plan's button")
            app.do("click", window="CCfgManagerDlg", id=1298)
            app.wait_for(lambda: "CSettingRecordDlg" in {c["class"] for c in app.window(MAIN)["controls"]
                                                         if c["visible"]}, what="the recording-plan form")
            app.do("save", window=MAIN, path=os.path.join(self.pictures, "config-record-1920x1080.png"))
            self.exit(app)
        with open(self.copy.path("Config", "RecInfo.xml"), "rb") as f:
            plans = f.read().decode("gb18030")
        self.assertIn("<SchemeName>Default Strategy</SchemeName>", plans)
        self.assertIn("<OnOff>0</OnOff>", plans)
        self.assertIn("Gate</DevName>", plans)
        self.assertIn(drive, plans)

    def message(self, app):
        """The text of the skinned message box once it shows; closes it."""
        def shown():
            for w in app.windows():
                if w["class"] == "CResMsgDlg" and w["visible"]:
                    return next(c["text"] for c in w["controls"] if c["id"] == 1284)
            return None
        text = app.wait_for(shown, timeout=20, what="the message box")
        app.do("click", window="CResMsgDlg", id=1000)
        app.wait_for(lambda: shown() is None, what="the message box to close")
        return text

    def test_a_device_added_on_the_configuration_page_is_saved_and_shown_on_the_live_page(self):
        form = "CSettingDevInfoDlg"
        with self.start() as app:
            self.login(app)
            app.do("click", window=MAIN, id=1015)  # the configuration tab
            app.wait_for(lambda: "CSettingDevInfoDlg" in {c["class"] for c in app.window(MAIN)["controls"]
                                                          if c["visible"]}, what="the device form")
            for cid, text in ((1054, "Door"), (1049, "127.0.0.1"), (1051, str(self.port)), (1053, "5001"),
                              (1050, "admin"), (1052, "123456")):
                app.do("key", window=form, id=cid, key="ctrl+a")
                app.do("key", window=form, id=cid, key="Delete")
                app.do("type", window=form, id=cid, text=text)
            app.do("click", window=form, id=1121)
            self.assertIn(self.message(app), ("添加设备成功！", "Add device success!"))
            # Saved before the message: the file holds the device already.
            with open(self.copy.path("Config", "DevInfo.xml"), "rb") as f:
                self.assertIn("<DevName>Door</DevName>", f.read().decode("gb18030"))
            app.do("click", window=MAIN, id=1012)  # back to the live page
            app.wait_for(lambda: any("Door" in r for r in self.tree_rows(app)[1]), timeout=20,
                         what="the new device in the live page's tree")
            self.exit(app)
        with self.start() as app:  # and it is there after a restart
            self.login(app)
            app.wait_for(lambda: any("Door" in r for r in self.tree_rows(app)[1]), timeout=20,
                         what="the device after a restart")
            self.exit(app)

    def test_device_form_refuses_a_bad_address_or_port_naming_the_field(self):
        form = "CSettingDevInfoDlg"
        devices = self.copy.path("Config", "DevInfo.xml")
        with open(devices, "rb") as f:
            before = f.read()
        with self.start() as app:
            self.login(app)
            app.do("click", window=MAIN, id=1015)  # the configuration tab
            app.wait_for(lambda: form in {c["class"] for c in app.window(MAIN)["controls"] if c["visible"]},
                         what="the device form")
            labels = {c["id"]: c["text"].rstrip(":：") for c in app.window(MAIN)["controls"]
                      if c.get("owner", form) == form}
            for address, port, label in (("999.1.1.1", "554", 1130), ("127.0.0.1", "70000", 1131),
                                         ("127.0.0.1", "0", 1131)):
                for cid, text in ((1054, "Door"), (1049, address), (1051, port), (1053, "5001"),
                                  (1050, "admin"), (1052, "123456")):
                    app.do("key", window=form, id=cid, key="ctrl+a")
                    app.do("key", window=form, id=cid, key="Delete")
                    app.do("type", window=form, id=cid, text=text)
                app.do("click", window=form, id=1121)
                text = self.message(app)
                self.assertTrue(labels[label], "the field's label has a text")
                self.assertIn(labels[label], text, f"{address}:{port}")
                self.assertNotIn(text, ("添加设备成功！", "Add device success!"))
                with open(devices, "rb") as f:
                    self.assertEqual(f.read(), before, "nothing written")
            self.exit(app)

    def tab_menu(self, app):
        """The tab bar's move menu when it shows."""
        return next((w for w in app.windows() if w["class"] == "QMenu" and w["visible"]), None)

    def pick_menu_item(self, app, index):
        menu = app.wait_for(lambda: self.tab_menu(app), what="the move menu")
        # Three items of equal height between small margins.
        app.do("click", window="QMenu", x=menu["w"] // 2, y=menu["h"] * (2 * index + 1) // 6)
        app.wait_for(lambda: self.tab_menu(app) is None, what="the menu to close")

    def top_level(self, app, cls):
        return next((w for w in app.windows() if w["class"] == cls), None)

    def test_three_screens_move_the_record_search_page_and_back(self):
        env = self.screens((1920, 1080), (1280, 720), (1024, 768))
        with self.start(env=env) as app:
            main = self.login(app)
            grids = sorted((w for w in app.windows() if w["class"] == "CVideoManagerDlg"), key=lambda w: w["x"])
            self.assertEqual([(g["x"], g["visible"]) for g in grids], [(1920, True), (3200, True)])
            # No menu on the live tab, which is the current page's and cannot move anyway.
            app.do("rclick", window=MAIN, id=1012)
            time.sleep(0.5)
            self.assertIsNone(self.tab_menu(app))
            # Record search to monitor 1: a window of its own there, monitor 1's grid hidden.
            app.do("rclick", window=MAIN, id=1013)
            self.pick_menu_item(app, 0)
            page = app.wait_for(lambda: (lambda w: w if w and w["visible"] and w["x"] == 1920 else None)(
                self.top_level(app, "CSearchRecDlg")), what="the record search page on monitor 1")
            self.assertEqual((page["w"], page["h"]), (1280, 720))
            self.assertTrue(self.control(page, 1031, "CDeviceListDlg"), "its own device list")
            grid1 = next(w for w in app.windows() if w["class"] == "CVideoManagerDlg" and w["x"] == 1920)
            self.assertFalse(grid1["visible"])
            self.assertIn("CPageDlg: init record button menu, nMonitor=0", self.copy.log_lines())
            app.do("save", window="CSearchRecDlg", path=os.path.join(self.pictures, "record-search-monitor1.png"))

            # Maximise is ignored meanwhile.
            before = app.window(MAIN)
            app.do("click", window=MAIN, id=MAXIMIZE)
            time.sleep(0.5)
            after = app.window(MAIN)
            self.assertEqual((after["w"], after["h"]), (before["w"], before["h"]))

            # A click on the camera in the main window's device panel reaches the page on monitor 1.
            tree, rows = app.wait_for(lambda: (lambda t: t if any("Gate" in r for r in t[1]) else None)(
                self.tree_rows(app)), timeout=20, what="the camera in the device tree")
            row = next(i for i, r in enumerate(rows) if "Gate" in r)
            for height in (20, 18, 22, 24, 16, 26):
                app.do("click", window=MAIN, id=TREE, x=40, y=row * height + height // 2)
                target = self.control(self.top_level(app, "CSearchRecDlg"), 1233)
                if target and target["text"] == "Gate":
                    break
            self.assertEqual(target["text"], "Gate")

            # 1 to 2: monitor 1's grid comes back, monitor 2's goes.
            app.do("rclick", window=MAIN, id=1013)
            self.pick_menu_item(app, 1)
            app.wait_for(lambda: (lambda w: w and w["x"] == 3200)(self.top_level(app, "CSearchRecDlg")),
                         what="the record search page on monitor 2")
            shown = {w["x"]: w["visible"] for w in app.windows() if w["class"] == "CVideoManagerDlg"}
            self.assertEqual(shown, {1920: True, 3200: False})

            # The same command again brings it home, hidden until its tab is clicked.
            app.do("rclick", window=MAIN, id=1013)
            self.pick_menu_item(app, 1)
            self.assertIn("CPageDlg: init record button menu, nMonitor=2", self.copy.log_lines())
            app.wait_for(lambda: self.top_level(app, "CSearchRecDlg") is None, what="the page back home")
            shown = {w["x"]: w["visible"] for w in app.windows() if w["class"] == "CVideoManagerDlg"}
            self.assertEqual(shown, {1920: True, 3200: True})
            app.do("click", window=MAIN, id=1013)
            app.wait_for(lambda: self.inside(app, "CSearchRecDlg", 1218), what="the page in the main window")
            # The configuration page fills monitor 2 and keeps its own device list there.
            app.do("rclick", window=MAIN, id=1015)
            self.pick_menu_item(app, 1)
            cfg = app.wait_for(lambda: (lambda w: w if w and w["visible"] else None)(
                self.top_level(app, "CCfgManagerDlg")), what="the configuration page on monitor 2")
            time.sleep(0.5)
            cfg = self.top_level(app, "CCfgManagerDlg")
            self.assertEqual((cfg["x"], cfg["y"], cfg["w"], cfg["h"]), (3200, 0, 1024, 768))
            self.assertTrue(self.control(cfg, 1031, "CDeviceListDlg"), "its device list")
            app.do("save", window="CCfgManagerDlg", path=os.path.join(self.pictures, "config-monitor2.png"))
            app.do("rclick", window=MAIN, id=1015)
            self.pick_menu_item(app, 1)
            app.wait_for(lambda: self.top_level(app, "CCfgManagerDlg") is None, what="the configuration page home")
            # Maximise works again.
            app.do("click", window=MAIN, id=MAXIMIZE)
            app.wait_for(lambda: app.window(MAIN)["w"] == 1024, what="the restored window")
            self.exit(app)

    def test_the_tab_bar_at_both_window_sizes(self):
        with self.start() as app:
            self.login(app)
            for size, maximise in (("1920x1080", False), ("1024x768", True)):
                if maximise:
                    app.do("click", window=MAIN, id=MAXIMIZE)
                    app.wait_for(lambda: app.window(MAIN)["w"] == 1024, what="the restored window")
                main = app.window(MAIN)
                H = main["h"]
                bar = next(c for c in main["controls"] if c["class"] == "CPageDlg")
                self.assertEqual((bar["x"], bar["y"], bar["w"], bar["h"]), (0, H * 52 // 768 - 35, 1030, 34))
                tabs = {c["id"]: c for c in main["controls"] if c.get("owner") == "CPageDlg"}
                self.assertEqual((tabs[1012]["x"], tabs[1286]["x"]), (36, 667))
                self.assertEqual([tabs[i]["text"] for i in (1012, 1013, 1014, 1015)],
                                 [string(i) for i in (280, 281, 282, 283)])
                self.assertFalse(tabs[1016]["visible"] or tabs[1017]["visible"])
                app.do("save", window=MAIN, path=os.path.join(self.pictures, f"main-window-{size}.png"))
                app.do("save", window=MAIN, id=1012, path=os.path.join(self.pictures, f"tab-live-{size}.png"))
            self.exit(app)

    def test_record_and_alarm_operator_starts_on_record_search_and_is_refused_elsewhere(self):
        digest = hashlib.md5(b"pw-1").hexdigest().upper()
        with open(self.copy.path("Config", "UserInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<UserInfo>'
                    "<DispInfoSetting><Title>Corvane</Title><ExitConfirm>0</ExitConfirm>"
                    "<MonitorMode>1</MonitorMode></DispInfoSetting>"
                    "<LoginSetting><AutoLogin>0</AutoLogin></LoginSetting><LoginList></LoginList><UserList>"
                    f"<User><UserName>op1</UserName><Password>{digest}</Password><GroupName>night</GroupName>"
                    "<RoleName>ops</RoleName><Desc></Desc></User></UserList>"
                    "<GroupList><Group><GroupName>night</GroupName><RoleName>ops</RoleName><Desc></Desc></Group>"
                    "</GroupList><RoleList>"
                    "<Role><RoleName>ops</RoleName><SurPTZ>0</SurPTZ><Alarm>1</Alarm><Record>1</Record><PTZ>0</PTZ>"
                    "<UserManager>0</UserManager><HighLeve>0</HighLeve><Desc></Desc></Role></RoleList></UserInfo>")
        with self.start() as app:
            self.login(app, "op1", "pw-1")
            app.wait_for(lambda: self.inside(app, "CSearchRecDlg", 1218), what="the record search page first")
            for tab, denial in ((1012, 284), (1015, 287)):
                app.do("click", window=MAIN, id=tab)
                self.assertEqual(self.message(app), string(denial))
                # The page stays.
                self.assertTrue(self.inside(app, "CSearchRecDlg", 1218))
            # The alarm search tab is his.
            app.do("click", window=MAIN, id=1014)
            app.wait_for(lambda: any(c["class"] == "CSearchAlarmDlg" and c["visible"]
                                     for c in app.window(MAIN)["controls"]), what="the alarm search page")
            self.exit(app)

    def test_a_click_in_the_user_list_shows_the_user_on_the_users_page(self):
        with self.start() as app:
            self.login(app)
            app.do("click", window=MAIN, id=1015)
            app.wait_for(lambda: self.control(app.window(MAIN), 1068, "CConfigToolDlg"), what="the configuration page")
            app.do("click", window="CConfigToolDlg", id=1068)
            tree = app.wait_for(lambda: self.control(app.window(MAIN), 1074, "CUserListDlg"), what="the user list")
            rows = tree["items"]
            self.assertTrue(any(r.strip() == "admin" for r in rows), rows)
            roles = self.control(app.window(MAIN), 1075, "CUserListDlg")
            self.assertGreaterEqual(roles["y"], tree["y"] + tree["h"])
            row = next(i for i, r in enumerate(rows) if r.strip() == "admin")
            edit = None
            for height in (20, 18, 22, 24, 16, 26):
                app.do("click", window="CUserListDlg", id=1074, x=60, y=row * height + height // 2)
                edit = self.control(app.window(MAIN), 1083, "CSettingUserInfoDlg")
                if edit and edit["text"] == "admin":
                    break
            self.assertEqual(edit["text"], "admin")
            app.do("save", window="CUserListDlg", path=os.path.join(self.pictures, "user-list.png"))
            self.exit(app)

    def write_admin(self, exit_confirm):
        digest = hashlib.md5(b"admin").hexdigest().upper()
        with open(self.copy.path("Config", "UserInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<UserInfo>'
                    f"<DispInfoSetting><Title>Corvane</Title><ExitConfirm>{exit_confirm}</ExitConfirm>"
                    "</DispInfoSetting><mlog>1</mlog><LoginSetting><AutoLogin>0</AutoLogin></LoginSetting>"
                    f"<LoginList></LoginList><UserList><User><UserName>admin</UserName><Password>{digest}</Password>"
                    "<GroupName>default</GroupName><RoleName>all</RoleName><Desc></Desc></User></UserList>"
                    "<GroupList/><RoleList><Role><RoleName>all</RoleName><SurPTZ>1</SurPTZ><Alarm>1</Alarm>"
                    "<Record>1</Record><PTZ>1</PTZ><UserManager>1</UserManager><HighLeve>1</HighLeve><Desc></Desc>"
                    "</Role></RoleList></UserInfo>")

    def test_close_without_confirmation_ends_in_order(self):
        self.write_admin(0)
        # A pane of a further monitor's grid, saved in an earlier run.
        with open(self.copy.path("Config", "Recover.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<RecoverInfo>'
                    '<DispStatus UserName="admin" DispMode="4" />'
                    '<SurStauts UserName="admin" DevId="IPC-M1" DevName="Yard" WndNo="2" MonitorNum="1" '
                    'DispMode="4" /></RecoverInfo>')
        journal = self.copy.path("journal.txt")
        env = self.screens((1920, 1080))
        env["QELM2_JOURNAL"] = journal
        with self.start(env=env) as app:
            self.login(app)
            self.play_gate(app, "close")
            app.wait_for(lambda: self.copy.pids("Watch"), timeout=40, what="the watchdog")
            started = time.monotonic()
            app.do("click", window=MAIN, id=CLOSE)
            self.assertEqual(app.wait_exit(60), 0, app.output())
            took = time.monotonic() - started
        # Half a second of timer and the close itself; a loaded machine stretches it.
        sys.stderr.write(f"\nclose button to process end: {took:.2f} s\n")
        self.assertEqual(self.copy.pids("Watch"), [], "the watchdog outlived the client")

        lines = self.copy.log_lines()
        expected = ["TerminProcessByName Watch.exe start...",
                    "TerminProcessByName Watch.exe start...",
                    "CIPCClientDlg::OnClose():save the surveillance status",
                    "CIPCClientDlg::OnClose():Release all com control.",
                    "CIPCClientDlg::OnClose(): RTSP pull control stop all.",
                    "CIPCClientDlg::OnClose(): Delete pRtspEvent1 && pRtspEvent2",
                    "CIPCClientDlg::DestroyActiveDlg(): Begin destroy active dialog.",
                    "CIPCClientDlg::DestroyActiveDlg(): End destroy active dialog."]
        pos = 0
        for want in expected:
            while pos < len(lines) and want not in lines[pos]:
                pos += 1
            self.assertLess(pos, len(lines), f"missing or out of order: {want!r}")
            pos += 1

        with open(journal, "rb") as f:
            calls = [l.split(b"\t")[1].decode() for l in f.read().splitlines() if l.startswith(b"call\t")]
        order = ["CAuxPtzCtrl::CloseAll", "StreamPullControl::StopAll", "TS_StopTS"]
        at = [calls.index(c) if c in calls else -1 for c in order]
        self.assertTrue(all(a >= 0 for a in at) and at == sorted(at), list(zip(order, at)))

        with open(self.copy.path("Config", "Recover.xml"), "rb") as f:
            recover = f.read().decode("gb18030", "replace")
        self.assertIn('DevId="IPC100"', recover)
        self.assertIn('DevId="IPC-M1"', recover, "the further monitor's pane was dropped")

    def test_cancelled_confirmation_and_ignored_closes(self):
        with self.start() as app:
            self.login(app)
            self.play_gate(app, "cancel")
            # The window system's close is ignored.
            app.do("wm-close", window=MAIN)
            time.sleep(1)
            self.assertTrue(app.window(MAIN)["visible"])

            def web_box_shown():
                return any(w.get("title") == "Message from webpage" and w["visible"] for w in app.windows())
            app.do("open-window", title="Message from webpage")
            app.wait_for(web_box_shown, what="the web page's box")
            app.do("click", window=MAIN, id=CLOSE)
            verify = app.wait_for(lambda: next((w for w in app.windows()
                                                if w["class"] == LOGIN and w["visible"]), None),
                                  what="the exit confirmation")
            self.assertTrue(verify["visible"])
            self.assertFalse(web_box_shown(), "the web page's box was still open at the confirmation")
            app.do("click", window=LOGIN, id=1001)  # Cancel
            app.wait_for(lambda: not any(w["class"] == LOGIN and w["visible"] for w in app.windows()),
                         what="the confirmation to close")
            self.assertTrue(app.window(MAIN)["visible"])
            self.wait_video(app, "after-cancel")
            self.assertFalse([l for l in self.copy.log_lines() if "Stop record thread." in l])
            self.exit(app)


if __name__ == "__main__":
    unittest.main()

"""End to end: patrol tours in the real program, driven through the automation
endpoint: the settings menu opens the system settings window, its patrol tab
takes a camera of the device simulator into a pane's tour and a decoder's
tour, PatrolInfo.xml holds what was saved, and the tours come back after a
restart. Pictures of both windows at two screen sizes."""
import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import AutomationError, Program  # noqa: E402
from program_copy import ProgramCopy  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")
HERE = os.path.dirname(os.path.abspath(__file__))
MAIN, LOGIN = "CIPCClientDlg", "CLoginDlg"
SETTINGS, PAGE, ADD = "CSysSettingDlg", "CConfigPatrol", "CAddPatrolDlg"
SETTING_BUTTON, SYS_CONFIG = 1254, 32882
TABS, PAGE_TAB, TARGETS, POINTS = 1366, 1351, 1313, 1314
BTN_ADD, BTN_DELETE, BTN_SAVE = 1144, 1145, 1312
TREE, STAY, SLOT1, CANCEL = 1318, 1048, 1049, 1001
ONE, FOUR, NINE, SIXTEEN = 1408, 1415, 1416, 1417
LEAF_CLASSES = {"QPushButton", "QRadioButton", "QLineEdit", "QComboBox", "QLabel", "QListWidget", "CReportCtrl",
                "QTreeWidget", "QTabBar"}
STREAM_BOXES = [1420, 1421, 1422, 1117, 1118, 1119, 1120, 1121, 1122]


def string(sid):
    with open(os.path.join(HERE, "..", "..", "res", "strings_zh.txt"), encoding="utf-8") as f:
        for line in f:
            number, _, text = line.rstrip("\n").partition("\t")
            if number == str(sid):
                return text
    raise KeyError(sid)


def device(kind, name, dev_id, extra=""):
    return (f"<Dev><DevType>{kind}</DevType><Online>1</Online><PtzPort>5000</PtzPort><LoginName>admin</LoginName>"
            "<LoginPsw>123456</LoginPsw><VisitMod>0</VisitMod><CurNVRChannel>0</CurNVRChannel>"
            "<NVRChannels>0</NVRChannels><UseP2P>0</UseP2P><nPltDev>0</nPltDev><OnvifDev>0</OnvifDev>"
            f"<VideoPort>554</VideoPort><DevName>{name}</DevName><DevId>{dev_id}</DevId>"
            f"<GroupName>Default</GroupName><IPAddr>127.0.0.1</IPAddr>{extra}</Dev>")


class PatrolE2E(unittest.TestCase):
    def setUp(self):
        self.copy = ProgramCopy(EXE)
        self.addCleanup(self.copy.cleanup)
        os.makedirs(self.copy.path("Config"))
        devices = device(1, "Gate", "IPC100") + device(2, "WallDec", "DEC1") + device(5, "BigDec", "DEC5")
        with open(self.copy.path("Config", "DevInfo.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="gb2312" ?>\n<DevInfo><DevList>' + devices + "</DevList>"
                    "<GroupList><Group><GroupName>Default</GroupName><nType>1</nType></Group></GroupList>"
                    "</DevInfo>")
        with open(self.copy.path("DeviceSim.xml"), "w") as f:
            f.write('<DeviceSim><Device Address="127.0.0.1" Port="5000" User="admin" Password="123456" '
                    'Type="1"/></DeviceSim>')
        self.pictures = os.environ.get("QELM2_PICTURES") or self.copy.path("pictures")
        os.makedirs(self.pictures, exist_ok=True)

    # --- the program ---------------------------------------------------------------

    def start(self, width=1920, height=1080):
        config = self.copy.path("screens.json")
        with open(config, "w") as f:
            json.dump({"screens": [{"name": "s0", "x": 0, "y": 0, "width": width, "height": height,
                                    "logicalDpi": 96}], "windowFrameMargins": False}, f)
        return Program(self.copy.exe, data_dir=self.copy.dir,
                       env={"QT_QPA_PLATFORM": f"offscreen:configfile={config}"})

    def login(self, app):
        app.wait_for(lambda: (lambda w: w and w["visible"])(app.window(LOGIN)), what="the login window")
        for cid, text in ((1002, "admin"), (1003, "admin")):
            app.do("key", window=LOGIN, id=cid, key="ctrl+a")
            app.do("key", window=LOGIN, id=cid, key="Delete")
            app.do("type", window=LOGIN, id=cid, text=text)
        app.do("click", window=LOGIN, id=1000)
        app.wait_for(lambda: (lambda w: w and w["visible"])(app.window(MAIN)), timeout=30, what="the main window")

    def exit(self, app):
        self.assertEqual(app.close_main("admin", 30), 0, app.output())

    def open_patrol_tab(self, app):
        app.do("click", window=MAIN, id=SETTING_BUTTON)
        items = app.wait_for(lambda: self.try_menu(app), what="the settings menu")
        entry = next(i for i in items if i["id"] == SYS_CONFIG)
        self.assertTrue(entry["enabled"])
        self.assertEqual(entry["text"], string(1050))
        app.menu_choose(SYS_CONFIG)
        app.wait_for(lambda: (lambda w: w and w["visible"])(app.window(SETTINGS)), what="the settings window")
        app.do("select", window=SETTINGS, id=TABS, text=string(1053))
        app.wait_for(lambda: self.control(app, SETTINGS, TARGETS), what="the patrol page")

    @staticmethod
    def try_menu(app):
        try:
            return app.menu()
        except AutomationError:
            return None

    @staticmethod
    def control(app, window, cid):
        w = app.window(window)
        for c in (w or {}).get("controls", []):
            if c["id"] == cid and c["visible"]:
                return c
        return None

    def rows(self, app):
        return self.control(app, SETTINGS, POINTS).get("items", [])

    def message(self, app):
        """The text the main window's message box shows, which is then closed."""
        def shown():
            box = next((w for w in app.windows() if w["class"] == "CResMsgDlg" and w["visible"]), None)
            return box and next((c["text"] for c in box["controls"] if c["id"] == 1284), None)
        text = app.wait_for(shown, what="a message")
        app.do("click", window="CResMsgDlg", id=1000)
        app.wait_for(lambda: not any(w["class"] == "CResMsgDlg" and w["visible"] for w in app.windows()),
                     what="the message to close")
        return text

    def open_add(self, app):
        app.do("click", window=SETTINGS, id=BTN_ADD)
        return app.wait_for(lambda: (lambda w: w if w and w["visible"] else None)(app.window(ADD)),
                            what="the add-patrol dialog")

    def click_device(self, app, name):
        tree = app.wait_for(lambda: (lambda c: c if c and any(r.strip() == name for r in c.get("items", []))
                                     else None)(self.control(app, ADD, TREE)), what=f"{name} in the tree")
        row = next(i for i, r in enumerate(tree["items"]) if r.strip() == name)
        slots_before = [self.control(app, ADD, SLOT1 + k)["text"] for k in range(16)]
        # Rows are 20 pixels high; the frame takes a pixel or two.
        for offset in (10, 12, 8, 14):
            app.do("click", window=ADD, id=TREE, x=60, y=row * 20 + offset)
            try:
                app.wait_for(lambda: [self.control(app, ADD, SLOT1 + k)["text"] for k in range(16)] != slots_before,
                             timeout=3, what="the device in a slot")
                return
            except AutomationError:
                continue
        self.fail(f"{name} did not reach a slot")

    def file(self):
        with open(self.copy.path("Config", "PatrolInfo.xml"), "rb") as f:
            return f.read().decode("gb18030")

    def decode_names(self):
        return re.findall(r"<DecodeName>([^<]*)</DecodeName>", self.file())

    def picture(self, app, window, name):
        path = os.path.join(self.pictures, name)
        app.do("save", window=window, path=path)
        self.assertGreater(os.path.getsize(path), 1000)
        # Every shown control of the template lies inside its window, and
        # none covers another.
        w = app.window(window)
        shown = [c for c in w["controls"] if c["visible"] and c["id"] > 0 and c["class"] in LEAF_CLASSES]
        self.assertGreater(len(shown), 8, name)
        for c in shown:
            self.assertTrue(0 <= c["x"] and c["x"] + c["w"] <= w["w"], (name, c))
            self.assertTrue(0 <= c["y"] and c["y"] + c["h"] <= w["h"], (name, c))
        for i, a in enumerate(shown):
            for b in shown[i + 1:]:
                apart = (a["x"] + a["w"] <= b["x"] or b["x"] + b["w"] <= a["x"]
                         or a["y"] + a["h"] <= b["y"] or b["y"] + b["h"] <= a["y"])
                self.assertTrue(apart, (name, a["id"], b["id"]))

    # --- the test --------------------------------------------------------------------

    def test_tours_are_made_saved_moved_removed_and_come_back(self):
        with self.start() as app:
            self.login(app)
            self.open_patrol_tab(app)
            self.assertIn("<PatrolList>", self.file())  # made from the template at start
            self.picture(app, SETTINGS, "settings-player-1920.png")

            # Pane 3 of the main screen: Gate, ten seconds.
            app.do("select", window=SETTINGS, id=TARGETS, index=2)
            self.open_add(app)
            self.assertEqual(self.control(app, ADD, STAY)["text"], "10")
            self.assertFalse(self.control(app, ADD, ONE)["enabled"])
            self.click_device(app, "Gate")
            self.assertEqual(self.control(app, ADD, SLOT1)["text"], "Gate")
            self.picture(app, ADD, "add-player-1920.png")
            app.do("click", window=ADD, id=BTN_ADD)
            app.wait_for(lambda: len(self.rows(app)) == 1, what="the new row")
            self.assertEqual(self.rows(app), ["Gate\t10"])
            app.do("click", window=ADD, id=CANCEL)
            app.wait_for(lambda: not (app.window(ADD) or {}).get("visible"), what="the dialog to close")
            app.do("click", window=SETTINGS, id=BTN_SAVE)
            self.assertEqual(self.message(app), string(888))
            self.assertEqual(self.decode_names(), ["Player-3"])
            self.assertIn('<DevName1 StreamType="1">Gate</DevName1>', self.file())

            # The decoder of kind 2: four panes on the sub stream.
            app.do("select", window=SETTINGS, id=PAGE_TAB, index=1)
            app.wait_for(lambda: (lambda c: c and c["items"] == ["WallDec", "BigDec"])(
                self.control(app, SETTINGS, TARGETS)), what="the decoders")
            self.assertIsNone(self.control(app, SETTINGS, 1386))  # no screen buttons on this tab
            self.open_add(app)
            self.assertTrue(self.control(app, ADD, FOUR)["checked"])
            self.assertFalse(self.control(app, ADD, NINE)["enabled"])
            for k in range(4):
                box = self.control(app, ADD, STREAM_BOXES[k])
                self.assertEqual((box["current"], box["enabled"]), (1, False))
            self.assertFalse(self.control(app, ADD, SLOT1 + 4)["enabled"])
            self.picture(app, ADD, "add-decoder-1920.png")
            self.click_device(app, "Gate")
            self.click_device(app, "Gate")  # the next slot: a device twice
            app.do("click", window=ADD, id=BTN_ADD)
            self.assertEqual(self.message(app), "Gate" + string(1467))
            self.assertEqual(self.rows(app), [])
            app.do("key", window=ADD, id=SLOT1 + 1, key="ctrl+a")
            app.do("key", window=ADD, id=SLOT1 + 1, key="Delete")
            app.do("click", window=ADD, id=BTN_ADD)
            app.wait_for(lambda: len(self.rows(app)) == 1, what="the decoder row")
            self.assertEqual(self.rows(app)[0].split("\t")[:3], ["1", "10", "Gate:SubStream"])
            app.do("click", window=ADD, id=CANCEL)
            app.wait_for(lambda: not (app.window(ADD) or {}).get("visible"), what="the dialog to close")
            app.do("click", window=SETTINGS, id=BTN_SAVE)
            self.assertEqual(self.message(app), string(888))
            self.assertEqual(self.decode_names(), ["Player-3", "WallDec"])
            self.picture(app, SETTINGS, "settings-decoder-1920.png")

            # The kind-5 decoder with sixteen panes: every pane on the sub stream.
            app.do("select", window=SETTINGS, id=TARGETS, index=1)
            self.open_add(app)
            self.assertTrue(self.control(app, ADD, SIXTEEN)["enabled"])
            app.do("click", window=ADD, id=SIXTEEN)
            self.click_device(app, "Gate")
            app.do("click", window=ADD, id=BTN_ADD)
            app.wait_for(lambda: len(self.rows(app)) == 1, what="the sixteen-pane row")
            self.assertEqual(self.rows(app)[0].split("\t")[:3], ["16", "10", "Gate:SubStream"])
            app.do("click", window=ADD, id=CANCEL)

            # Saving pane 3 again moves it to the end; an empty save removes it.
            app.do("select", window=SETTINGS, id=PAGE_TAB, index=0)
            app.do("select", window=SETTINGS, id=TARGETS, index=2)
            app.wait_for(lambda: self.rows(app) == ["Gate\t10"], what="pane 3's row")
            app.do("click", window=SETTINGS, id=BTN_SAVE)
            self.assertEqual(self.message(app), string(888))
            self.assertEqual(self.decode_names(), ["WallDec", "Player-3"])
            app.do("select", window=SETTINGS, id=POINTS, index=0)
            app.wait_for(lambda: self.control(app, SETTINGS, BTN_DELETE)["enabled"], what="Delete enabled")
            app.do("click", window=SETTINGS, id=BTN_DELETE)
            app.wait_for(lambda: self.rows(app) == [], what="the row to go")
            app.do("click", window=SETTINGS, id=BTN_SAVE)
            self.assertEqual(self.message(app), string(888))
            self.assertEqual(self.decode_names(), ["WallDec"])
            app.do("key", window=SETTINGS, id=POINTS, key="escape")  # the window stays
            self.assertTrue(app.window(SETTINGS)["visible"])
            self.exit(app)

        with self.start() as app:
            self.login(app)
            self.open_patrol_tab(app)
            app.do("select", window=SETTINGS, id=PAGE_TAB, index=1)
            app.wait_for(lambda: len(self.rows(app)) == 1, what="the decoder's row after the restart")
            self.assertEqual(self.rows(app)[0].split("\t")[:3], ["1", "10", "Gate:SubStream"])
            self.exit(app)

    def test_pictures_on_a_small_screen(self):
        with self.start(1024, 768) as app:
            self.login(app)
            self.open_patrol_tab(app)
            w = app.window(SETTINGS)
            self.assertLessEqual((w["w"], w["h"]), (1024, 768))
            self.picture(app, SETTINGS, "settings-player-1024.png")
            self.open_add(app)
            self.picture(app, ADD, "add-player-1024.png")
            app.do("click", window=ADD, id=CANCEL)
            app.do("select", window=SETTINGS, id=PAGE_TAB, index=1)
            app.wait_for(lambda: (lambda c: c and c["items"])(self.control(app, SETTINGS, TARGETS)),
                         what="the decoders")
            self.picture(app, SETTINGS, "settings-decoder-1024.png")
            self.open_add(app)
            self.picture(app, ADD, "add-decoder-1024.png")
            app.do("click", window=ADD, id=CANCEL)
            self.exit(app)


if __name__ == "__main__":
    unittest.main()

"""End to end: the login dialog of the real program, each run in its own copy
of the program folder. Every check message by typed input, the history of a
sixth user, automatic login with a saved entry, a user with only the alarm
right, the cloud login against a fake account service on 127.0.0.1 (success
with two cameras and a recorder; a refusal that leaves the local devices),
and the dialog's picture on 1920x1080 and 1024x768 screens."""
import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "fixtures"))
sys.path.insert(0, os.path.dirname(__file__))
from automation import Program  # noqa: E402
from fake_cloud_server import FakeCloudServer  # noqa: E402
from program_copy import ProgramCopy  # noqa: E402

EXE = os.environ.get("QELM2_EXE", "")
LOGIN = "CLoginDlg"
MAIN = "CIPCClientDlg"
ADMIN_DIGEST = "21232F297A57A5A743894A0E4A801FC3"  # "admin"
PW_DIGEST = "5D41402ABC4B2A76B9719D911017C592"  # "hello"
TEXTS = {
    223: ("Please input user name first then login!", "请先输入用户名再登录！"),
    233: ("Username is too long, it should less than 32 characters, please enter again!",
          "用户名过长，应少于32个字符，请重新输入！"),
    224: ("Please input password first then login!", "请先输入密码再登录！"),
    234: ("Password is too long, it should less than 32 characters, please enter again!",
          "密码过长，应少于32个字符，请重新输入！"),
    227: ("The username not exist!", "用户名不存在！"),
    226: ("Wrong password!", "密码错误！"),
    225: ("Without no permission,the user can't login!", "该用户没有任何权限，无法登录！"),
}


def user_info(users, roles, history=(), auto_login=0):
    """UserInfo.xml: users (name, digest, role), roles (name, alarm-only?),
    history entries (name, last, save, digest)."""
    out = ['<?xml version="1.0" encoding="gb2312" ?>', "<UserInfo>",
           "<DispInfoSetting><Title>Corvane</Title><ExitConfirm>1</ExitConfirm></DispInfoSetting>",
           "<mlog>1</mlog>", f"<LoginSetting><AutoLogin>{auto_login}</AutoLogin></LoginSetting>", "<LoginList>"]
    for name, last, save, digest in history:
        out.append(f"<Login><UserName>{name}</UserName><Password>{digest}</Password><SvrIp></SvrIp>"
                   f"<SvrPort></SvrPort><SavePath></SavePath><SaveFlg>{save}</SaveFlg><LoginSvrFlg>0</LoginSvrFlg>"
                   f"<LastUsingFlg>{last}</LastUsingFlg></Login>")
    out.append("</LoginList><UserList>")
    for name, digest, role in users:
        out.append(f"<User><UserName>{name}</UserName><Password>{digest}</Password><GroupName>default</GroupName>"
                   f"<RoleName>{role}</RoleName><Desc></Desc></User>")
    out.append("</UserList><GroupList/><RoleList>")
    for name, alarm_only in roles:
        rights = (0, 1, 0, 0, 0, 0) if alarm_only else (1, 1, 1, 1, 1, 0)
        tags = ("SurPTZ", "Alarm", "Record", "PTZ", "UserManager", "HighLeve")
        out.append(f"<Role><RoleName>{name}</RoleName>" + "".join(f"<{t}>{v}</{t}>" for t, v in zip(tags, rights)) +
                   "<Desc></Desc></Role>")
    out.append("</RoleList></UserInfo>")
    return "\n".join(out)


LOCAL_DEVICE = ('<?xml version="1.0" encoding="gb2312" ?>\n<DevInfo><DevList><Dev><DevType>1</DevType>'
                "<DevSN>LOCAL1</DevSN><DevId>local-1</DevId><DevName>LocalGate</DevName><GroupName>Default</GroupName>"
                "<IPAddr>127.0.0.9</IPAddr><VisitMod>0</VisitMod><VideoPort>554</VideoPort></Dev></DevList>"
                '<GroupList><Group><GroupName nType="1" >Default</GroupName></Group></GroupList><AlarmAudio/></DevInfo>')


class LoginEndToEnd(unittest.TestCase):
    def setUp(self):
        self.copy = ProgramCopy(EXE)
        self.addCleanup(self.copy.cleanup)
        os.makedirs(self.copy.path("Config"))

    def write(self, name, text):
        with open(self.copy.path("Config", name), "w", encoding="utf-8") as f:
            f.write(text)

    def read(self, name):
        with open(self.copy.path("Config", name), "rb") as f:
            return f.read().decode("gb18030", "replace")

    def start(self, *args, env=None):
        return Program(self.copy.exe, args=args, data_dir=self.copy.dir, env=env)

    def login_window(self, app):
        return app.wait_for(lambda: (lambda w: w if w and w["visible"] else None)(app.window(LOGIN)),
                            what="the login window")

    @staticmethod
    def control(window, cid):
        return next(c for c in window["controls"] if c["id"] == cid and c.get("owner", LOGIN) == LOGIN)

    def fill(self, app, name, password):
        self.password = password  # what the exit confirmation asks for again
        for cid, text in ((1002, name), (1003, password)):
            app.do("key", window=LOGIN, id=cid, key="ctrl+a")
            app.do("key", window=LOGIN, id=cid, key="Delete")
            if text:
                app.do("type", window=LOGIN, id=cid, text=text)
        app.wait_for(lambda: self.control(app.window(LOGIN), 1002)["text"] == name, what="the typed name")

    def message(self, app):
        """The text of the dialog's message box once it shows; closes it."""
        def shown():
            for w in app.windows():
                if w["class"] == "CResMsgDlg" and w["visible"]:
                    return next(c["text"] for c in w["controls"] if c["id"] == 1284)
            return None
        text = app.wait_for(shown, what="the message box")
        app.do("click", window="CResMsgDlg", id=1000)
        app.wait_for(lambda: shown() is None, what="the message box to close")
        return text

    def exit_main(self, app):
        app.wait_for(lambda: app.window(MAIN), what="the main window")
        self.assertEqual(app.close_main(getattr(self, "password", "admin")), 0, app.output())

    def log(self):
        return self.copy.log_lines()

    def history(self):
        text = self.read("UserInfo.xml")
        entries = re.findall(r"<Login>(.*?)</Login>", text, re.S)
        return [(re.search(r"<UserName>(.*?)</UserName>", e).group(1),
                 re.search(r"<Password>(.*?)</Password>", e, re.S),
                 re.search(r"<LastUsingFlg>(\d+)</LastUsingFlg>", e).group(1)) for e in entries]

    def test_each_check_message_by_typed_input(self):
        self.write("UserInfo.xml", user_info([("admin", ADMIN_DIGEST, "all"), ("lost", PW_DIGEST, "missing")],
                                             [("all", False)]))
        cases = [("", "x", 223), ("n" * 33, "x", 233), ("admin", "", 224), ("admin", "p" * 33, 234),
                 ("nobody", "x", 227), ("admin", "wrong", 226), ("lost", "hello", 225)]
        with self.start() as app:
            self.login_window(app)
            for name, password, msg in cases:
                with self.subTest(name=name, password=password):
                    self.fill(app, name, password)
                    app.do("click", window=LOGIN, id=1000)
                    self.assertIn(self.message(app), TEXTS[msg])
                    self.assertTrue(app.window(LOGIN)["visible"])
            # the right password, with Enter in the password field
            self.fill(app, "admin", "admin")
            app.do("key", window=LOGIN, id=1003, key="Return")
            self.exit_main(app)
        self.assertIn("CLoginDlg: user admin logged in, rights 1 1 1 1 1 1 1", self.log())

    def test_sixth_user_drops_the_oldest_history_entry(self):
        users = [(f"u{i}", PW_DIGEST, "all") for i in range(1, 7)]
        history = [(f"u{i}", 1 if i == 5 else 0, 0, "") for i in range(1, 6)]
        self.write("UserInfo.xml", user_info(users, [("all", False)], history))
        with self.start() as app:
            window = self.login_window(app)
            combo = self.control(window, 1002)
            self.assertEqual(combo["items"], ["u1", "u2", "u3", "u4", "u5"])
            self.assertEqual(combo["text"], "u5")
            self.fill(app, "u6", "hello")
            app.do("click", window=LOGIN, id=1000)
            self.exit_main(app)
        self.assertEqual([(n, last) for n, _, last in self.history()],
                         [("u2", "0"), ("u3", "0"), ("u4", "0"), ("u5", "0"), ("u6", "1")])
        # a known user keeps the order and only takes the mark
        with self.start() as app:
            self.login_window(app)
            self.fill(app, "u3", "hello")
            app.do("click", window=LOGIN, id=1000)
            self.exit_main(app)
        # entries before it lose the mark, those after it are left as they were
        self.assertEqual([(n, last) for n, _, last in self.history()],
                         [("u2", "0"), ("u3", "1"), ("u4", "0"), ("u5", "0"), ("u6", "1")])

    def test_autologin_with_a_saved_entry(self):
        self.write("UserInfo.xml", user_info([("admin", ADMIN_DIGEST, "all")], [("all", False)]))
        with self.start() as app:
            window = self.login_window(app)
            self.assertFalse(self.control(window, 1006)["checked"])
            self.fill(app, "admin", "admin")
            app.do("click", window=LOGIN, id=1006)  # save the password
            app.do("click", window=LOGIN, id=1000)
            self.exit_main(app)
        self.assertEqual([(n, p.group(1) if p else "") for n, p, _ in self.history()], [("admin", ADMIN_DIGEST)])
        with self.start("autologin") as app:
            main = app.wait_for(lambda: app.window(MAIN), what="the main window")
            self.assertTrue(main["visible"])
            login = app.window(LOGIN)
            self.assertTrue(login is None or not login["visible"])
            self.exit_main(app)
        # without the saved password "autologin" stops at the empty password
        self.write("UserInfo.xml", user_info([("admin", ADMIN_DIGEST, "all")], [("all", False)],
                                             [("admin", 1, 0, "")]))
        with self.start("autologin") as app:
            self.login_window(app)
            self.assertIn(self.message(app), TEXTS[224])
            app.do("click", window=LOGIN, id=1001)
            self.assertEqual(app.wait_exit(), 0, app.output())

    def test_user_with_only_the_alarm_right(self):
        self.write("UserInfo.xml", user_info([("al", PW_DIGEST, "alarms")], [("alarms", True)]))
        with self.start() as app:
            self.login_window(app)
            self.fill(app, "al", "hello")
            app.do("click", window=LOGIN, id=1000)
            self.exit_main(app)
        self.assertIn("CLoginDlg: user al logged in, rights 0 1 0 0 0 0 0", self.log())

    def cloud_login(self, app, server, password="secret"):
        self.login_window(app)
        app.do("click", window=LOGIN, id=1013)  # sign in to the platform
        app.wait_for(lambda: self.control(app.window(LOGIN), 1014)["enabled"], what="the cloud host field")
        app.do("type", window=LOGIN, id=1014, text=f"127.0.0.1:{server.port}")
        self.fill(app, "acct", password)
        app.do("click", window=LOGIN, id=1000)

    def test_cloud_login_with_two_cameras_and_a_recorder(self):
        self.write("UserInfo.xml", user_info([("admin", ADMIN_DIGEST, "all")], [("all", False)]))
        self.write("DevInfo.xml", LOCAL_DEVICE)
        reply = ("<xml><err>0</err><ip>10.1.1.1</ip><p2pserver>p2p.test</p2pserver>"
                 "<ls><DevID>cam1</DevID><devtype>100</devtype><devip>10.2.2.2</devip></ls>"
                 "<ls><DevID>cam2</DevID><devtype>100</devtype><devip>10.2.2.3</devip></ls>"
                 "<ls><DevID>nvr1</DevID><devtype>200</devtype><devip>10.2.2.4</devip><devisonline>1</devisonline>"
                 "<devchannelcount>4</devchannelcount><devchannelstate>1011</devchannelstate></ls></xml>")
        server = FakeCloudServer(reply)
        self.addCleanup(server.close)
        env = {"QELM2_CLOUD_REPORT": f"127.0.0.1:{server.port}"}
        with self.start(env=env) as app:
            self.cloud_login(app, server)
            self.exit_main(app)
        self.assertIn("CLoginDlg: cloud login of acct, 7 device records", self.log())
        self.assertEqual(server.paths(), ["/comm/getrand.php", "/client/login.php", "/report/postphonepv.php"])
        self.assertIn("<LoginType>1</LoginType>", self.read("UserInfo.xml"))
        self.assertIn("LocalGate", self.read("DevInfo.xml"), "the cloud's devices never go into the device file")
        self.assertEqual([n for n, _, _ in self.history()], ["acct"])

    def test_cloud_refusal_keeps_the_local_devices(self):
        self.write("UserInfo.xml", user_info([("admin", ADMIN_DIGEST, "all")], [("all", False)]))
        self.write("DevInfo.xml", LOCAL_DEVICE)
        server = FakeCloudServer("<xml><err>1</err><ls><DevID>cam1</DevID><devip>10.2.2.2</devip></ls></xml>")
        self.addCleanup(server.close)
        with self.start(env={"QELM2_CLOUD_REPORT": f"127.0.0.1:{server.port}"}) as app:
            self.cloud_login(app, server, "wrong")
            self.assertIn(self.message(app), TEXTS[226])
            app.do("click", window=LOGIN, id=1013)  # back to the local users
            self.fill(app, "admin", "admin")
            app.do("click", window=LOGIN, id=1000)
            self.exit_main(app)
        devices = self.read("DevInfo.xml")
        self.assertIn("LocalGate", devices)
        self.assertNotIn("cam1", devices)

    def test_dialog_centred_on_each_screen_size(self):
        for w, h in ((1920, 1080), (1024, 768)):
            with self.subTest(screen=f"{w}x{h}"):
                config = self.copy.path(f"screens-{w}.json")
                with open(config, "w") as f:
                    json.dump({"screens": [{"name": "s0", "x": 0, "y": 0, "width": w, "height": h,
                                            "logicalDpi": 96}], "windowFrameMargins": False}, f)
                with self.start(env={"QT_QPA_PLATFORM": f"offscreen:configfile={config}"}) as app:
                    window = self.login_window(app)
                    self.assertAlmostEqual(window["x"] + window["w"] / 2, w / 2, delta=1)
                    self.assertAlmostEqual(window["y"] + window["h"] / 2, h / 2, delta=1)
                    picture = os.environ.get("QELM2_PICTURES")
                    if picture:
                        app.do("save", window=LOGIN, path=os.path.join(picture, f"login-{w}x{h}.png"))
                    app.do("click", window=LOGIN, id=1001)
                    self.assertEqual(app.wait_exit(), 0, app.output())


if __name__ == "__main__":
    unittest.main()

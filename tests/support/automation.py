"""Client of the program's automation endpoint (QELM2_AUTOMATION).

Starts the program headless with its own socket, sends one JSON request per
line and reads one JSON answer per line, so end-to-end tests can use the
program as a person would.
"""
import json
import os
import socket
import subprocess
import tempfile
import time


class AutomationError(RuntimeError):
    pass


class Program:
    """The program under test, started with the automation endpoint."""

    def __init__(self, exe, args=(), env=None, data_dir=None, timeout=30.0):
        self.tmp = tempfile.TemporaryDirectory(prefix="qelm2-e2e-")
        self.socket_path = os.path.join(self.tmp.name, "automation.sock")
        full_env = dict(os.environ)
        full_env.setdefault("QT_QPA_PLATFORM", "offscreen")
        full_env["QELM2_LOOPBACK_ONLY"] = "1"
        full_env["QELM2_AUTOMATION"] = self.socket_path
        full_env["QELM2_DATA"] = data_dir or self.tmp.name
        if env:
            full_env.update(env)
        self.log_path = os.path.join(self.tmp.name, "program.log")
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([exe, *args], env=full_env, stdout=self._log, stderr=subprocess.STDOUT)
        self.sock = None
        self._buf = b""
        self._connect(timeout)

    def _connect(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise AutomationError("program ended before listening:\n" + self.output())
            if os.path.exists(self.socket_path):
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                try:
                    s.connect(self.socket_path)
                    s.settimeout(timeout)
                    self.sock = s
                    return
                except OSError:
                    s.close()
            time.sleep(0.05)
        raise AutomationError("the automation endpoint did not appear")

    def output(self):
        if not self._log.closed:
            self._log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def request(self, cmd, **fields):
        fields["cmd"] = cmd
        self.sock.sendall(json.dumps(fields).encode() + b"\n")
        while b"\n" not in self._buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise AutomationError("the program closed the connection:\n" + self.output())
            self._buf += chunk
        line, self._buf = self._buf.split(b"\n", 1)
        return json.loads(line)

    def do(self, cmd, **fields):
        """A request that must succeed; returns its answer."""
        answer = self.request(cmd, **fields)
        if not answer.get("ok"):
            raise AutomationError(f"{cmd} {fields}: {answer.get('error')}")
        return answer

    def tree_item(self, window, id, path, check=None, select=False):
        """Ticks or clears (check) and/or selects the tree item at path (texts from the top)."""
        fields = dict(window=window, id=id, path=list(path), select=select)
        if check is not None:
            fields["check"] = bool(check)
        return self.do("tree-item", **fields)

    def menu(self):
        """The items of the open popup menu: dicts of id, text, checked, enabled."""
        return self.do("menu")["items"]

    def menu_choose(self, item_id):
        """Chooses the item of the open popup menu whose command id is item_id."""
        return self.do("menu-choose", item=int(item_id))

    def windows(self):
        return self.do("windows")["windows"]

    def window(self, cls):
        for w in self.windows():
            if w["class"] == cls:
                return w
        return None

    def wait_for(self, predicate, timeout=10.0, what="condition"):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = predicate()
            if value:
                return value
            time.sleep(0.05)
        raise AutomationError(f"timed out waiting for {what}")

    def close_main(self, password="admin", timeout=30.0):
        """Clicks the main window's close button and, when the exit confirmation
        asks, gives the password; returns the exit code."""
        self.do("click", window="CIPCClientDlg", id=1064)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.proc.poll() is None:
            try:
                verify = next((w for w in self.windows() if w["class"] == "CLoginDlg" and w["visible"]), None)
            except (AutomationError, OSError):
                break  # the program is going
            if verify:
                self.do("type", window="CLoginDlg", id=1003, text=password)
                self.do("click", window="CLoginDlg", id=1000)
                break
            time.sleep(0.1)
        return self.wait_exit(timeout)

    def wait_exit(self, timeout=20.0):
        try:
            return self.proc.wait(timeout)
        finally:
            self.close()

    def close(self):
        if self.sock:
            self.sock.close()
            self.sock = None
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        self._log.close()
        self.tmp.cleanup()

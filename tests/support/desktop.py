"""A real X desktop for end-to-end tests: Xvfb on a free display with the
openbox window manager, real pointer and keys through xdotool, and pictures
of the screen through ffmpeg's x11grab.

What the offscreen platform cannot show shows here: the window manager's
frame and placement, pointer grabs, and what a click of the desktop reaches.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time

TOOLS = ("Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "ffmpeg")


def missing_tools():
    return [t for t in TOOLS if not shutil.which(t)]


class DesktopError(RuntimeError):
    pass


def wait_until(predicate, timeout=20.0, what="condition", step=0.05):
    """Polls predicate until it gives a true value, which it returns."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DesktopError(f"timed out waiting for {what}")
        time.sleep(step)


class Desktop:
    """Xvfb of width x height with openbox; margins (top, bottom, left, right)
    are kept free of windows as a desktop panel would, so the work area is
    smaller than the screen."""

    def __init__(self, width=1920, height=1080, margins=(0, 0, 0, 0), timeout=30.0):
        self.width, self.height = width, height
        self.tmp = tempfile.TemporaryDirectory(prefix="qelm2-desktop-")
        self.xvfb = self.wm = None
        try:
            self._start_x(timeout)
            self._start_wm(margins, timeout)
        except BaseException:
            self.close()
            raise

    # --- the X server and the window manager ---

    def _start_x(self, timeout):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{self.width}x{self.height}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + timeout
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)  # Xvfb writes the number once it accepts connections
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            raise DesktopError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def _start_wm(self, margins, timeout):
        with open("/etc/xdg/openbox/rc.xml", encoding="utf-8") as f:
            rc = f.read()
        top, bottom, left, right = margins
        rc = re.sub(r"<margins>.*?</margins>",
                    f"<margins><top>{top}</top><bottom>{bottom}</bottom><left>{left}</left>"
                    f"<right>{right}</right></margins>", rc, count=1, flags=re.S)
        config = os.path.join(self.tmp.name, "rc.xml")
        with open(config, "w", encoding="utf-8") as f:
            f.write(rc)
        env = self.env()
        env["HOME"] = self.tmp.name  # openbox keeps its session files there
        self.wm = subprocess.Popen(["openbox", "--config-file", config], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: self.wm.poll() is None and "_NET_WORKAREA(CARDINAL)" in self._run(
            ["xprop", "-root", "_NET_WORKAREA"], check=False), timeout, "the window manager")

    def env(self, **extra):
        """The environment of a program on this desktop (Qt on X11)."""
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env["QT_QPA_PLATFORM"] = "xcb"
        env.pop("WAYLAND_DISPLAY", None)
        env.update(extra)
        return env

    def _run(self, args, check=True):
        done = subprocess.run(args, env=self.env(), capture_output=True, text=True, timeout=30)
        if check and done.returncode != 0:
            raise DesktopError(f"{' '.join(args)}: {done.stderr.strip()}")
        return done.stdout

    def close(self):
        for proc in (self.wm, self.xvfb):
            if proc and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        self.tmp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- what is on the screen ---

    def work_area(self):
        """(x, y, w, h) the window manager leaves to windows."""
        out = self._run(["xprop", "-root", "_NET_WORKAREA"])
        x, y, w, h = (int(v) for v in out.split("=", 1)[1].split(",")[:4])
        return x, y, w, h

    def windows(self, pid):
        """Shown top-level windows of a process: X window ids."""
        out = self._run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid)], check=False)
        return [int(v) for v in out.split()]

    def window_named(self, pid, name):
        for wid in self.windows(pid):
            if self._run(["xdotool", "getwindowname", str(wid)], check=False).strip() == name:
                return wid
        return None

    def geometry(self, wid):
        """(x, y, w, h) of a window's own area (no frame), in screen coordinates."""
        out = self._run(["xwininfo", "-id", str(wid)])
        value = {}
        for key, field in (("Absolute upper-left X", "x"), ("Absolute upper-left Y", "y"), ("Width", "w"),
                           ("Height", "h")):
            value[field] = int(re.search(re.escape(key) + r":\s*(-?\d+)", out).group(1))
        return value["x"], value["y"], value["w"], value["h"]

    def frame_extents(self, wid):
        """(left, right, top, bottom) of the frame the window manager drew around it."""
        out = self._run(["xprop", "-id", str(wid), "_NET_FRAME_EXTENTS"], check=False)
        if "=" not in out:
            return 0, 0, 0, 0
        return tuple(int(v) for v in out.split("=", 1)[1].split(","))

    def active_window(self):
        out = self._run(["xdotool", "getactivewindow"], check=False).strip()
        return int(out) if out.isdigit() else None

    def pointer_grabbed(self):
        """True while some client holds the pointer grab: a test grab by
        another client then fails with AlreadyGrabbed."""
        # xdotool has no grab query; a second grab attempt tells.
        probe = ("import ctypes,sys;x=ctypes.CDLL('libX11.so.6');x.XOpenDisplay.restype=ctypes.c_void_p;"
                 "d=x.XOpenDisplay(None);x.XDefaultRootWindow.restype=ctypes.c_ulong;"
                 "x.XDefaultRootWindow.argtypes=[ctypes.c_void_p];r=x.XDefaultRootWindow(d);"
                 "x.XGrabPointer.argtypes=[ctypes.c_void_p,ctypes.c_ulong,ctypes.c_int,ctypes.c_uint,ctypes.c_int,"
                 "ctypes.c_int,ctypes.c_ulong,ctypes.c_ulong,ctypes.c_ulong];"
                 "s=x.XGrabPointer(d,r,0,0,1,1,0,0,0);x.XUngrabPointer.argtypes=[ctypes.c_void_p,ctypes.c_ulong];"
                 "x.XUngrabPointer(d,0);x.XCloseDisplay.argtypes=[ctypes.c_void_p];x.XCloseDisplay(d);"
                 "sys.stdout.write(str(s))")
        out = subprocess.run(["python3", "-c", probe], env=self.env(), capture_output=True, text=True,
                             timeout=30).stdout.strip()
        return out != "0"  # GrabSuccess is 0, AlreadyGrabbed 1

    def grab(self, path):
        """A PNG of the whole screen."""
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "x11grab", "-video_size",
                        f"{self.width}x{self.height}", "-i", self.display + "+0,0", "-frames:v", "1", path],
                       env=self.env(), check=True, capture_output=True, timeout=60)
        return path

    # --- real input ---

    def xdotool(self, *args):
        return self._run(["xdotool", *[str(a) for a in args]])

    def move(self, x, y):
        self.xdotool("mousemove", "--sync", x, y)

    def click(self, x, y, button=1):
        self.move(x, y)
        self.xdotool("click", button)

    def drag(self, start, end, steps=12):
        """Presses at start, moves in steps as a hand would, releases at end."""
        self.move(*start)
        self.xdotool("mousedown", 1)
        (x0, y0), (x1, y1) = start, end
        for i in range(1, steps + 1):
            self.move(x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps)
        self.xdotool("mouseup", 1)

    def key(self, *keys, window=None):
        if window:
            self.xdotool("key", "--window", window, *keys)
        else:
            self.xdotool("key", *keys)

"""A private copy of the built program folder, so each end-to-end run has its
own Config folder, lock and log (the program keeps them beside itself)."""
import glob
import os
import shutil
import signal
import tempfile

LIBRARIES = ["DadAROZar", "ZeraRaroVozero", "AviRecord", "ZizevaVED", "PlayBackCtrl", "StreamPlayer"]


class ProgramCopy:
    def __init__(self, exe):
        src = os.path.dirname(os.path.abspath(exe))
        self.tmp = tempfile.TemporaryDirectory(prefix="qelm2-prog-")
        self.dir = self.tmp.name
        for name in os.listdir(src):
            path = os.path.join(src, name)
            if os.path.isdir(path):
                os.symlink(path, os.path.join(self.dir, name))  # pictures: read only
            elif name == os.path.basename(exe) or name == "Watch" or name.endswith((".so", ".lang")):
                shutil.copy2(path, os.path.join(self.dir, name))
        self.exe = os.path.join(self.dir, os.path.basename(exe))

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def log_lines(self):
        files = glob.glob(self.path("*-Log", "clientlog.txt"))
        if not files:
            return []
        with open(files[0], "rb") as f:
            text = f.read().decode("gb18030", "replace")
        # "[Qelm2]:<19 chars of time>  <message>"
        return [line[29:] if line.startswith("[Qelm2]:") else line for line in text.splitlines()]

    def pids(self, name):
        """Processes running a program of this copy."""
        found = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    if os.readlink(f"/proc/{entry}/exe") == self.path(name):
                        found.append(int(entry))
                except OSError:
                    pass
        return found

    def cleanup(self):
        for name in ("Watch", os.path.basename(self.exe)):  # the watchdog first, or it restarts the client
            for pid in self.pids(name):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
        self.tmp.cleanup()

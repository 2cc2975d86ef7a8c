"""Faults injected at random moments chosen by the seeded generator."""

import collections
import os
import subprocess
import time


class Faults:
    def __init__(self, site, rng, log, pause_local, pause_central, mounts):
        """pause_local / pause_central: threading.Events the load waits on
        (cleared while the soak's own writes to that side would fail).
        mounts: {"central": folder, "app": folder} of the tmpfs mounts, or {}."""
        self.site, self.rng, self.log = site, rng, log
        self.pause_local, self.pause_central = pause_local, pause_central
        self.mounts = mounts
        self.counts = collections.Counter()
        self.kinds = ["kill9", "drop", "central-offline", "local-offline", "stall"]
        if mounts:
            self.kinds += ["central-disk-full", "app-disk-full"]

    def run(self, stop, mean_gap):
        stop.wait(self.rng.uniform(2, mean_gap))
        while not stop.is_set():
            kind = self.rng.choice(self.kinds)
            seconds = self.rng.uniform(2, 6)
            self.log("fault: %s (%.1f s)" % (kind, seconds))
            getattr(self, "f_" + kind.replace("-", "_"))(seconds)
            self.counts[kind] += 1
            self.log("fault over: %s" % kind)
            stop.wait(self.rng.uniform(0.5, 1.5) * mean_gap)

    def f_kill9(self, seconds):
        self.site.kill_remote()
        time.sleep(min(seconds, 2))
        self.site.start_remote()

    def f_drop(self, seconds):
        ok, out = self.site.control("drop")
        if not ok:
            self.log("  drop: %s" % out.strip().splitlines()[-1:])

    def f_stall(self, seconds):
        ok, out = self.site.control("stall", str(max(1, round(seconds))))
        if not ok:
            self.log("  stall: %s" % out.strip().splitlines()[-1:])
        time.sleep(seconds)

    def offline(self, port, pause, seconds):
        marker = os.path.join(self.site.instance_folder(port), "offline")
        pause.clear()
        try:
            with open(marker, "w") as f:
                f.write("soak\n")
            time.sleep(seconds)
        finally:
            if os.path.exists(marker):
                os.remove(marker)
            time.sleep(0.5)
            pause.set()

    def f_central_offline(self, seconds):
        self.offline(1434, self.pause_central, seconds)

    def f_local_offline(self, seconds):
        self.offline(1433, self.pause_local, seconds)

    def fill(self, folder, seconds, pause=None):
        """Fills the tmpfs under `folder` for `seconds`, then frees it."""
        filler = os.path.join(folder, "soak-filler")
        if pause:
            pause.clear()
        try:
            subprocess.run(["dd", "if=/dev/zero", "of=" + filler, "bs=1M"], capture_output=True)
            time.sleep(seconds)
        finally:
            if os.path.exists(filler):
                os.remove(filler)
            time.sleep(0.5)
            if pause:
                pause.set()

    def f_central_disk_full(self, seconds):
        self.fill(self.mounts["central"], seconds, self.pause_central)

    def f_app_disk_full(self, seconds):
        self.fill(self.mounts["app"], seconds)

"""The soak's site: the local database, pvcentral and pvremote under one
PVREMOTE_ROOT, started, watched, killed and started again."""

import os
import signal
import subprocess
import threading
import time

from sql import Server

LOCAL_PW = "soak-local"
CENTRAL_PW = "soak-central"
# Ticks of a debug run, in ms: local database check and link reconnection
# every 2 s, the update queue every 500 ms (defaults 60 s, 60 s and 3 s).
TEST_INTERVALS = ",2000,2000,500"


class Site:
    def __init__(self, root, bins, rng, log):
        self.root = root
        self.bins = bins
        self.rng = rng
        self.log = log
        self.data = os.path.join(root, "var", "lib", "pvremote")
        self.sql_root = os.path.join(self.data, "sql")
        self.app_folder = os.path.join(self.data, "Portavento")
        self.state = os.path.join(root, "central")
        self.pids = os.path.join(root, "pids")
        self.env = dict(os.environ, PVREMOTE_ROOT=root)
        self.local = Server(bins["pvsql"], 1433, LOCAL_PW, self.env)
        self.central = Server(bins["pvsql"], 1434, CENTRAL_PW, self.env)
        self.central_proc = None
        self.remote_proc = None
        self.remote_starts = 0
        self.unexpected_exits = []  # (time, exit status) of pvremote deaths the soak did not cause
        self.lock = threading.Lock()
        self.down = False  # stopped by the soak until start_remote
        self.inst_id = None
        self.inst_db = None
        for d in (self.state, self.pids, os.path.join(root, "out")):
            os.makedirs(d, exist_ok=True)

    def instance_folder(self, port):
        return os.path.join(self.sql_root, "localhost,%d" % port)

    # -- the local site -------------------------------------------------------

    def create_local(self, repo):
        pvsql = self.bins["pvsql"]
        subprocess.run([pvsql, "-S", "localhost,1433", "--create-instance"], env=self.env,
                       check=True, capture_output=True)
        subprocess.run([pvsql, "-S", "localhost,1433", "--set-login", "sa", LOCAL_PW],
                       env=self.env, check=True, capture_output=True)
        self.local.run(None, "Create Database Portavento")
        self.local.script("Portavento", os.path.join(repo, "sql", "local_portavento.sql"))

    # -- programs -------------------------------------------------------------

    def _record_pid(self, name, pid):
        """One file per process started: its pid and program, for the
        cleanup of scripts/soak.sh."""
        with open(os.path.join(self.pids, "%s-%d" % (name, pid)), "w") as f:
            f.write("%d %s\n" % (pid, os.path.realpath(self.bins[name])))

    def start_central(self):
        out = open(os.path.join(self.root, "out", "pvcentral.txt"), "ab")
        self.central_proc = subprocess.Popen(
            [self.bins["pvcentral"], "--port", "0", "--state", self.state, "--central-password",
             CENTRAL_PW, "--no-stdin", "--quiet"],
            env=self.env, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        self._record_pid("pvcentral", self.central_proc.pid)
        port_file = os.path.join(self.state, "pvcentral.port")
        for _ in range(600):
            if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
                return int(open(port_file).read().strip())
            if self.central_proc.poll() is not None:
                break
            time.sleep(0.1)
        raise RuntimeError("pvcentral did not start (see %s/out/pvcentral.txt)" % self.root)

    def write_settings(self, central_port):
        etc = os.path.join(self.root, "etc", "pvremote")
        os.makedirs(etc, exist_ok=True)
        text = ('Windows Registry Editor Version 5.00\r\n\r\n'
                '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]\r\n'
                '"sqlDriver"="embedded"\r\n"sqlUID"="sa"\r\n"sqlPWD"="%s"\r\n"sqlPort"="1433"\r\n'
                '"centralHost"="127.0.0.1"\r\n"centralPort"="%d"\r\n' % (LOCAL_PW, central_port))
        path = os.path.join(etc, "machine.reg")
        with open(path, "w", newline="") as f:
            f.write(text)
        os.chmod(path, 0o600)  # it holds the local password

    def start_remote(self):
        with self.lock:
            self.remote_starts += 1
            out = open(os.path.join(self.root, "out", "pvremote-%d.txt" % self.remote_starts), "wb")
            env = dict(self.env, PVREMOTE_DEBUG="1", INVOCATION_ID="", NOTIFY_SOCKET="",
                       PVREMOTE_TEST_INTERVALS=TEST_INTERVALS)
            self.remote_proc = subprocess.Popen([self.bins["pvremote"]], env=env, stdout=out,
                                                stderr=subprocess.STDOUT, start_new_session=True)
            self._record_pid("pvremote", self.remote_proc.pid)
            self.down = False

    def kill_remote(self):
        """kill -9 of the service; it is started again by the caller."""
        with self.lock:
            self.down = True
            p = self.remote_proc
            if p and p.poll() is None:
                p.send_signal(signal.SIGKILL)
                p.wait()

    def check_remote(self):
        """Notes an exit of pvremote that the soak did not cause, and starts it
        again; returns False when it had exited."""
        with self.lock:
            p = self.remote_proc
            if self.down or p is None or p.poll() is None:
                return True
            self.unexpected_exits.append((time.strftime("%H:%M:%S"), p.returncode,
                                          "out/pvremote-%d.txt" % self.remote_starts))
            self.log("pvremote exited by itself with status %s (out/pvremote-%d.txt); started again"
                     % (p.returncode, self.remote_starts))
        self.start_remote()
        return False

    def stop_all(self):
        for p, sig in ((self.remote_proc, signal.SIGINT), (self.central_proc, signal.SIGTERM)):
            if p and p.poll() is None:
                p.send_signal(sig)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()

    def control(self, *args, timeout=30):
        """One pvcentral console command; (ok, output)."""
        try:
            p = subprocess.run([self.bins["pvcentral"], "--control", self.state, "--timeout",
                                str(timeout)] + list(args), env=self.env, capture_output=True,
                               timeout=timeout + 10)
        except subprocess.TimeoutExpired:
            return False, "control timed out"
        return p.returncode == 0, (p.stdout + p.stderr).decode("utf-8", "replace")

    def central_log(self):
        try:
            with open(os.path.join(self.state, "pvcentral.log"), encoding="utf-8",
                      errors="replace") as f:
                return f.read()
        except OSError:
            return ""

"""The soak's database access: every statement goes through the real pvsql."""

import subprocess
import time

SEP = "\t"


class SqlError(Exception):
    pass


def q(text):
    """A T-SQL N'' literal with its quotes doubled; None gives Null."""
    if text is None:
        return "Null"
    return "N'" + str(text).replace("'", "''") + "'"


def hexlit(data):
    return "Null" if data is None else "0x" + data.hex().upper()


class Server:
    """One embedded instance reached with pvsql (server "localhost,<port>")."""

    def __init__(self, pvsql, port, password, env):
        self.pvsql = pvsql
        self.server = "localhost,%d" % port
        self.password = password
        self.env = env

    def run(self, database, sql, timeout=120):
        """Runs one batch; returns the rows (lists of texts, NULL as None)."""
        cmd = [self.pvsql, "-S", self.server, "-U", "sa", "-P", self.password, "-b",
               "-h", "-1", "-W", "-s", SEP, "-t", "60"]
        if database:
            cmd += ["-d", database]
        # The batch goes in on standard input: a statement with photos is
        # longer than one command-line argument may be.
        try:
            p = subprocess.run(cmd, env=self.env, capture_output=True, timeout=timeout,
                               input=("SET NOCOUNT ON; " + sql + "\n").encode("utf-8"))
        except subprocess.TimeoutExpired as e:
            raise SqlError("pvsql timed out after %d s" % timeout) from e
        out = p.stdout.decode("utf-8", "replace")
        if p.returncode != 0:
            raise SqlError((p.stderr.decode("utf-8", "replace") or out).strip()[:400])
        rows = []
        for line in out.split("\n"):
            if line == "":
                continue
            rows.append([None if v == "NULL" else v for v in line.split(SEP)])
        return rows

    def script(self, database, path):
        """Runs a script file (batches ended by GO lines), stopping at the first failure."""
        p = subprocess.run([self.pvsql, "-S", self.server, "-U", "sa", "-P", self.password, "-b",
                            "-d", database, "-i", path], env=self.env, capture_output=True)
        if p.returncode != 0:
            raise SqlError("%s: %s" % (path, p.stderr.decode("utf-8", "replace").strip()[:400]))

    def value(self, database, sql, timeout=120):
        rows = self.run(database, sql, timeout)
        return rows[0][0] if rows else None

    def read(self, database, sql, tries=10, pause=1.0):
        """A query, asked again after a failure (an instance offline or full
        for a moment)."""
        for i in range(tries):
            try:
                return self.run(database, sql)
            except SqlError:
                if i + 1 == tries:
                    raise
                time.sleep(pause)

    def transaction(self, database, statements, tries=10, pause=1.0):
        """Runs the statements as one transaction, again after a failure
        (the failed attempt was rolled back); returns the rows of the last
        try, or raises the last failure."""
        sql = "Begin Transaction; " + "; ".join(statements) + "; Commit Transaction"
        last = None
        for _ in range(tries):
            try:
                return self.run(database, sql)
            except SqlError as e:
                last = e
                time.sleep(pause)
        raise last

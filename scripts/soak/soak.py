"""The chaos soak's driver; scripts/soak.sh prepares the programs and calls it.

    soak.py --root DIR --bin DIR --repo DIR --minutes N --seed S [--no-mount]
"""

import argparse
import os
import random
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from check import compare, wait_quiet          # noqa: E402
from faults import Faults                      # noqa: E402
from load import (CentralLoad, LocalLoad, Model, access_row, insert_names, md5,  # noqa: E402
                  resident_values)
from programs import Site                      # noqa: E402
from sql import hexlit, q                      # noqa: E402

START = time.monotonic()


def log(text):
    print("[%s %6.1f] %s" % (time.strftime("%H:%M:%S"), time.monotonic() - START, text), flush=True)


def mount_tmpfs(folder, size, root):
    """A tmpfs over `folder`; False when this machine does not allow it."""
    os.makedirs(folder, exist_ok=True)
    p = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s,mode=0700" % size, "tmpfs", folder],
                       capture_output=True)
    if p.returncode != 0:
        return False
    with open(os.path.join(root, "mounts"), "a") as f:
        f.write(folder + "\n")
    return True


def create_site(site, model, repo, residents=24):
    """The demo site's kinds of rows; odd residents belong to the local
    side ("L" suites), even ones to the central side ("C" suites)."""
    site.create_local(repo)
    st = ["Insert Into Settings (name, zip) Values (N'Résidence du Parc', N'H2X 1Y4')"]
    for i in range(1, residents + 1):
        v = resident_values(model, ("L%d" if i % 2 else "C%d") % model.next())
        v["sortfield"] = v["lastName"]
        photo = model.photo() if i % 3 == 0 else None
        v["photo"] = photo
        st.append(insert_names({k: x for k, x in v.items() if k != "photo"}))
        if photo:
            st.append("Update Names Set photo = %s Where id = %d" % (hexlit(photo), i))
        model.names_photo[i] = (md5(photo), "local")
        if i % 2:
            model.local_residents.add(i)
        st.append(access_row(model, i))
        st.append("Insert Into Notification (resId, email) Values (%d, %s)" % (i, q("r%d@example.com" % i)))
        if i % 4 == 1:
            st.append("Insert Into NotificationF (resId, email) Values (%d, %s)" % (i, q("f%d@example.com" % i)))
        # The full upload does not carry the device id: a new row has none.
        st.append("Insert Into Emails (resId, email) Values (%d, %s)" % (i, q("res%d@example.com" % i)))
    st.append("Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values"
              " (1, N'Parcel', N'parcel.png'), (2, N'Letter', N'letter.png')")
    model.package_types.update({1, 2})
    st.append("Insert Into Packages_Settings (id, mailRoomName) Values (1, N'Mail room'), (2, N'Lobby shelf')")
    st.append("Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) Values"
              " (1, N'Front door', N'Welcome', N'Press the button', N'', N'4.2'),"
              " (2, N'Garage', N'Drive slowly', N'', N'', N'4.2')")
    model.entries.update({1, 2})
    for n, r in enumerate((1, 3, 5, 7), start=1):
        st.append("Insert Into Packages (nameId, packageType, packageDate, pickupDate) Values"
                  " (%d, 1, '2026-03-0%dT10:15:00', Null)" % (r, n))
        model.packages[n] = r
    for n in range(1, 7):
        st.append("Insert Into Logs (entryId, residentId, aDateTime, action, data, computerName, photo, photo2)"
                  " Values (1, %d, '2026-04-0%dT08:00:00', N'STR Panel Call', N'Visitor %d', N'PANEL-1', %s, %s)"
                  % (n, n, n, hexlit(model.photo()), hexlit(model.photo() if n % 2 else None)))
    for n, r in enumerate((1, 3, 2, 4), start=1):
        st.append("Insert Into AdditionalPhotos (label, resId, photo) Values (N'Car %d', %d, %s)"
                  % (n, r, hexlit(model.photo())))
        if r % 2:
            model.local_add_photos[n] = r
    path = os.path.join(site.root, "site.sql")
    with open(path, "w", encoding="utf-8") as f:
        f.write("".join(s + "\nGO\n" for s in st))
    site.local.script("Portavento", path)


def wait_for(site, word, seconds):
    ok, out = site.control("wait", word, str(seconds), timeout=seconds + 5)
    return ok


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--bin", required=True)
    ap.add_argument("--repo", required=True)
    ap.add_argument("--minutes", type=float, default=3)
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--no-mount", action="store_true")
    a = ap.parse_args()

    rng = random.Random(a.seed)
    bins = {p: os.path.join(a.bin, sub, p) for p, sub in
            (("pvremote", "service"), ("pvcentral", "tools/pvcentral"), ("pvsql", "tools/pvsql"))}
    site = Site(a.root, bins, rng, log)
    model = Model(a.seed)
    model.journal_path = os.path.join(a.root, "out", "changes.txt")

    mounts = {}
    if not a.no_mount:
        central_folder, app_folder = site.instance_folder(1434), site.app_folder
        if mount_tmpfs(central_folder, "160m", a.root) and mount_tmpfs(app_folder, "24m", a.root):
            mounts = {"central": central_folder, "app": app_folder}
    if not mounts:
        print("soak: mounting is not allowed here: the two disk-full faults (central instance, "
              "application folder) are skipped", flush=True)

    log("creating the site under %s (every change made: out/changes.txt)" % a.root)
    create_site(site, model, a.repo)
    port = site.start_central()
    site.write_settings(port)
    site.start_remote()
    deadline = time.monotonic() + 120
    while "DBCN" not in site.central_log():
        if time.monotonic() > deadline or site.remote_proc.poll() is not None:
            log("the service did not come up; see %s/out" % a.root)
            return 1
        time.sleep(0.2)
    site.control("mark")
    site.control("datr")
    if not wait_for(site, "DASN", 300):
        log("no DASN after DATR")
        return 1
    site.inst_id = site.central.value("PVHome", "Select Max(id) From Installations")
    site.inst_db = "Installation%05d" % int(site.inst_id)
    log("full upload done (installation %s); load and faults for %.1f minutes" % (site.inst_id, a.minutes))

    run_local, run_central = threading.Event(), threading.Event()
    run_local.set()
    run_central.set()
    stop_load, stop_faults = threading.Event(), threading.Event()
    local = LocalLoad(site, model, run_local, period=0.25)
    central = CentralLoad(site, model, run_central, period=0.8)
    def fault_log(text):
        if not text.startswith("fault over"):
            log(text)
        model.journal(text)

    faults = Faults(site, rng, fault_log, run_local, run_central, mounts)
    threads = [threading.Thread(target=local.run, args=(stop_load,), name="local", daemon=True),
               threading.Thread(target=central.run, args=(stop_load,), name="central", daemon=True)]
    fault_thread = threading.Thread(target=faults.run, args=(stop_faults, 6.0), name="faults", daemon=True)
    for t in threads + [fault_thread]:
        t.start()
    end = time.monotonic() + a.minutes * 60
    while time.monotonic() < end:
        site.check_remote()
        central.resend()
        time.sleep(2)
    stop_faults.set()
    fault_thread.join()
    stop_load.set()
    for t in threads:
        t.join()
    site.check_remote()
    log("load stopped; waiting for quiet")
    settled = wait_quiet(site, central, log, limit=100)
    problems, figures, lost = compare(site, model, a.repo)
    if not settled:
        problems.insert(0, "the queues did not become empty and stable within 100 s")

    print()
    print("== soak, seed %d, %.1f minutes" % (a.seed, a.minutes))
    print("local changes:   %d  %s" % (sum(model.local_counts.values()),
                                       " ".join("%s=%d" % kv for kv in sorted(model.local_counts.items()))))
    print("central changes: %d  %s" % (sum(model.central_counts.values()),
                                       " ".join("%s=%d" % kv for kv in sorted(model.central_counts.items()))))
    print("faults:          %d  %s" % (sum(faults.counts.values()),
                                       " ".join("%s=%d" % kv for kv in sorted(faults.counts.items()))))
    print("rows local/central: " + " ".join("%s=%s" % kv for kv in figures.items()))
    if model.soak_errors:
        print("the soak's own writes that failed (%d; not the service's):" % len(model.soak_errors))
        for e in model.soak_errors[:10]:
            print("  " + e)
    if site.unexpected_exits:
        print("pvremote exited by itself %d time(s):" % len(site.unexpected_exits))
        for t, status, out in site.unexpected_exits:
            print("  %s status %s, output in %s/%s" % (t, status, a.root, out))
        lost += len(site.unexpected_exits)
    print("lost %d" % lost)
    for p in problems:
        print("  " + p)
    return 1 if (lost or problems) else 0


if __name__ == "__main__":
    sys.exit(main())

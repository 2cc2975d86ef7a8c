"""After the load: wait for quiet, then compare both sides."""

import collections
import hashlib
import os
import re
import time

from sql import SqlError


def transient_numbers(repo):
    """The numbers db::IsTransient lists, read from db/error.h."""
    text = open(os.path.join(repo, "db", "error.h")).read()
    body = text[text.index("bool IsTransient"):]
    body = body[:body.index("default:")]
    consts = dict(re.findall(r"constexpr long (\w+) = (-?\d+);", text))
    out = set()
    for c in re.findall(r"case ([-\w]+):", body):
        out.add(int(consts.get(c, c)))
    return out


def counts_of_queues(site):
    local = int(site.local.value("Portavento", "Select Count(*) From UpdateQueue"))
    central = int(site.central.value("PVHome", "Select Count(*) From UpdateQueue Where instId = %s"
                                     % site.inst_id))
    return local, central


def wait_quiet(site, central_load, log, limit):
    """Until both queues are empty and stay so for 5 s (orders still queued
    centrally are sent again meanwhile); True when quiet was reached."""
    deadline = time.monotonic() + limit
    quiet_since = None
    last = None
    while time.monotonic() < deadline:
        site.check_remote()
        try:
            q = counts_of_queues(site)
        except SqlError as e:
            log("settle: %s" % e)
            time.sleep(1)
            continue
        if q != last:
            log("settle: local queue %d, central queue %d" % q)
            last = q
        if q == (0, 0):
            quiet_since = quiet_since or time.monotonic()
            if time.monotonic() - quiet_since >= 5:
                return True
        else:
            quiet_since = None
            central_load.resend()
        time.sleep(1)
    return False


def md5hex(text):
    if text is None:
        return None
    return hashlib.md5(bytes.fromhex(text[2:])).hexdigest()


# Table, local columns, central columns (same order), local filter. Rows are
# compared as multisets of these values; photos are compared separately.
NAME_COLS = ("id, resType, lastName, firstName, suite, company, button1Type, button2Type, button3Type, "
             "phone1, phone2, phone3, button1Loc, button2Loc, button3Loc, button1Comm, button2Comm, "
             "button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, dmCode, mailRoomID")
ACCESS_COLS = ("resId, code, descr, codeDates, codeDays, codeTimes, codeStartDate, codeEndDate, "
               "codeStartTime, codeEndTime, codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
               "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, accessType5")
TABLES = [
    ("Names", NAME_COLS, NAME_COLS, "Where resType = 'R' Or resType = 'S'"),
    ("TenantAccess", ACCESS_COLS, ACCESS_COLS, ""),
    ("Notification", "resId, email", "resId, email", ""),
    ("NotificationF", "resId, email", "resId, email", ""),
    ("Packages", "id, nameId, packageType, packageDate, pickupDate", "id, NameID, PackageType, PackageDate, PickupDate", ""),
    ("Packages_Types", "id, packageTypeLongName, packageTypeImage", "ID, PackageTypeLongName, PackageTypeImage", ""),
    ("Packages_Settings", "id, mailRoomName", "ID, MailRoomName", ""),
    ("Entries", "entryId, entryName, mesLine1, mesLine2, mesLine3, version",
     "entryId, entryName, mesLine1, mesLine2, mesLine3, version", ""),
    ("Logs", "id, entryId, residentId, aDateTime, action, data, computerName",
     "id, entryId, residentId, aDateTime, action, data, computerName", ""),
    ("AdditionalPhotos", "id, label, resId", "id, label, resId", ""),
]


def diff_rows(name, local_rows, central_rows, problems, limit=8):
    lc = collections.Counter(tuple(r) for r in local_rows)
    cc = collections.Counter(tuple(r) for r in central_rows)
    only_l = list((lc - cc).elements())
    only_c = list((cc - lc).elements())
    for r in only_l[:limit]:
        problems.append("%s: only local:   %s" % (name, "|".join("NULL" if v is None else v for v in r)))
    for r in only_c[:limit]:
        problems.append("%s: only central: %s" % (name, "|".join("NULL" if v is None else v for v in r)))
    if len(only_l) > limit or len(only_c) > limit:
        problems.append("%s: ... %d local and %d central rows differ in all" % (name, len(only_l), len(only_c)))
    return len(only_l) + len(only_c)


def compare(site, model, repo):
    """Returns (problems, figures); problems are lines saying what differs."""
    problems = []
    figures = collections.OrderedDict()
    L, C, db = site.local, site.central, site.inst_db

    lq, cq = counts_of_queues(site)
    if lq:
        problems.append("local UpdateQueue still holds %d rows: %s" % (lq, L.run(
            "Portavento", "Select Top 5 id, tableName, resId, recordId From UpdateQueue Order By id")))
    if cq:
        problems.append("central UpdateQueue still holds %d rows: %s" % (cq, C.run(
            "PVHome", "Select Top 5 id, recordId, tableName, itemId From UpdateQueue Where instId = %s"
            " Order By id" % site.inst_id)))

    differing = 0
    for table, lcols, ccols, where in TABLES:
        lrows = L.run("Portavento", "Select %s From %s %s" % (lcols, table, where))
        crows = C.run(db, "Select %s From %s" % (ccols, table))
        figures[table] = "%d/%d" % (len(lrows), len(crows))
        differing += diff_rows(table, lrows, crows, problems)
    lrows = L.run("Portavento", "Select id, resId, email, iPhoneDeviceId From Emails")
    crows = C.run("PVHome", "Select emailId, resId, email, iPhoneDeviceId From Emails Where instId = %s" % site.inst_id)
    figures["Emails"] = "%d/%d" % (len(lrows), len(crows))
    differing += diff_rows("Emails", lrows, crows, problems)
    lrows = L.run("Portavento", "Select name, zip From Settings")
    crows = C.run("PVHome", "Select locName, zip From Installations Where id = %s" % site.inst_id)
    differing += diff_rows("Settings", lrows, crows, problems)

    # Duplicates the keys would not catch: a resident or an additional photo
    # made twice (suites and photos are unique by construction).
    for what, sql in (("resident suite", "Select suite From Names"),
                      ("local additional photo", "Select photo From AdditionalPhotos Where photo Is Not Null")):
        seen = collections.Counter(r[0] for r in L.run("Portavento", sql))
        for v, n in seen.items():
            if n > 1:
                problems.append("duplicate %s (%d times): %s" % (what, n, v if len(v) < 40 else md5hex(v)))
                differing += n - 1

    # Photos, byte for byte (as md5 of the bytes).
    photos = same = 0
    for table, cols, where in (("Logs", ("photo", "photo2"), ""), ("Names", ("photo",), " Where resType = 'R'"),
                               ("AdditionalPhotos", ("photo",), "")):
        for col in cols:
            lp = {r[0]: md5hex(r[1]) for r in L.run("Portavento", "Select id, %s From %s%s" % (col, table, where))}
            cp = {r[0]: md5hex(r[1]) for r in C.run(db, "Select id, %s From %s" % (col, table))}
            for rid in sorted(set(lp) & set(cp), key=int):
                lv, cv = lp[rid], cp[rid]
                ok = lv == cv
                if table == "Names" and int(rid) in model.names_photo:
                    want, side = model.names_photo[int(rid)]
                    # A photo the central side sent is cleared there once it is stored locally.
                    ok = lv == want and (cv == lv or (side == "central" and cv is None))
                elif table == "AdditionalPhotos" and cv is None and lv in model.central_photos:
                    ok = True
                if lv is not None or cv is not None:
                    photos += 1
                    same += ok
                if not ok:
                    problems.append("%s.%s of %s: local %s, central %s" % (table, col, rid, lv, cv))
                    differing += 1
    figures["photos identical"] = "%d/%d" % (same, photos)

    # "Welcome" and "WelcomeC" leave no row: each must have sent its notice
    # (a change delivered again may send it twice; the central side's
    # "NamesA" and "NamesU" send some more).
    log = site.central_log()
    for kind, word in (("Welcome", "SDWE"), ("WelcomeC", "SDWC")):
        got = len(re.findall(r"\] <- %s " % word, log))
        figures[word + " received"] = got
        if got < model.local_counts[kind]:
            problems.append("%d %s changes but only %d %s notices received" % (
                model.local_counts[kind], kind, got, word))
            differing += model.local_counts[kind] - got

    failed = os.path.join(site.app_folder, "FailedChanges.txt")
    transient = transient_numbers(repo)
    entries = 0
    if os.path.exists(failed):
        for line in open(failed, encoding="utf-8", errors="replace"):
            f = line.rstrip("\n").split("\t")
            entries += 1
            if len(f) < 7 or not f[5].lstrip("-").isdigit() or int(f[5]) in transient or not f[6].strip():
                problems.append("FailedChanges.txt entry is not a permanent failure with its reason: %s"
                                % line.strip())
                differing += 1
    figures["FailedChanges.txt entries"] = entries
    return problems, figures, differing + (lq > 0) + (cq > 0)

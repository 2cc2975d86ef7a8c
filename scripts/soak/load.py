"""The soak's steady stream of changes.

Local changes are what the entry-control system does: change the local rows
and add the UpdateQueue row, in one transaction. Central changes are what the
central server does: change the installation or home database, add a row to
the home UpdateQueue and send "UPDA" for it.

Residents belong to one side: suites "L..." are changed only locally, suites
"C..." only centrally, so that every final value has one writer and the check
can demand equality instead of guessing who won a race. A resident gets no new
central change while an earlier one for it is still queued (the central side
would otherwise change a row under an order that is being applied).
"""

import collections
import hashlib
import random
import threading
import time

from sql import q, hexlit, SqlError

NAMES = ["O'Hara", "Müller", "王", "Dupont", "Smith", "Nuñez", "D'Arcy", "Łukasz", "Kowalski"]
FIRST = ["Seán", "Anna", "Jürgen", "小明", "Zoë", "Ann-Marie", "Luc"]


def md5(data):
    return None if data is None else hashlib.md5(data).hexdigest()


class Model:
    """What the soak knows of the site, shared by its threads."""

    def __init__(self, seed):
        self.seed = seed
        self.per_thread = threading.local()
        self.lock = threading.Lock()
        self.local_residents = set()     # suites "L..."
        self.packages = {}               # local package id -> resident
        self.local_add_photos = {}       # local additional photo id -> resident
        self.entries = set()
        self.package_types = set()
        self.names_photo = {}            # resident -> (md5 expected locally or None, side that set it)
        self.central_photos = set()      # md5s of additional photos made centrally
        self.counter = 0
        self.negative = 0
        self.local_counts = collections.Counter()
        self.central_counts = collections.Counter()
        self.soak_errors = []            # the soak's own writes that failed
        self.journal_path = None         # every change made, with its time, for tracing a loss

    def journal(self, text):
        if self.journal_path:
            with self.lock, open(self.journal_path, "a", encoding="utf-8") as f:
                f.write("%s.%03d %s\n" % (time.strftime("%H:%M:%S"), int(time.time() * 1000) % 1000, text))

    @property
    def rng(self):
        """A generator of the calling thread's own, seeded by the seed and the
        thread's name, so that each stream of changes repeats with the seed
        whatever the other threads draw."""
        if not hasattr(self.per_thread, "rng"):
            self.per_thread.rng = random.Random("%d-%s" % (self.seed, threading.current_thread().name))
        return self.per_thread.rng

    def next(self):
        with self.lock:
            self.counter += 1
            return self.counter

    def next_negative(self):
        with self.lock:
            self.negative -= 1
            return self.negative

    def photo(self, small=2000, large=60000):
        """Random bytes, so that only a byte-for-byte copy compares equal;
        one in twenty is a large photo of 200-600 KB."""
        if self.rng.random() < 0.05:
            small, large = 200000, 600000
        return self.rng.randbytes(self.rng.randint(small, large))

    def text(self, choices):
        return "%s %d" % (self.rng.choice(choices), self.next())


def resident_values(m, suite):
    r = m.rng
    return {
        "resType": "R", "lastName": m.text(NAMES), "firstName": m.text(FIRST), "suite": suite,
        "company": r.choice(["", "Dupont & Fils", "Café 'Bleu'"]),
        "button1Type": r.choice("PEN"), "button2Type": r.choice("PEN"),
        "button3Type": r.choice("PEN"),
        "phone1": "555%04d" % r.randint(0, 9999), "phone2": "", "phone3": "556%04d" % r.randint(0, 9999),
        "button1Loc": "A%d" % r.randint(1, 9), "button2Loc": "", "button3Loc": "B",
        "button1Comm": "Main door", "button2Comm": "", "button3Comm": "Side",
        "hide": r.randint(0, 1), "hideBut1": r.randint(0, 1), "hideBut2": 0, "hideBut3": 0,
        "notes1": m.text(["Since 2020", "Dog 'Rex'", "Night shift"]), "notes2": "",
        "photoDescr": "Portrait", "dmCode": "D%d" % r.randint(0, 999),
        "mailRoomID": r.choice([None, r.randint(1, 5)]),
    }


def lit(v):
    if v is None:
        return "Null"
    if isinstance(v, int):
        return str(v)
    return q(v)


def insert_names(values, with_id=None):
    cols = list(values)
    vals = [lit(values[c]) for c in cols]
    if with_id is not None:
        cols = ["ID"] + cols
        vals = [str(with_id)] + vals
    return "Insert Into Names (%s) Values (%s)" % (", ".join(cols), ", ".join(vals))


def access_row(m, r):
    return ("Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, codeStartDate,"
            " codeEndDate, codeStartTime, codeEndTime, codeMon, codeTue, codeWed, codeThr, codeFri,"
            " codeSat, codeSun, numericalCode, accessType0, accessType1, accessType2, accessType3,"
            " accessType4, accessType5) Values (%d, N'%d', %s, %d, 0, 0, '2026-01-01T00:00:00',"
            " '2026-12-31T00:00:00', '1900-01-01T06:00:00', '1900-01-01T23:00:00', 1, 1, 1, 1, 1, %d,"
            " %d, N'%d', 1, %d, 0, 0, 0, 0)"
            % (r, m.rng.randint(1000, 99999), q(m.text(["Fob", "Car 'B'", "Clé"])), m.rng.randint(0, 1),
               m.rng.randint(0, 1), m.rng.randint(0, 1), m.rng.randint(1000, 9999), m.rng.randint(0, 1)))


def queue(kind, res=0, rec=0):
    return "Insert Into UpdateQueue (tableName, resId, recordId) Values (N'%s', %s, %s)" % (kind, res, rec)


def drive(load, stop, side, counts):
    """Makes changes of random kinds at about `load.period` apart until `stop`,
    pausing while `load.running` is clear; counts what was made per kind."""
    m = load.m
    while not stop.is_set():
        load.running.wait()
        kind, make = m.rng.choice(load.kinds)
        try:
            done = make()
        except Exception as e:  # noqa: BLE001 - the soak's own failure, reported at the end
            m.soak_errors.append("%s %s: %s" % (side, kind, e))
            done = False
        if done:
            counts[kind] += 1
        stop.wait(m.rng.uniform(0.5, 1.5) * load.period)


class LocalLoad:
    """The entry-control system's changes, one every `period` seconds."""

    def __init__(self, site, model, running, period):
        self.site, self.m, self.running, self.period = site, model, running, period
        self.kinds = [(k, getattr(self, "k_" + k)) for k in (
            "NamesU", "NamesU", "NamesA", "NamesR", "Notification", "NotificationF", "TenantAccess",
            "PhotoA", "PhotoA", "PhotoR", "Settings", "Entries", "Packages_Settings",
            "Packages_Types", "Emails", "PackagesA", "PackagesA", "PackagesU", "PackagesR", "Logs",
            "Logs", "AdditionalPhotos", "AdditionalPhotosR", "AdditionalPhotosL", "Welcome",
            "WelcomeC")]

    def resident(self):
        with self.m.lock:
            return self.m.rng.choice(sorted(self.m.local_residents)) if self.m.local_residents else None

    def run(self, stop):
        drive(self, stop, "local", self.m.local_counts)

    def tx(self, statements):
        rows = self.site.local.transaction("Portavento", statements)
        for st in statements:
            if st.startswith("Insert Into UpdateQueue"):
                self.m.journal("local " + st[st.index("Values") + 7:])
        return rows

    def new_id(self, statements):
        rows = self.tx(statements + ["Select SCOPE_IDENTITY()"])
        return int(float(rows[-1][0]))

    def k_NamesU(self):
        r = self.resident()
        if r is None:
            return False
        v = resident_values(self.m, None)
        del v["suite"], v["resType"]
        sets = ", ".join("%s = %s" % (c, lit(x)) for c, x in v.items())
        self.tx(["Update Names Set %s Where id = %d" % (sets, r), queue("NamesU", r)])
        return True

    def k_NamesA(self):
        v = resident_values(self.m, "L%d" % self.m.next())
        v["sortfield"] = v["lastName"]
        r = self.new_id([insert_names(v)])
        self.tx([queue("NamesA", r)])
        with self.m.lock:
            self.m.local_residents.add(r)
            self.m.names_photo[r] = (None, "local")
        return True

    def k_NamesR(self):
        with self.m.lock:
            if len(self.m.local_residents) < 8:
                return False
        r = self.resident()
        with self.m.lock:
            self.m.local_residents.discard(r)
        self.tx(["Delete From %s Where %s = %d" % (t, c, r) for t, c in (
            ("Names", "id"), ("Emails", "resId"), ("TenantAccess", "resId"), ("Packages", "nameId"),
            ("Notification", "resId"), ("NotificationF", "resId"), ("AdditionalPhotos", "resId"))]
                + [queue("NamesR", r)])
        with self.m.lock:
            for d in (self.m.packages, self.m.local_add_photos):
                for k in [k for k, v in d.items() if v == r]:
                    del d[k]
        return True

    def notification(self, table):
        r = self.resident()
        if r is None:
            return False
        rows = ["Insert Into %s (resId, email) Values (%d, %s)" % (table, r, q("n%d@example.org" % self.m.next()))
                for _ in range(self.m.rng.randint(0, 2))]
        self.tx(["Delete From %s Where resId = %d" % (table, r)] + rows + [queue(table, r)])
        return True

    def k_Notification(self):
        return self.notification("Notification")

    def k_NotificationF(self):
        return self.notification("NotificationF")

    def k_TenantAccess(self):
        r = self.resident()
        if r is None:
            return False
        rows = [access_row(self.m, r) for _ in range(self.m.rng.randint(0, 2))]
        self.tx(["Delete From TenantAccess Where resId = %d" % r] + rows + [queue("TenantAccess", r)])
        return True

    def k_PhotoA(self):
        r = self.resident()
        if r is None:
            return False
        data = self.m.photo()
        self.tx(["Update Names Set photo = %s, photoDescr = %s Where id = %d"
                 % (hexlit(data), q(self.m.text(["Portrait", "Badge 'new'"])), r), queue("PhotoA", r)])
        with self.m.lock:
            self.m.names_photo[r] = (md5(data), "local")
        return True

    def k_PhotoR(self):
        r = self.resident()
        if r is None:
            return False
        self.tx(["Update Names Set photo = Null, photoDescr = N'' Where id = %d" % r, queue("PhotoR", r)])
        with self.m.lock:
            self.m.names_photo[r] = (None, "local")
        return True

    def k_Settings(self):
        self.tx(["Update Settings Set name = %s, zip = %s" % (q(self.m.text(["Résidence 'Parc'", "Tower"])),
                                                              q("H%dX" % self.m.rng.randint(0, 99))),
                 queue("Settings")])
        return True

    def k_Entries(self):
        with self.m.lock:
            ids = sorted(self.m.entries)
        r = self.m.rng.random()
        if r < 0.3 or not ids:
            e = max(ids + [0]) + 1
            st = ("Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) Values"
                  " (%d, %s, N'Welcome', N'', N'', N'4.2')" % (e, q(self.m.text(["Door", "Gate 'B'"]))))
            self.m.entries.add(e)
        elif r < 0.4 and len(ids) > 2:
            e = self.m.rng.choice(ids)
            st = "Delete From Entries Where entryId = %d" % e
            self.m.entries.discard(e)
        else:
            st = "Update Entries Set mesLine1 = %s Where entryId = %d" % (
                q(self.m.text(["Press 'Call'", "Bienvenue"])), self.m.rng.choice(ids))
        self.tx([st, queue("Entries")])
        return True

    def k_Packages_Settings(self):
        self.tx(["Update Packages_Settings Set mailRoomName = %s Where id = %d"
                 % (q(self.m.text(["Mail room", "Shelf 'A'"])), self.m.rng.randint(1, 2)),
                 queue("Packages_Settings")])
        return True

    def k_Packages_Types(self):
        with self.m.lock:
            ids = sorted(self.m.package_types)
        if self.m.rng.random() < 0.2:
            t = max(ids) + 1
            st = ("Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (%d, %s, N'box.png')"
                  % (t, q(self.m.text(["Box", "Crate"]))))
            with self.m.lock:
                self.m.package_types.add(t)
        else:
            st = "Update Packages_Types Set packageTypeLongName = %s Where id = %d" % (
                q(self.m.text(["Parcel", "Letter 'XL'"])), self.m.rng.choice(ids))
        self.tx([st, queue("Packages_Types")])
        return True

    def k_Emails(self):
        r = self.resident()
        if r is None:
            return False
        has = self.site.local.read("Portavento", "Select Count(*) From Emails Where resId = %d" % r)[0][0]
        mail, dev = q("e%d@example.com" % self.m.next()), q("device-%d" % self.m.next())
        if self.m.rng.random() < 0.1:
            st = ["Delete From Emails Where resId = %d" % r]
        elif has != "0":
            st = ["Update Emails Set email = %s, iPhoneDeviceId = %s Where resId = %d" % (mail, dev, r)]
        else:
            st = ["Insert Into Emails (resId, email, iPhoneDeviceId) Values (%d, %s, %s)" % (r, mail, dev)]
        self.tx(st + [queue("Emails", r)])
        return True

    def k_PackagesA(self):
        r = self.resident()
        if r is None:
            return False
        with self.m.lock:
            t = self.m.rng.choice(sorted(self.m.package_types))
        pickup = self.m.rng.choice(["Null", "'2026-05-02T18:00:00'"])
        p = self.new_id(["Insert Into Packages (nameId, packageType, packageDate, pickupDate) Values"
                         " (%d, %d, '2026-05-0%dT10:15:00', %s)" % (r, t, self.m.rng.randint(1, 9), pickup)])
        self.tx([queue("PackagesA", 0, p)])
        with self.m.lock:
            self.m.packages[p] = r
        return True

    def k_PackagesU(self):
        with self.m.lock:
            if not self.m.packages:
                return False
            p = self.m.rng.choice(sorted(self.m.packages))
        self.tx(["Update Packages Set pickupDate = '2026-06-%02dT12:00:00' Where id = %d"
                 % (self.m.rng.randint(1, 28), p), queue("PackagesU", 0, p)])
        return True

    def k_PackagesR(self):
        with self.m.lock:
            if not self.m.packages:
                return False
            p = self.m.rng.choice(sorted(self.m.packages))
            del self.m.packages[p]
        self.tx(["Delete From Packages Where id = %d" % p, queue("PackagesR", 0, p)])
        return True

    def k_Logs(self):
        m = self.m
        photo = m.photo() if m.rng.random() < 0.7 else None
        photo2 = m.photo() if m.rng.random() < 0.4 else None
        with m.lock:
            entry = m.rng.choice(sorted(m.entries)) if m.entries else 1
        k = self.new_id(["Insert Into Logs (entryId, residentId, aDateTime, action, data, computerName,"
                         " photo, photo2) Values (%d, %d, '2026-04-%02dT08:%02d:00', N'STR Panel Call', %s,"
                         " N'PANEL-1', %s, %s)" % (entry, m.rng.randint(0, 30), m.rng.randint(1, 28),
                                                   m.rng.randint(0, 59), q(m.text(["Visitor", "Courier 'X'"])),
                                                   hexlit(photo), hexlit(photo2))])
        self.tx([queue("Logs", 0, k)])
        return True

    def k_AdditionalPhotos(self):
        r = self.resident()
        if r is None:
            return False
        k = self.new_id(["Insert Into AdditionalPhotos (label, resId, photo) Values (%s, %d, %s)"
                         % (q(self.m.text(["Car", "Dog 'Rex'"])), r, hexlit(self.m.photo()))])
        self.tx([queue("AdditionalPhotos", r, k)])
        with self.m.lock:
            self.m.local_add_photos[k] = r
        return True

    def k_AdditionalPhotosR(self):
        with self.m.lock:
            if not self.m.local_add_photos:
                return False
            k = self.m.rng.choice(sorted(self.m.local_add_photos))
            r = self.m.local_add_photos.pop(k)
        self.tx(["Delete From AdditionalPhotos Where id = %d" % k, queue("AdditionalPhotosR", r, k)])
        return True

    def k_AdditionalPhotosL(self):
        with self.m.lock:
            if not self.m.local_add_photos:
                return False
            k = self.m.rng.choice(sorted(self.m.local_add_photos))
            r = self.m.local_add_photos[k]
        self.tx(["Update AdditionalPhotos Set label = %s Where id = %d" % (q(self.m.text(["Bike", "Cat 'Tom'"])), k),
                 queue("AdditionalPhotosL", r, k)])
        return True

    def k_Welcome(self):
        r = self.resident()
        if r is None:
            return False
        self.tx([queue("Welcome", r)])
        return True

    def k_WelcomeC(self):
        r = self.resident()
        if r is None:
            return False
        self.tx([queue("WelcomeC", r)])
        return True


class CentralLoad:
    """The central server's changes to residents "C...", announced with UPDA."""

    RESEND_AFTER = 10.0  # seconds before an order whose queue row is still there is sent again

    def __init__(self, site, model, running, period):
        self.site, self.m, self.running, self.period = site, model, running, period
        self.sent = {}  # central queue id -> (time last sent, order fields)
        self.sent_lock = threading.Lock()
        self.kinds = [(k, getattr(self, "k_" + k)) for k in (
            "TenantAccess", "Notification", "NotificationF", "Names", "PhotoR", "PhotoU", "PhotoU",
            "Emails", "NamesA", "NamesR", "NamesU", "NamesU", "AdditionalPhotos", "AdditionalPhotos",
            "AdditionalPhotosR", "AdditionalPhotosL")]

    @property
    def db(self):
        return self.site.inst_db

    def run(self, stop):
        drive(self, stop, "central", self.m.central_counts)

    def pending(self):
        rows = self.site.central.read("PVHome", "Select id, recordId, tableName, itemId From UpdateQueue"
                                     " Where instId = %s Order By id" % self.site.inst_id)
        return rows

    def resident(self):
        busy = {r[1] for r in self.pending() if r[1] not in (None, "0")}
        ids = [int(r[0]) for r in self.site.central.read(
            self.db, "Select ID From Names Where ID > 0 And suite Like N'C%' Order By ID") if r[0] not in busy]
        return self.m.rng.choice(ids) if ids else None

    def announce(self, kind, r, item=None):
        """Queues the change in the home database and sends its UPDA."""
        rows = self.site.central.transaction("PVHome", [
            "Insert Into UpdateQueue (instId, recordId, tableName, itemId) Values (%s, %d, N'%s', %s)"
            % (self.site.inst_id, r, kind, "Null" if item is None else item), "Select SCOPE_IDENTITY()"])
        qid = int(float(rows[-1][0]))
        self.m.journal("central queue %d: %s %d %s" % (qid, kind, r, item))
        fields = "%d\u00a7%d\u00a7%s\u00a7%s" % (qid, r, kind, "" if item is None else item)
        with self.sent_lock:
            self.sent[qid] = (time.monotonic(), fields)
        self.site.control("upda", fields)
        return True

    def resend(self):
        """Sends again the orders whose central queue row is still there after
        RESEND_AFTER seconds (the service keeps the row when it could not
        apply the change for now); returns how many."""
        try:
            rows = self.pending()
        except SqlError:
            return 0
        n = 0
        now = time.monotonic()
        for qid, rec, kind, item in rows:
            qid = int(qid)
            with self.sent_lock:
                last = self.sent.get(qid)
            if last and now - last[0] < self.RESEND_AFTER:
                continue
            fields = "%d\u00a7%s\u00a7%s\u00a7%s" % (qid, rec or "", kind, item or "")
            with self.sent_lock:
                self.sent[qid] = (now, fields)
            ok, _ = self.site.control("upda", fields)
            n += ok
        return n

    def ctx(self, statements):
        return self.site.central.transaction(self.db, statements)

    def k_TenantAccess(self):
        r = self.resident()
        if r is None:
            return False
        self.ctx(["Delete From TenantAccess Where resId = %d" % r]
                 + [access_row(self.m, r) for _ in range(self.m.rng.randint(0, 2))])
        return self.announce("TenantAccess", r)

    def notification(self, table):
        r = self.resident()
        if r is None:
            return False
        self.ctx(["Delete From %s Where resId = %d" % (table, r)]
                 + ["Insert Into %s (resId, email) Values (%d, %s)" % (table, r, q("c%d@example.net" % self.m.next()))
                    for _ in range(self.m.rng.randint(0, 2))])
        return self.announce(table, r)

    def k_Notification(self):
        return self.notification("Notification")

    def k_NotificationF(self):
        return self.notification("NotificationF")

    def k_Names(self):
        r = self.resident()
        if r is None:
            return False
        v = resident_values(self.m, None)
        cols = ["button1Type", "button2Type", "button3Type", "phone1", "phone2", "phone3", "button1Loc",
                "button2Loc", "button3Loc", "button1Comm", "button2Comm", "button3Comm"]
        self.ctx(["Update Names Set %s Where ID = %d" % (", ".join("%s = %s" % (c, lit(v[c])) for c in cols), r)])
        return self.announce("Names", r)

    def k_PhotoR(self):
        r = self.resident()
        if r is None:
            return False
        self.ctx(["Update Names Set photo = Null, tmpPhoto = Null, photoDescr = N'' Where ID = %d" % r])
        with self.m.lock:
            self.m.names_photo[r] = (None, "central")
        return self.announce("PhotoR", r)

    def k_PhotoU(self):
        r = self.resident()
        if r is None:
            return False
        data = self.m.photo()
        self.ctx(["Update Names Set photo = %s, photoDescr = %s Where ID = %d"
                  % (hexlit(data), q(self.m.text(["Central 'pic'", "Photo"])), r)])
        with self.m.lock:
            self.m.names_photo[r] = (md5(data), "central")
        return self.announce("PhotoU", r)

    def k_Emails(self):
        r = self.resident()
        if r is None:
            return False
        n = self.site.central.read("PVHome", "Select Count(*) From Emails Where instId = %s And resId = %d"
                                  % (self.site.inst_id, r))
        if n[0][0] == "0":
            return False
        self.site.central.transaction("PVHome", [
            "Update Emails Set email = %s, iPhoneDeviceId = %s Where instId = %s And resId = %d"
            % (q("m%d@example.net" % self.m.next()), q("dev %d" % self.m.next()), self.site.inst_id, r)])
        return self.announce("Emails", r)

    def k_NamesA(self):
        n = self.m.next_negative()
        v = resident_values(self.m, "C%d" % self.m.next())
        v.update(hideBut1=0, hideBut2=0, hideBut3=0, dmCode=None, mailRoomID=None, notes2="x")
        mail = "new%d@example.net" % self.m.next()
        # The home e-mail row first: the service takes any resident with a
        # negative id (an earlier "NamesA" order may come for this one), and
        # copies the e-mail it finds then; the two databases cannot share one
        # transaction.
        self.site.central.transaction("PVHome", [
            "Insert Into Emails (instId, resId, email) Values (%s, %d, %s)" % (self.site.inst_id, n, q(mail))])
        self.ctx([insert_names(v, with_id=n),
                  "Insert Into Notification (resId, email) Values (%d, %s)" % (n, q(mail))])
        return self.announce("NamesA", 0)

    def k_NamesR(self):
        if self.m.rng.random() < 0.5:
            return False
        r = self.resident()
        if r is None:
            return False
        self.ctx(["Delete From %s Where %s = %d" % (t, c, r) for t, c in (
            ("Names", "ID"), ("TenantAccess", "resId"), ("Packages", "NameID"), ("Notification", "resId"),
            ("NotificationF", "resId"), ("AdditionalPhotos", "resId"))])
        self.site.central.transaction("PVHome", ["Delete From Emails Where instId = %s And resId = %d"
                                                 % (self.site.inst_id, r)])
        return self.announce("NamesR", r)

    def k_NamesU(self):
        r = self.resident()
        if r is None:
            return False
        v = resident_values(self.m, None)
        sets = {c: v[c] for c in ("lastName", "firstName", "company", "dmCode", "notes1", "photoDescr")}
        sets["notes2"] = "n2 %d" % self.m.next()
        self.ctx(["Update Names Set %s Where ID = %d" % (", ".join("%s = %s" % (c, lit(x)) for c, x in sets.items()), r)])
        if self.m.rng.random() < 0.3:
            self.site.central.transaction("PVHome", [
                "Update Emails Set email = %s Where instId = %s And resId = %d"
                % (q("u%d@example.net" % self.m.next()), self.site.inst_id, r)])
        return self.announce("NamesU", r)

    def k_AdditionalPhotos(self):
        r = self.resident()
        if r is None:
            return False
        data = self.m.photo()
        with self.m.lock:
            self.m.central_photos.add(md5(data))
        self.ctx(["Insert Into AdditionalPhotos (id, photo, label, resId) Values (%d, %s, %s, %d)"
                  % (self.m.next_negative(), hexlit(data), q(self.m.text(["Central car", "Key 'B'"])), r)])
        return self.announce("AdditionalPhotos", r)

    def central_add_photo(self):
        busy = {r[1] for r in self.pending()}
        rows = self.site.central.read(self.db, "Select a.id, a.resId From AdditionalPhotos a Join Names n On"
                                     " n.ID = a.resId Where a.id > 0 And n.suite Like N'C%'")
        rows = [r for r in rows if r[1] not in busy]
        return self.m.rng.choice(rows) if rows else None

    def k_AdditionalPhotosR(self):
        row = self.central_add_photo()
        if row is None:
            return False
        self.ctx(["Delete From AdditionalPhotos Where id = %s" % row[0]])
        return self.announce("AdditionalPhotosR", int(row[1]), row[0])

    def k_AdditionalPhotosL(self):
        row = self.central_add_photo()
        if row is None:
            return False
        self.ctx(["Update AdditionalPhotos Set label = %s Where id = %s" % (q(self.m.text(["Relabel", "Van 'C'"])), row[0])])
        return self.announce("AdditionalPhotosL", int(row[1]), row[0])

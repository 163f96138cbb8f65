"""The host's package qor.modules.vodar: showcode against small registers the tests write."""

import contextlib
import datetime
import io
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("KVT_SOURCE") or os.path.dirname(os.path.dirname(HERE))
PACKAGE_ROOT = os.path.join(SOURCE, "host", "python")
sys.path.insert(0, PACKAGE_ROOT)
sys.path.insert(0, HERE)

from qor.modules.vodar import manager, register  # noqa: E402
from test_sample_register import GENERATOR, REGISTER_CHECK, run_check  # noqa: E402

NOW = datetime.datetime(2026, 12, 11, 10, 30)


def write_register(path, objects, ranges, omit=()):
    """A register with the columns showcode reads; ranges are (REGNOM, G33MIN, G33MAX, DATEEND)."""
    with sqlite3.connect(path) as c:
        c.executescript(
            "CREATE TABLE vodar (REGNOM TEXT PRIMARY KEY, G31_12 TEXT, F732SNA TEXT);"
            "CREATE TABLE vodar_g33 (REGNOM TEXT, G33MIN TEXT, G33MAX TEXT, G33MIN10 TEXT,"
            " G33MAX10 TEXT, DATEEND TEXT);"
            "CREATE TABLE omit1532 (G33 TEXT, G33MIN10 TEXT, G33MAX10 TEXT);")
        c.executemany("INSERT INTO vodar VALUES (?, ?, ?)", objects)
        for regnom, low, high, end in ranges:
            c.execute("INSERT INTO vodar_g33 VALUES (?, ?, ?, substr(? || '0000000000', 1, 10), "
                      "substr(coalesce(?, ?) || '9999999999', 1, 10), ?)",
                      (regnom, low, high, low, high, low, end))
    return path


class PackageTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vodar-package-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.params = {}
        self.host = types.ModuleType("kvthost")
        self.host.database_param = lambda database, key: self.params.get((database, key), "")
        self.install_host(self.host)

    def install_host(self, module):
        saved = sys.modules.get("kvthost", False)
        sys.modules["kvthost"] = module

        def restore():
            if saved is False:
                sys.modules.pop("kvthost", None)
            else:
                sys.modules["kvthost"] = saved
        self.addCleanup(restore)

    def use(self, path):
        self.params[("ТРОИС", "sqlite.file")] = path

    def show(self, code, omitted=False, now=NOW):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            self.assertIsNone(manager.showcode(code, now, omitted))
        return out.getvalue()


def listed(output):
    """Registration numbers of the objects shown, in order."""
    return re.findall(r"^\d+\. (\S+)", output, re.M)


class ShowCodeTest(PackageTest):
    HOLDER = ("ООО «Велора», 123456, г. Москва, ул. Садовая, д. 12, стр. 3, офис 45, "
              "помещение I, комната 7 (RU)")
    OBJECTS = [
        ("2019У10001", "VELORA", HOLDER),
        ("2019У10002", "Тёплый дом", "Warmhaus GmbH, Hauptstraße 5, 80331 München (DE)"),
        ("2015У00003", "OLDMARK", "Oldmark Ltd., 12 High Street, London (GB)"),
    ]
    RANGES = [
        ("2019У10001", "6403", None, "2030-12-31"),
        ("2019У10001", "6402", "6405", "2025-01-31"),   # ended: the object is still in force
        ("2019У10002", "640391", "640399", "2029-06-30"),
        ("2019У10002", "8517", None, "2029-06-30"),
        ("2015У00003", "64", None, "2024-05-01"),
        ("2015У00003", "6403990000", None, None),       # no end date
        ("2019У10009", "640399", None, "2031-01-01"),   # no object row
    ]

    def setUp(self):
        super().setUp()
        self.use(write_register(os.path.join(self.dir, "vodar.db3"), self.OBJECTS, self.RANGES))

    def test_full_code_lists_entries_in_force_first_and_marks_the_rest(self):
        out = self.show("6403990000", omitted=True)
        self.assertEqual(listed(out), ["2019У10001", "2019У10002", "2019У10009", "2015У00003"])
        self.assertIn("Код ТН ВЭД: 6403990000 (полный код)", out)
        self.assertIn("№ 1532: код входит в перечень", out)
        self.assertIn("на 11.12.2026 10:30: объектов 4, из них действуют 3.", out)
        self.assertIn("«VELORA»\n", out)
        self.assertIn("2015У00003  «OLDMARK»  [НЕ ДЕЙСТВУЕТ]", out)
        self.assertIn("(наименование не указано)", out)
        for line in ("Коды ТН ВЭД: 6403, до 31.12.2030\n",
                     "Коды ТН ВЭД: 6402–6405, до 31.01.2025 — не действует\n",
                     "Коды ТН ВЭД: 640391–640399, до 30.06.2029\n",
                     "Коды ТН ВЭД: 6403990000, срок не указан — не действует\n"):
            self.assertIn(line, out)
        self.assertNotIn("8517", out)
        holder = re.search(r"Правообладатель: (ООО «Велора».*)", out).group(1)
        self.assertTrue(holder.endswith("…") and len(holder) <= manager.HOLDER_WIDTH, holder)
        self.assertIn("Warmhaus GmbH, Hauptstraße 5, 80331 München (DE)\n", out)

    def test_matching_follows_the_check_forms(self):
        cases = [
            # Ten digits must lie inside a range: 640391-640399 does not hold 6403000000.
            ("6403000000", ["2019У10001", "2015У00003"]),
            # Fewer are a leading part: every range the part overlaps.
            ("6403", ["2019У10001", "2019У10002", "2019У10009", "2015У00003"]),
            ("640399000", ["2019У10001", "2019У10002", "2019У10009", "2015У00003"]),
            ("85", ["2019У10002"]),
            ("8518", []),
        ]
        for code, expected in cases:
            with self.subTest(code=code):
                out = self.show(code)
                self.assertEqual(listed(out), expected)
                self.assertIn("код в перечень не входит", out)
        self.assertIn("записей с этим кодом нет", self.show("8518"))
        self.assertIn("(начальные знаки кода)", self.show("85"))

    def test_long_lists_are_cut(self):
        saved = manager.MAX_OBJECTS
        manager.MAX_OBJECTS = 2
        self.addCleanup(setattr, manager, "MAX_OBJECTS", saved)
        out = self.show("6403")
        self.assertEqual(len(listed(out)), 2)
        self.assertIn("объектов 4, из них действуют 3", out)
        self.assertIn("… и ещё объектов: 2.", out)


class InForceTest(PackageTest):
    def test_marks_agree_with_the_register_check(self):
        # One object per end date around the moment of the call; the check decides.
        ends = {"9501": "2026-12-10", "9502": "2026-12-11", "9503": "2026-12-12",
                "9504": None, "9505": "2027-06-01"}
        path = write_register(
            os.path.join(self.dir, "vodar.db3"),
            [("R" + code, "M" + code, "H") for code in ends],
            [("R" + code, code, None, end) for code, end in ends.items()])
        self.use(path)
        today = NOW.strftime("%Y-%m-%d %H:%M:%S")
        with sqlite3.connect(path) as c:
            for code in ends:
                with self.subTest(code=code, dateend=ends[code]):
                    counted = run_check(c, REGISTER_CHECK, code, today)
                    out = self.show(code)
                    self.assertEqual("[НЕ ДЕЙСТВУЕТ]" not in out, counted == 1, out)
                    self.assertEqual("— не действует" not in out, counted == 1, out)
        self.assertIn("из них действуют 2", self.show("95"))


class MissingConfigurationTest(PackageTest):
    def test_errors_name_what_is_missing(self):
        missing = os.path.join(self.dir, "missing.db3")
        junk = os.path.join(self.dir, "junk.db3")
        with open(junk, "w") as f:
            f.write("this is not a register\n" * 100)
        no_param = types.ModuleType("kvthost")
        cases = [
            ("host module absent", None, None, "kvthost"),
            ("no database_param", no_param, None, "database_param"),
            ("empty answer", False, "", "sqlite.file"),
            ("no answer", False, None, "sqlite.file"),
            ("blank answer", False, "  ", "sqlite.file"),
            ("file missing", False, missing, missing),
            ("not a database", False, junk, junk),
        ]
        for what, host, path, mentions in cases:
            with self.subTest(what):
                # None in sys.modules makes the import fail.
                self.install_host(self.host if host is False else host)
                self.params[("ТРОИС", "sqlite.file")] = path
                out = io.StringIO()
                with contextlib.redirect_stdout(out):
                    with self.assertRaises(register.RegisterError) as caught:
                        manager.showcode("6403", NOW, False)
                self.assertIn(mentions, str(caught.exception))
                self.assertIn("ТРОИС", str(caught.exception))
                self.assertEqual(out.getvalue(), "")
        self.assertFalse(os.path.exists(missing), "a read-only open must not create the file")
        self.assertTrue(issubclass(register.RegisterError, RuntimeError))


class OutputTest(PackageTest):
    def test_prints_utf8_in_order_whatever_the_stream_encoding(self):
        path = write_register(os.path.join(self.dir, "vodar.db3"),
                              [("2019У10001", "Тёплый дом", "ООО «Дом»")],
                              [("2019У10001", "6403", None, "2030-12-31")])
        script = (
            "import sys, types, datetime\n"
            "sys.path.insert(0, %r)\n"
            "host = types.ModuleType('kvthost')\n"
            "host.database_param = lambda database, key: %r\n"
            "sys.modules['kvthost'] = host\n"
            "from qor.modules.vodar.manager import showcode\n"
            "print('before')\n"
            "showcode('6403', datetime.datetime(2026, 12, 11, 10, 30), True)\n"
            "print('after')\n" % (PACKAGE_ROOT, path))
        env = dict(os.environ, PYTHONIOENCODING="ascii", LC_ALL="C", LANG="C")
        env.pop("PYTHONUTF8", None)
        result = subprocess.run([sys.executable, "-B", "-c", script], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        text = result.stdout.decode("utf-8")
        self.assertTrue(text.startswith("before\nКод ТН ВЭД: 6403"), text)
        self.assertTrue(text.endswith("до 31.12.2030\nafter\n"), text)
        self.assertIn("1. 2019У10001  «Тёплый дом»", text)


class SampleRegisterTest(PackageTest):
    def test_reads_the_generated_register(self):
        if not os.access(GENERATOR, os.X_OK):
            self.skipTest("kvtsample is not built")
        path = os.path.join(self.dir, "vodar.db3")
        subprocess.run([GENERATOR, "--tiny", "--out", path], check=True, timeout=60)
        with sqlite3.connect(path) as c:
            regnom, low, name = c.execute(
                "SELECT g.REGNOM, g.G33MIN10, v.G31_12 FROM vodar_g33 g JOIN vodar v "
                "USING (REGNOM) WHERE g.DATEEND > '2027' ORDER BY g.REGNOM LIMIT 1").fetchone()
        self.use(path)
        out = self.show(low)
        self.assertIn(regnom, listed(out))
        self.assertIn("«%s»" % name, out)


if __name__ == "__main__":
    unittest.main()

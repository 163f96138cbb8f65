"""The sample register generator kvtsample and the register's check queries on its files."""

import os
import shutil
import sqlite3
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("KVT_BUILD", "")
GENERATOR = os.path.join(BUILD, "tools", "kvtsample")

# The register's tables as the module declares them: column names in order, with the SQLite
# type of each field kind (string and memo TEXT, integer INTEGER, date TEXT).
T, I = "TEXT", "INTEGER"
SCHEMA = {
    "vodar": [
        ("REGNOM", T), ("G31_12D", T), ("G31_12", T), ("G31_12L", T), ("DESCRIPTION", T),
        ("F540IMG64", T), ("F540IMGTYPE", T), ("F540IMGMINI64", T), ("F540IMGMINITYPE", T),
        ("F540IMGMINIWIDTH", I), ("F540IMGMINIHEIGHT", I), ("F540IMGALT", T), ("NOTE", T),
        ("NPRAVO", T), ("F111", T), ("F190", T), ("DPRAVO", T), ("F151DATE", T), ("F526", T),
        ("F732SNA", T), ("F740SNA", T), ("F591", T), ("F511", T), ("F511TEXT", T),
        ("G33TEXT", T), ("DATEEND", T), ("DATEEXCLUDE", T), ("COMM", T), ("LETTERSTEXT", T),
        ("TRADEMARK", T)],
    "vodar_g33": [("REGNOM", T), ("G33MIN", T), ("G33MAX", T), ("G33MIN10", T),
                  ("G33MAX10", T), ("DATEEND", T)],
    "vodar_version": [("VERSION", T), ("VERSION_TNVED", T), ("VERSIONID_TNVED", I)],
    "omit1532": [("G33", T), ("NPP", I), ("G31_12", T), ("NOTE", T), ("DATEEND", T),
                 ("G33MIN10", T), ("G33MAX10", T)],
}
PRIMARY_KEYS = {"vodar": ["REGNOM"], "vodar_g33": ["REGNOM", "G33MIN"],
                "vodar_version": ["VERSION"], "omit1532": ["G33"]}
DECLARED_INDEXES = [("vodar", ("G31_12L",)), ("vodar_g33", ("G33MIN10",)),
                    ("omit1532", ("G33MIN10",))]

# The register's two checks, put together line by line as the module sends them.
REGISTER_CHECK = [
    "SELECT CASE WHEN EXISTS(SELECT 1 FROM vodar_g33 WHERE ",
    {"prefix": "((substr(:G33, 1, min(length(g33min), :G33LEN)) >= substr(g33min, 1, "
               "min(length(g33min), :G33LEN))) and (substr(:G33, 1, min(length(coalesce(g33max, "
               "g33min)), :G33LEN)) <= substr(coalesce(g33max, g33min), 1, "
               "min(length(coalesce(g33max, g33min)), :G33LEN))))",
     "range": "(:G33 BETWEEN G33MIN10 AND G33MAX10)"},
    " AND (:TODAY <= DATEEND)) THEN 1 ELSE 0 END AS ex",
]
OMIT_CHECK = [
    "SELECT CASE WHEN EXISTS(SELECT 1 FROM omit1532 WHERE ",
    {"prefix": "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, "
               "min(length(g33), :G33LEN)))",
     "range": "(:G33 BETWEEN G33MIN10 AND G33MAX10)"},
    ") THEN 1 ELSE 0 END AS ex",
]
# The host binds the current moment as local date and time text.
TODAY = "2026-12-11 10:30:00"


def check_sql(lines, code):
    form = "prefix" if len(code) < 10 else "range"
    return "\n".join([lines[0], lines[1][form], lines[2]])


def run_check(connection, lines, code, today=TODAY):
    params = {"G33": code}
    if len(code) < 10:
        params["G33LEN"] = len(code)
    if lines is REGISTER_CHECK:
        params["TODAY"] = today
    return connection.execute(check_sql(lines, code), params).fetchone()[0]


def generate(path, *args):
    return subprocess.run([GENERATOR, "--out", path] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True, timeout=300)


def table_dump(path):
    with sqlite3.connect(path) as c:
        return {t: c.execute("SELECT * FROM %s ORDER BY rowid" % t).fetchall() for t in SCHEMA}


def setUpModule():
    if not BUILD:
        raise unittest.SkipTest("KVT_BUILD is not set (run through CTest)")
    if not os.access(GENERATOR, os.X_OK):
        raise AssertionError("the generator is not built: %s" % GENERATOR)


class Workdir(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kvtsample-")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def make(self, name, *args):
        path = self.path(name)
        result = generate(path, *args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return path


class DefaultRegisterTest(unittest.TestCase):
    """The register as the build writes it: 8000 objects."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kvtsample-")
        cls.file = os.path.join(cls.dir, "vodar.db3")
        result = generate(cls.file)
        assert result.returncode == 0, result.stderr
        cls.db = sqlite3.connect("file:%s?mode=ro" % cls.file, uri=True)

    @classmethod
    def tearDownClass(cls):
        cls.db.close()
        shutil.rmtree(cls.dir)

    def value(self, sql):
        return self.db.execute(sql).fetchone()[0]

    def test_tables_have_the_declared_columns_in_order(self):
        tables = [r[0] for r in self.db.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'")]
        self.assertCountEqual(tables, SCHEMA)
        for table, columns in SCHEMA.items():
            with self.subTest(table=table):
                info = self.db.execute("PRAGMA table_info(%s)" % table).fetchall()
                self.assertEqual([(r[1], r[2]) for r in info], columns)
                keys = sorted((r[5], r[1]) for r in info if r[5])
                self.assertEqual([name for _, name in keys], PRIMARY_KEYS[table])

    def test_declared_and_check_indexes(self):
        for table, columns in DECLARED_INDEXES:
            with self.subTest(table=table, columns=columns):
                self.assertIn(columns, indexed_columns(self.db, table))
        # The full-code check must be served from an index alone, without reading rows.
        for table, lines in (("vodar_g33", REGISTER_CHECK), ("omit1532", OMIT_CHECK)):
            with self.subTest(check=table):
                plan = " ".join(r[-1] for r in self.db.execute(
                    "EXPLAIN QUERY PLAN " + check_sql(lines, "8517120000"),
                    {"G33": "8517120000", "TODAY": TODAY}))
                self.assertIn("COVERING INDEX", plan)
        self.assertGreater(self.value("SELECT count(*) FROM sqlite_stat1"), 0)

    def test_counts_and_version(self):
        self.assertEqual(self.value("SELECT count(*) FROM vodar"), 8000)
        self.assertTrue(60000 <= self.value("SELECT count(*) FROM vodar_g33") <= 110000)
        self.assertTrue(1400 <= self.value("SELECT count(*) FROM omit1532") <= 1500)
        self.assertEqual(self.db.execute("SELECT * FROM vodar_version").fetchall(),
                         [("2026.11.3.7", "ТН ВЭД ЕАЭС, ред. от 01.09.2026", 117)])

    def test_code_columns_are_consistent(self):
        # Each query counts rows that break a rule; all must be zero.
        rules = {
            "codes of 2 to 10 digits": "SELECT count(*) FROM vodar_g33 WHERE NOT ("
            "length(G33MIN) BETWEEN 2 AND 10 AND G33MIN NOT GLOB '*[^0-9]*' AND "
            "(G33MAX IS NULL OR (length(G33MAX) BETWEEN 2 AND 10 AND G33MAX NOT GLOB '*[^0-9]*')))",
            "G33MIN10 is G33MIN padded with 0": "SELECT count(*) FROM vodar_g33 WHERE "
            "G33MIN10 IS NOT substr(G33MIN || '0000000000', 1, 10)",
            "G33MAX10 is the upper bound padded with 9": "SELECT count(*) FROM vodar_g33 WHERE "
            "G33MAX10 IS NOT substr(coalesce(G33MAX, G33MIN) || '9999999999', 1, 10)",
            "ranges do not run backwards": "SELECT count(*) FROM vodar_g33 WHERE G33MIN10 > G33MAX10",
            "every range has its object": "SELECT count(*) FROM vodar_g33 "
            "WHERE REGNOM NOT IN (SELECT REGNOM FROM vodar)",
            "order-1532 codes of 2 to 10 digits": "SELECT count(*) FROM omit1532 WHERE NOT ("
            "length(G33) BETWEEN 2 AND 10 AND G33 NOT GLOB '*[^0-9]*')",
            "order-1532 bounds": "SELECT count(*) FROM omit1532 WHERE "
            "G33MIN10 IS NOT substr(G33 || '0000000000', 1, 10) OR "
            "G33MAX10 IS NOT substr(G33 || '9999999999', 1, 10)",
            "NPP numbers the list": "SELECT count(*) - count(DISTINCT NPP) + "
            "(max(NPP) - count(*)) + (min(NPP) - 1) FROM omit1532",
        }
        for rule, sql in rules.items():
            with self.subTest(rule=rule):
                self.assertEqual(self.value(sql), 0)

    def test_fields_fit_their_sizes_and_look_real(self):
        iso = "'[0-9][0-9][0-9][0-9]-[0-1][0-9]-[0-3][0-9]'"
        zero = {
            "REGNOM fits 25": "SELECT count(*) FROM vodar WHERE length(REGNOM) > 25",
            "NPRAVO and F111 fit 10": "SELECT count(*) FROM vodar "
            "WHERE length(NPRAVO) > 10 OR length(F111) > 10 OR F111 GLOB '*[^0-9]*'",
            "F190 is RU or WO": "SELECT count(*) FROM vodar WHERE F190 NOT IN ('RU', 'WO')",
            "dates are ISO": "SELECT count(*) FROM vodar WHERE DPRAVO NOT GLOB %s "
            "OR F151DATE NOT GLOB %s OR DATEEND NOT GLOB %s OR DATEEXCLUDE NOT GLOB %s"
            % (iso, iso, iso, iso),
            "range dates are ISO": "SELECT count(*) FROM vodar_g33 WHERE DATEEND NOT GLOB " + iso,
            "G31_12L is the lower-case name": "SELECT count(*) FROM vodar "
            "WHERE G31_12L IS NOT lower(G31_12) AND G31_12 NOT GLOB '*[А-ЯЁа-яё]*'",
            "images come with their type": "SELECT count(*) FROM vodar WHERE "
            "(F540IMGMINI64 IS NULL) <> (F540IMGMINIWIDTH IS NULL) OR "
            "(F540IMG64 IS NULL) <> (F540IMGTYPE IS NULL)",
        }
        for rule, sql in zero.items():
            with self.subTest(rule=rule):
                self.assertEqual(self.value(sql), 0)
        share = lambda where, table="vodar_g33": self.value(
            "SELECT avg(CASE WHEN %s THEN 1.0 ELSE 0 END) FROM %s" % (where, table))
        plausible = [
            ("open-ended ranges", share("G33MAX IS NULL"), 0.2, 0.8),
            ("ranges still in force at the end of 2026", share("DATEEND > '2027-01-01'"), 0.6, 0.95),
            ("ended ranges", share("DATEEND < '2026-12-01'"), 0.03, 0.3),
            ("ranges without an end", share("DATEEND IS NULL"), 0.005, 0.1),
            ("ten-digit codes", share("length(G33MIN) = 10"), 0.05, 0.5),
            ("chapters 61-64, 85, 95 and 33", share("substr(G33MIN, 1, 2) IN "
                                                    "('61', '62', '64', '85', '95', '33')"), 0.25, 0.7),
            ("Cyrillic names", share("G31_12 GLOB '*[а-яё]*'", "vodar"), 0.1, 0.5),
            ("international registrations", share("F190 = 'WO'", "vodar"), 0.1, 0.6),
            ("holders named", share("F732SNA IS NOT NULL", "vodar"), 1, 1),
        ]
        for what, value, low, high in plausible:
            with self.subTest(what=what):
                self.assertTrue(low <= value <= high, "%s: %.3f" % (what, value))
        self.assertLess(os.path.getsize(self.file), 40 * 1024 * 1024)


def indexed_columns(connection, table):
    result = []
    for index in connection.execute("PRAGMA index_list(%s)" % table).fetchall():
        result.append(tuple(r[2] for r in connection.execute("PRAGMA index_info('%s')" % index[1])))
    return result


class GeneratorTest(Workdir):
    def test_same_seed_same_contents_other_seed_other_contents(self):
        first = table_dump(self.make("a.db3", "--objects", "300", "--seed", "77"))
        second = table_dump(self.make("b.db3", "--objects", "300", "--seed", "77"))
        other = table_dump(self.make("c.db3", "--objects", "300", "--seed", "78"))
        self.assertEqual(first, second)
        self.assertNotEqual(first["vodar"], other["vodar"])
        self.assertNotEqual(first["vodar_g33"], other["vodar_g33"])
        self.assertEqual(len(first["vodar"]), 300)

    def test_tiny_register(self):
        dump = table_dump(self.make("tiny.db3", "--tiny"))
        self.assertEqual({t: len(rows) for t, rows in dump.items()},
                         {"vodar": 10, "vodar_g33": 10, "vodar_version": 1, "omit1532": 10})

    def test_declared_indexes_only(self):
        with sqlite3.connect(self.make("d.db3", "--tiny", "--declared-indexes-only")) as c:
            columns = indexed_columns(c, "vodar_g33")
        self.assertIn(("G33MIN10",), columns)
        self.assertNotIn(("G33MAX10", "G33MIN10", "DATEEND"), columns)

    def test_replaces_an_existing_file_and_leaves_nothing_behind(self):
        path = self.path("vodar.db3")
        with open(path, "w") as f:
            f.write("not a database")
        self.make("vodar.db3", "--tiny")
        with sqlite3.connect(path) as c:
            self.assertEqual(c.execute("SELECT count(*) FROM vodar").fetchone()[0], 10)
        self.assertEqual(os.listdir(self.dir), ["vodar.db3"])

    def test_bad_command_lines(self):
        cases = [
            ([], 2, "--out"),
            (["--out"], 2, "--out"),
            (["--out", self.path("x"), "--objects", "0"], 2, "--objects"),
            (["--out", self.path("x"), "--objects", "12x"], 2, "--objects"),
            (["--out", self.path("x"), "--seed", "-1"], 2, "--seed"),
            (["--out", self.path("x"), "--tiny", "--objects", "5"], 2, "--tiny"),
            (["--out", self.path("x"), "--frobnicate"], 2, "--frobnicate"),
            (["--out", self.path("missing/x.db3"), "--tiny"], 1, "missing"),
        ]
        for args, code, mentions in cases:
            with self.subTest(args=args):
                result = subprocess.run([GENERATOR] + args, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, universal_newlines=True)
                self.assertEqual(result.returncode, code)
                self.assertIn(mentions, result.stderr)
        self.assertEqual(os.listdir(self.dir), [])
        help_run = subprocess.run([GENERATOR, "--help"], stdout=subprocess.PIPE,
                                  universal_newlines=True)
        self.assertEqual(help_run.returncode, 0)
        self.assertIn("--declared-indexes-only", help_run.stdout)


class CheckQueryTest(Workdir):
    """The register's two checks on hand-built rows, with and without the check indexes."""

    RANGES = [  # REGNOM, G33MIN, G33MAX, DATEEND
        ("2020У00001", "851712", "851719", "2030-01-31"),
        ("2020У00002", "8517", None, "2029-05-01"),
        ("2020У00003", "9503", "9504", "2026-12-10"),   # ended yesterday
        ("2020У00004", "9101", None, None),              # no end date
        ("2020У00005", "6403993000", None, "2031-01-01"),
    ]
    OMIT = ["640399", "8703", "21"]

    CASES = [  # code, register check, order-1532 check
        ("8517", 1, 0),          # a leading part overlapping 851712-851719
        ("8518", 0, 0),
        ("85171", 1, 0),         # longer than the open-ended bound 8517
        ("851712000", 1, 0),     # nine characters: still a leading part
        ("8517120000", 1, 0),    # ten: a full code inside 8517120000-8517199999
        ("8517200000", 1, 0),    # inside the open-ended 8517 (8517000000-8517999999)
        ("85171200001", 1, 0),   # longer than ten: compared as text
        ("8516999999", 0, 0),
        ("9503", 0, 0),          # ended
        ("9101", 0, 0),          # no end date never counts
        ("6403", 1, 1),          # both: the open-ended ten-digit range and 640399 on the list
        ("64039", 1, 1),
        ("6404", 0, 0),
        ("6403993000", 1, 1),    # the ten-digit code itself, and inside 6403990000-6403999999
        ("6403990000", 0, 1),
        ("6403980000", 0, 0),
        ("870321", 0, 1),        # the list's 8703 is a leading part of the code
        ("8703210000", 0, 1),
        ("2", 0, 1),
        ("2106909800", 0, 1),
        ("", 1, 1),              # the empty code: any row in force, any code on the list
    ]

    def register(self, *args):
        path = self.make("r%d.db3" % len(args), "--tiny", *args)
        connection = sqlite3.connect(path)
        self.addCleanup(connection.close)
        with connection:
            for table in ("vodar_g33", "omit1532"):
                connection.execute("DELETE FROM " + table)
            for regnom, low, high, end in self.RANGES:
                connection.execute(
                    "INSERT INTO vodar_g33 VALUES (?, ?, ?, substr(? || '0000000000', 1, 10), "
                    "substr(coalesce(?, ?) || '9999999999', 1, 10), ?)",
                    (regnom, low, high, low, high, low, end))
            for npp, code in enumerate(self.OMIT, 1):
                connection.execute(
                    "INSERT INTO omit1532 (G33, NPP, G33MIN10, G33MAX10) VALUES "
                    "(?, ?, substr(? || '0000000000', 1, 10), substr(? || '9999999999', 1, 10))",
                    (code, npp, code, code))
            connection.execute("ANALYZE")
        return connection

    def test_checks_answer_by_the_register_rules(self):
        for indexes in ([], ["--declared-indexes-only"]):
            connection = self.register(*indexes)
            for code, registered, omitted in self.CASES:
                with self.subTest(code=code, indexes=indexes):
                    self.assertEqual(run_check(connection, REGISTER_CHECK, code), registered)
                    self.assertEqual(run_check(connection, OMIT_CHECK, code), omitted)


if __name__ == "__main__":
    unittest.main()

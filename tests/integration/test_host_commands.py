"""kvthost info and tables with the module, the options --db and --config, and exit codes."""

import os
import sqlite3

import kvttest

CAPTION = "Объекты интеллектуальной собственности"
REGISTER_VERSION = "2022.5.1.3"

# What `info` shows with a configured register whose vodar_version holds REGISTER_VERSION:
# the module reads it through the host's OpenSQL and application server.
VERSION_WITH_REGISTER = REGISTER_VERSION
STATUS_WITH_REGISTER = "Объекты ИС: 1.3"

# Where the module's data module stores the register: "db3/vodar.db3" beside the host. It
# tells the host so at every start, whatever the settings file held before.
HOST_REGISTER = os.path.join(kvttest.BIN, "db3", "vodar.db3")

# The tables the module registers, in order, with their full names.
REGISTERED_TABLES = [
    ("vodar", "Объекты ИС"),
    ("vodar_g33", "Коды ТН ВЭД,  по которым могут классифицироваться товары, обладающие "
                  "признаками контрафактных"),
    ("vodar_version", "Версия БД"),
    ("omit1532", "Перечень из Приказа Минпромторга N 1532 от 19.04.2022"),
]


def make_register(path, version=REGISTER_VERSION):
    with sqlite3.connect(path) as db:
        db.execute("CREATE TABLE vodar_version (VERSION TEXT, VERSION_TNVED TEXT, "
                   "VERSIONID_TNVED INTEGER)")
        db.execute("INSERT INTO vodar_version VALUES (?, NULL, NULL)", (version,))
    return path


def write_config(path, register_file=None, update=None):
    lines = []
    if register_file is not None:
        lines += ["[Databases]", "ТРОИС=SQLITE", "", "[Database:ТРОИС]",
                  "sqlite.file=" + register_file, "readonly=Да", ""]
    if update is not None:
        lines += ["[Настройки\\Обновление\\Обновлять]", "VODAR=" + update]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return path


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def info_fields(stdout):
    """The lines of `info` for the module VODAR, as a dictionary."""
    lines = stdout.splitlines()
    start = lines.index("VODAR")
    fields = {}
    for line in lines[start + 1:]:
        if not line.startswith("  "):
            break
        key, _, value = line.strip().partition(": ")
        fields[key] = value
    return fields


class Info(kvttest.TestCase):
    def test_the_module_describes_itself(self):
        proc = kvttest.kvthost("info")
        self.assertClean(proc)
        fields = info_fields(proc.stdout)
        self.assertEqual(fields["caption"], CAPTION)
        self.assertEqual(fields["update"], "yes")  # nothing stored: the module's default
        # The version of the register beside the host (the sample register of the build).
        if os.path.exists(HOST_REGISTER):
            with sqlite3.connect(HOST_REGISTER) as db:
                version = db.execute("select version from vodar_version").fetchone()[0]
            self.assertEqual(fields["version"], version)
        else:
            self.assertIn(HOST_REGISTER, fields["version"])

    def test_the_update_switch_comes_from_the_configuration(self):
        folder = self.tempdir()
        register = make_register(os.path.join(folder, "vodar.db3"))
        # The storage settings as the module gives them, so that the run changes nothing.
        config = write_config(os.path.join(folder, "my.ini"), HOST_REGISTER, update="Нет")
        before = read_bytes(config)
        proc = kvttest.kvthost("--db", register, "info", config=config)
        self.assertClean(proc)
        fields = info_fields(proc.stdout)
        self.assertEqual(fields["update"], "no")
        self.assertEqual(fields["version"], VERSION_WITH_REGISTER)
        self.assertEqual(fields["status"], STATUS_WITH_REGISTER)
        self.assertEqual(read_bytes(config), before, "reading changes no setting")

    def test_trace_shows_the_calls_the_module_makes(self):
        proc = kvttest.kvthost("--trace", "info")
        self.assertClean(proc)
        trace = [l for l in proc.stderr.splitlines() if l.startswith("trace: ")]
        for expected in ("trace: IModuleRegistrar.RegisterModule", "trace: IModuleInfoList.Add",
                         "trace: IKVTConfig.ReadValue Настройки\\Обновление\\Обновлять VODAR -> Да",
                         "trace: IDBManager2.OpenSQL ТРОИС: select version from vodar_version"):
            self.assertIn(expected, trace)


class Tables(kvttest.TestCase):
    def test_the_registered_tables(self):
        proc = kvttest.kvthost("tables")
        self.assertClean(proc)
        blocks = [b.splitlines() for b in proc.stdout.split("\n\n")]
        self.assertEqual([(b[2], b[0]) for b in blocks],
                         [("  table: " + t, full) for t, full in REGISTERED_TABLES])
        for b in blocks:
            self.assertEqual(b[1], "  database: ТРОИС")
        self.assertIn('    VERSION_TNVED  type 1  size 50  label "VERSION_TNVED"', blocks[2])
        self.assertIn('    REGNOM  type 1  size 25  label "Регистрационный номер ТРОИС"', blocks[1])


class Options(kvttest.TestCase):
    PARAM = ("import kvthost\n"
             "print(kvthost.database_param('ТРОИС', 'sqlite.file'))\n")

    def test_db_replaces_the_register_file_for_this_run_only(self):
        folder = self.tempdir()
        register = make_register(os.path.join(folder, "real.db3"))
        config = write_config(os.path.join(folder, "kvthost.ini"), HOST_REGISTER)
        before = read_bytes(config)

        proc = kvttest.kvthost("info", config=config)
        self.assertClean(proc)
        self.assertNotEqual(info_fields(proc.stdout)["version"], VERSION_WITH_REGISTER)

        for args in (["--db", register, "info"], ["info", "--db", register],
                     ["info", "--db=" + register]):
            with self.subTest(args=args):
                proc = kvttest.kvthost(*args, config=config)
                self.assertClean(proc)
                self.assertEqual(info_fields(proc.stdout)["version"], VERSION_WITH_REGISTER)

        # A relative name is taken from the current folder; the host's package sees the file
        # in use.
        proc = kvttest.kvthost("python", "--db", "real.db3", "-c", self.PARAM, config=config,
                               cwd=folder)
        self.assertClean(proc)
        self.assertEqual(proc.stdout, register + "\n")
        self.assertEqual(read_bytes(config), before, "--db is never written")

    def test_config_names_the_settings_file(self):
        folder = self.tempdir()
        config = os.path.join(folder, "sub.ini")
        proc = kvttest.kvthost("python", "-c", self.PARAM, config=config)
        self.assertClean(proc)
        self.assertEqual(proc.stdout, HOST_REGISTER + "\n")
        # The module's storage settings went into the file --config names.
        with open(config, encoding="utf-8") as f:
            stored = f.read().splitlines()
        for line in ("ТРОИС=SQLITE", "sqlite.file=" + HOST_REGISTER, "readonly=Да"):
            self.assertIn(line, stored)

        other = os.path.join(folder, "other.ini")
        write_config(other, update="Нет")
        proc = kvttest.kvthost("--config=" + other, "info", config=None)
        self.assertClean(proc)
        self.assertEqual(info_fields(proc.stdout)["update"], "no")

    def test_exit_codes(self):
        folder = self.tempdir()
        cases = [
            # args, exit code, the one line on stderr starts with
            (["info", "extra"], 2, "kvthost: info: unexpected argument 'extra'"),
            (["tables", "--bogus"], 2, "kvthost: tables: unknown option '--bogus'"),
            (["info", "--db"], 2, "kvthost: --db needs a file name"),
            (["--config=", "info"], 2, "kvthost: --config needs a file name"),
            (["--db", os.path.join(folder, "none.db3"), "info"], 1,
             "kvthost: --db: the file '%s' does not exist" % os.path.join(folder, "none.db3")),
            (["--db", folder, "tables"], 1, "kvthost: --db: '%s' is a folder" % folder),
            (["--config", folder, "tables"], 1, "kvthost: --config: '%s' is a folder" % folder),
        ]
        for args, code, line in cases:
            with self.subTest(args=args):
                proc = kvttest.kvthost(*args)
                self.assertClean(proc, code)
                self.assertTrue(proc.stderr.startswith(line), proc.stderr)
                if code == 1:
                    self.assertEqual(len(proc.stderr.strip().splitlines()), 1, proc.stderr)
        proc = kvttest.kvthost("--help")
        self.assertClean(proc)
        for option in ("--db FILE", "--config FILE", "info", "tables"):
            self.assertIn(option, proc.stdout)


if __name__ == "__main__":
    kvttest.main()

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

# Until the register's data module configures its storage, the database "ТРОИС" is unknown
# to a fresh configuration.
VERSION_UNCONFIGURED = '(error: Database "ТРОИС" is not configured'

# Until the register exists, the module registers no tables.
TABLES_TODAY = "no tables registered\n"


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
        self.assertTrue(fields["version"].startswith(VERSION_UNCONFIGURED), fields)
        self.assertTrue(fields["status"].startswith(VERSION_UNCONFIGURED), fields)

    def test_the_update_switch_and_the_register_come_from_the_configuration(self):
        folder = self.tempdir()
        register = make_register(os.path.join(folder, "vodar.db3"))
        config = write_config(os.path.join(folder, "my.ini"), register, update="Нет")
        before = read_bytes(config)
        proc = kvttest.kvthost("info", config=config)
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
        self.assertEqual(proc.stdout, TABLES_TODAY)


class Options(kvttest.TestCase):
    PARAM = ("import kvthost\n"
             "print(kvthost.database_param('ТРОИС', 'sqlite.file'))\n")

    def test_db_replaces_the_register_file_for_this_run_only(self):
        folder = self.tempdir()
        register = make_register(os.path.join(folder, "real.db3"))
        stored = os.path.join(folder, "stored-but-missing.db3")
        config = write_config(os.path.join(folder, "kvthost.ini"), stored)
        before = read_bytes(config)

        proc = kvttest.kvthost("info", config=config)
        self.assertClean(proc)
        self.assertIn("stored-but-missing.db3", info_fields(proc.stdout)["version"])

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
        self.assertEqual(proc.stdout, "\n")
        self.assertFalse(os.path.exists(config), "nothing was changed, nothing is written")

        write_config(config, os.path.join(folder, "vodar.db3"))
        proc = kvttest.kvthost("--config=" + config, "python", "-c", self.PARAM, config=None)
        self.assertClean(proc)
        self.assertEqual(proc.stdout, os.path.join(folder, "vodar.db3") + "\n")

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

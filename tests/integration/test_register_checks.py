"""The register end to end: the commodity-code checks against register files the tests
write, kvthost check and show, what the module tells the host, the host's package called
through the manager, STOPSERVER, and register files that cannot serve."""

import datetime
import json
import os
import select
import shutil
import subprocess

import kvttest

FUTURE = "2999-12-31"
PAST = "2000-01-01"


def code_range(regnom, low, high=None, dateend=FUTURE, min10=None, max10=None):
    """A row of vodar_g33; the ten-character bounds filled with "0" and "9" unless given."""
    top = high or low
    return {"REGNOM": regnom, "G33MIN": low, "G33MAX": high, "DATEEND": dateend,
            "G33MIN10": min10 or low.ljust(10, "0"), "G33MAX10": max10 or top.ljust(10, "9")}


def omitted(code, dateend=None):
    return {"G33": code, "DATEEND": dateend,
            "G33MIN10": code.ljust(10, "0"), "G33MAX10": code.ljust(10, "9")}


# One register, each case in a chapter of its own.
ROWS = {
    "vodar": [{"REGNOM": r, "G31_12": "Знак " + r, "F732SNA": "ООО «Правообладатель»"}
              for r in ("R1", "R2", "R3", "R4", "R5", "R6", "R7")],
    "vodar_g33": [
        code_range("R1", "851712", "851719"),
        # Narrower ten-character bounds than the heading: tells the two forms apart.
        code_range("R2", "6403", min10="6403000000", max10="6403500000"),
        code_range("R3", "9405"),                    # no upper bound
        code_range("R4", "3303", dateend=PAST),      # expired
        code_range("R5", "4202", dateend=None),      # no end date
        code_range("R6", "4203", dateend=""),        # an empty end date
        code_range("R7", "3305", dateend=PAST),      # expired, but on the exception list
    ],
    "omit1532": [omitted("3305"), omitted("0401"), omitted("0710", dateend=PAST)],
}

# (code, found, why), asked with --raw.
CASES = [
    ("8517", True, "leading part overlapping 851712-851719"),
    ("851", True, "a shorter leading part"),
    ("85171", True, "a leading part inside the range"),
    ("851719", True, "the upper bound"),
    ("8518", False, "a leading part past the range"),
    ("8516", False, "a leading part before the range"),
    ("851720", False, "past the upper bound"),
    ("94051", True, "a longer code under a heading without upper bound"),
    ("94", True, "a shorter code over a heading without upper bound"),
    ("9406", False, "next to a heading without upper bound"),
    ("8517120000", True, "full code at the lower bound"),
    ("8517199999", True, "full code at the upper bound"),
    ("8517119999", False, "full code below the range"),
    ("8517200000", False, "full code above the range"),
    ("640360000", True, "9 characters: prefix form against the heading 6403"),
    ("6403600000", False, "10 characters: range form against G33MIN10-G33MAX10"),
    ("6403400000", True, "10 characters inside G33MIN10-G33MAX10"),
    ("85171200001", True, "11 characters compare as text: inside"),
    ("85171999999", False, "11 characters compare as text: past the upper bound"),
    ("3303", False, "expired"),
    ("3303000000", False, "expired, full code"),
    ("4202", False, "no end date"),
    ("4203", False, "an empty end date"),
    ("3305", True, "expired, but on the exception list"),
    ("3305123456", True, "full code on the exception list"),
    ("0401", True, "only on the exception list"),
    ("040110", True, "a longer code under an exception-list code"),
    ("04", True, "a leading part of an exception-list code"),
    ("0402", False, "next to an exception-list code"),
    ("0710112233", True, "the exception list has no date condition"),
    ("", True, "the empty code: some row in force has a lower bound"),
    ("8517' OR 1=1 --", False, "an SQL fragment is a text like any other"),
    ("' OR 1=1", False, "a short SQL fragment"),
    ('85"17', False, "a double quote"),
    ("ABCD", False, "letters"),
    ("ЖЖЖЖ", False, "Cyrillic letters"),
    ("8517 12", False, "a blank kept by --raw"),
    ("85.17", False, "a dot kept by --raw"),
    ("85171" + "5" * 995, True, "1000 characters inside the range"),
    ("8" * 1000, False, "1000 characters outside every range"),
]

# The package a host copy gets: showcode prints its arguments as JSON.
RECORDING_MANAGER = """\
import json

def showcode(code, now, omitted):
    print(json.dumps({"code": code, "code_type": type(code).__name__,
                      "now": now.isoformat(), "now_type": type(now).__name__,
                      "omitted": omitted}))
"""


class RegisterTestCase(kvttest.TestCase):
    def register(self, rows=ROWS, **kw):
        return kvttest.write_register(os.path.join(self.tempdir(), "vodar.db3"), rows, **kw)

    def host_copy(self, manager=None, register_rows=ROWS):
        """A copy of the host in a folder of its own, with its register in db3/ unless
        register_rows is None, and with `manager` as the source of qor.modules.vodar.manager
        (no package at all when None)."""
        folder = self.tempdir()
        for f in (kvttest.KVTHOST, kvttest.PLATFORM, kvttest.MODULE3):
            shutil.copy(f, folder)
        if register_rows is not None:
            os.makedirs(os.path.join(folder, "db3"))
            kvttest.write_register(os.path.join(folder, "db3", "vodar.db3"), register_rows)
        if manager is not None:
            pkg = os.path.join(folder, "python", "qor", "modules", "vodar")
            os.makedirs(pkg)
            for d in ("qor", os.path.join("qor", "modules"), os.path.join("qor", "modules", "vodar")):
                open(os.path.join(folder, "python", d, "__init__.py"), "w").close()
            with open(os.path.join(pkg, "manager.py"), "w", encoding="utf-8") as f:
                f.write(manager)
        return os.path.join(folder, "kvthost")

    def assertOneLineError(self, proc, *fragments):
        self.assertClean(proc, 1)
        lines = proc.stderr.splitlines()
        self.assertEqual(len(lines), 1, proc.stderr)
        for fragment in fragments:
            self.assertIn(fragment, lines[0])


class Checks(RegisterTestCase):
    def test_edge_cases_of_both_forms(self):
        register = self.register()
        codes = [c for c, _, _ in CASES]
        proc = kvttest.kvthost("--db", register, "check", "--raw", "--json", "--", *codes)
        self.assertClean(proc)
        answers = [json.loads(line) for line in proc.stdout.splitlines()]
        self.assertEqual(len(answers), len(CASES))
        for (code, found, why), answer in zip(CASES, answers):
            with self.subTest(why, code=code[:20]):
                self.assertEqual(answer, {"code": code, "found": found})

    def test_the_empty_code_needs_a_row_in_force(self):
        register = self.register({"vodar_g33": [code_range("R4", "3303", dateend=PAST)]})
        proc = kvttest.kvthost("--db", register, "check", "--raw", "", "3303")
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "\tno\n3303\tno\n")

    def test_the_register_and_the_exception_list_from_python(self):
        register = self.register()
        proc = kvttest.kvthost("--db", register, "python", "-c", (
            "import dudoreri\n"
            "for code in ('8517', '0401', '3305', '9999'):\n"
            "    print(code, dudoreri.check_code(code), dudoreri.check_omit(code))\n"))
        self.assertClean(proc)
        self.assertEqual(proc.stdout.splitlines(), [
            "8517 True False",   # only in the register
            "0401 True True",    # only on the exception list
            "3305 True True",    # expired in the register, on the list
            "9999 False False",
        ])

    def test_people_write_codes_with_blanks_and_dots(self):
        register = self.register()
        proc = kvttest.kvthost("--db", register, "check", "8517 12 000 0", "8517.12", " 8518 ",
                               "0401.10.000.0")
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "8517 12 000 0\tyes\n8517.12\tyes\n 8518 \tno\n"
                                      "0401.10.000.0\tyes\n")
        self.assertEqual(proc.stderr, "")

    def test_codes_from_standard_input(self):
        register = self.register()
        proc = kvttest.kvthost("--db", register, "check", "-",
                               input="8517\n\n  \n8518\r\n8517 12 000 0\n0401")
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "8517\tyes\n8518\tno\n8517 12 000 0\tyes\n0401\tyes\n")
        proc = kvttest.kvthost("--db", register, "check", "--raw", "--json", "-",
                               input="8517\n\n8517 12\n")
        self.assertClean(proc)
        self.assertEqual([json.loads(l) for l in proc.stdout.splitlines()], [
            {"code": "8517", "found": True}, {"code": "", "found": True},
            {"code": "8517 12", "found": False}])

    def test_each_code_from_standard_input_is_answered_as_it_arrives(self):
        register = self.register()
        args = [kvttest.KVTHOST, "--config", kvttest.default_config(), "--db", register,
                "check", "-"]
        with subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True,
                              env=kvttest.child_env()) as proc:
            try:
                for code, answer in (("8517", "8517\tyes\n"), ("8518", "8518\tno\n")):
                    proc.stdin.write(code + "\n")
                    proc.stdin.flush()
                    ready, _, _ = select.select([proc.stdout], [], [], 120)
                    self.assertTrue(ready, "no answer while standard input stays open")
                    self.assertEqual(proc.stdout.readline(), answer)
                proc.stdin.close()
                self.assertEqual(proc.wait(120), 0, proc.stderr.read())
            finally:
                if proc.poll() is None:
                    proc.kill()

    def test_usage_errors(self):
        cases = [
            (["check"], "kvthost: check: no code given"),
            (["check", "-", "8517"], "kvthost: check: '-' reads the codes from standard input"),
            (["check", "--xml", "8517"], "kvthost: check: unknown option '--xml'"),
            (["check", " . "], "kvthost: check: ' . ' holds no code"),
            (["show"], "kvthost: show: no code given"),
            (["show", "8517", "6403"], "kvthost: show: give exactly one code"),
        ]
        for args, line in cases:
            with self.subTest(args=args):
                proc = kvttest.kvthost(*args)
                self.assertClean(proc, 2)
                self.assertTrue(proc.stderr.startswith(line), proc.stderr)


class HostConversation(RegisterTestCase):
    def test_the_module_declares_its_storage_and_registers_its_tables(self):
        host = self.host_copy(register_rows=None)
        folder = os.path.dirname(host)
        config = os.path.join(self.tempdir(), "settings.ini")
        proc = kvttest.kvthost("--trace", "python", "-c", "pass", host=host, config=config)
        self.assertClean(proc)
        trace = [l[len("trace: "):] for l in proc.stderr.splitlines() if l.startswith("trace: ")]
        register = kvttest.folder_of(host) + "db3/vodar.db3"
        for call in ("Subscribe STOPSERVER",
                     "IKVTDatabaseConfig.SetDriver ТРОИС SQLITE",
                     "IKVTDatabaseConfig.SetParam ТРОИС sqlite.file = " + register,
                     "IKVTDatabaseConfig.SetParam ТРОИС readonly = Да",
                     "IKVTConnectionRegistry.AddConnection"):
            self.assertIn(call, trace)
        self.assertEqual(trace.count("IKVTTableRegistry.AddTable ТРОИС"), 4)
        with open(config, encoding="utf-8") as f:
            stored = f.read().splitlines()
        for line in ("ТРОИС=SQLITE", "sqlite.file=" + register, "readonly=Да"):
            self.assertIn(line, stored)
        self.assertTrue(os.path.isdir(os.path.join(folder, "db3")), "the folder is made")

    def test_stopserver_twice_fails_nothing(self):
        proc = kvttest.kvthost("--db", self.register(), "python", "-c", (
            "import dudoreri, kvthost\n"
            "print(dudoreri.check_code('8517'))\n"
            "kvthost.raise_event('STOPSERVER')\n"
            "kvthost.raise_event('STOPSERVER')\n"
            "print(dudoreri.host_attached())\n"
            "try:\n"
            "    dudoreri.check_code('8517')\n"
            "except dudoreri.Error as e:\n"
            "    print('detached:', bool(str(e)))\n"))
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "True\nFalse\ndetached: True\n")
        self.assertEqual(proc.stderr, "")


class Show(RegisterTestCase):
    def shown(self, host, *args):
        proc = kvttest.kvthost("show", *args, host=host)
        self.assertClean(proc)
        return json.loads(proc.stdout)

    def test_showcode_receives_the_code_the_moment_and_the_exception_list_answer(self):
        host = self.host_copy(RECORDING_MANAGER)
        before = datetime.datetime.now() - datetime.timedelta(seconds=1)
        cases = [
            (["0401"], "0401", True),
            (["8517"], "8517", False),          # in the register only: the register is not asked
            (["8517 12"], "851712", False),
            (["--raw", "04 01"], "04 01", False),  # the blank is kept
        ]
        for args, code, omitted in cases:
            with self.subTest(args=args):
                shown = self.shown(host, *args)
                self.assertEqual(shown["code"], code)
                self.assertEqual(shown["code_type"], "str")
                self.assertEqual(shown["now_type"], "datetime")
                now = datetime.datetime.fromisoformat(shown["now"])
                self.assertTrue(before <= now <= datetime.datetime.now(), now)
                self.assertIs(shown["omitted"], omitted)

    def test_without_the_host_package_nothing_is_shown(self):
        # The module does nothing; the show command says why it showed nothing.
        host = self.host_copy(manager=None)
        proc = kvttest.kvthost("python", "-c",
                               "import dudoreri; print(dudoreri.show_code('8517'))", host=host)
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "None\n")
        proc = kvttest.kvthost("show", "8517", host=host)
        self.assertOneLineError(proc, "kvthost: show: ", "qor.modules.vodar is not loaded")

        host = self.host_copy(RECORDING_MANAGER)
        proc = kvttest.kvthost("python", "-c", (
            "import sys, dudoreri\n"
            "del sys.modules['qor.modules.vodar']\n"
            "dudoreri.show_code('0401')\n"
            "print('manager imported:', 'qor.modules.vodar.manager' in sys.modules)\n"), host=host)
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "manager imported: False\n")

    def test_errors_of_showcode_reach_the_user(self):
        cases = [
            ("def other(): pass\n",
             "kvthost: show: AttributeError: module 'qor.modules.vodar.manager' has no "
             "attribute 'showcode'"),
            ("def showcode(code, now, omitted):\n    raise ValueError('cannot show ' + code)\n",
             "kvthost: show: ValueError: cannot show 8517"),
        ]
        for manager, line in cases:
            with self.subTest(line=line):
                host = self.host_copy(manager)
                proc = kvttest.kvthost("show", "8517", host=host)
                self.assertOneLineError(proc)
                self.assertEqual(proc.stderr, line + "\n")
                proc = kvttest.kvthost("python", "-c",
                                       "import dudoreri; dudoreri.show_code('8517')", host=host)
                self.assertClean(proc, 1)
                self.assertIn("dudoreri.Error: " + line[len("kvthost: show: "):], proc.stderr)

    def test_the_host_package_shows_the_entries(self):
        proc = kvttest.kvthost("--db", self.register(), "show", "8517 12 000 0")
        self.assertClean(proc)
        self.assertIn("Код ТН ВЭД: 8517120000 (полный код)", proc.stdout)
        self.assertIn("R1  «Знак R1»", proc.stdout)


class BadRegisterFiles(RegisterTestCase):
    def test_a_file_that_cannot_serve_is_one_clear_line(self):
        folder = self.tempdir()
        text = os.path.join(folder, "text.db3")
        with open(text, "w") as f:
            f.write("not a register\n")
        empty = os.path.join(folder, "empty.db3")
        open(empty, "w").close()
        missing = os.path.join(folder, "missing.db3")
        no_table = self.register(skip=("omit1532",))
        no_column = self.register(skip=("vodar_g33.G33MIN10",))
        cases = [
            (missing, [missing, "does not exist"]),
            (folder, [folder, "is a folder"]),
            (text, [text, "is not an SQLite database"]),
            (empty, [empty, 'has no table "vodar"']),
            (no_table, [no_table, 'has no table "omit1532"']),
            (no_column, [no_column, 'table "vodar_g33"', 'has no column "G33MIN10"']),
        ]
        for path, fragments in cases:
            for command in (["check", "8517"], ["show", "8517"]):
                with self.subTest(file=os.path.basename(path), command=command[0]):
                    proc = kvttest.kvthost("--db", path, *command)
                    self.assertOneLineError(proc, *fragments)
                    self.assertEqual(proc.stdout, "")

    def test_the_register_beside_the_host_is_missing(self):
        host = self.host_copy(register_rows=None)
        register = kvttest.folder_of(host) + "db3/vodar.db3"
        proc = kvttest.kvthost("check", "8517", host=host)
        self.assertOneLineError(proc, "kvthost: check: ", register, "does not exist")

    def test_an_unreadable_file(self):
        if os.geteuid() == 0:
            self.skipTest("root reads every file")
        register = self.register()
        os.chmod(register, 0)
        proc = kvttest.kvthost("--db", register, "check", "8517")
        self.assertOneLineError(proc, register)

    def test_python_scripts_get_the_error_as_dudoreri_error(self):
        proc = kvttest.kvthost("--db", self.register(skip=("vodar_g33",)), "python", "-c", (
            "import dudoreri\n"
            "try:\n"
            "    dudoreri.check_code('8517')\n"
            "except dudoreri.Error as e:\n"
            "    print(e)\n"))
        self.assertClean(proc)
        self.assertIn("no such table: vodar_g33", proc.stdout)


if __name__ == "__main__":
    kvttest.main()

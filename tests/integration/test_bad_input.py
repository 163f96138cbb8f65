"""Bad input through the real host: codes that no register holds (huge, empty, quoted, SQL,
zero bytes, characters outside code page 1251, lone surrogates, values of the wrong kind)
through kvthost check and the Python API, and register files that cannot serve (truncated,
damaged, locked by another writer). Each gets an answer or one clear error, and nothing
else is affected: the file stays as it was, later questions are answered."""

import hashlib
import json
import os
import sqlite3

import kvttest

FUTURE = "2999-12-31"

ROWS = {
    "vodar": [{"REGNOM": "R1", "G31_12": "Знак"}],
    "vodar_g33": [{"REGNOM": "R1", "G33MIN": "851712", "G33MAX": "851719", "DATEEND": FUTURE,
                   "G33MIN10": "8517120000", "G33MAX10": "8517199999"}],
    "omit1532": [{"G33": "0401", "G33MIN10": "0401000000", "G33MAX10": "0401999999"}],
}

# (what, code, answer): the answer the register gives, or None where any yes or no will do
# (the code is reduced to the code page, so what it meets is not the point).
CODES = [
    ("the empty code", "", True),
    ("a heading", "8517", True),
    ("11 characters", "85171200001", True),
    ("a million characters inside the range", "85171" + "5" * 999995, True),
    ("a million characters outside every range", "8" * 1000000, False),
    ("letters", "ABCDEFGHIJ", False),
    ("quotes of every kind", "8517'\"`", False),
    ("an SQL fragment", "8517' OR 1=1 --", False),
    ("a statement", "'; DROP TABLE vodar_g33; --", False),
    ("a parameter marker", ":G33", False),
    ("a zero byte", "8517\x0012", None),
    ("only zero bytes", "\x00\x00", None),
    ("a character outside the code page", "8517\U0001F600", None),
    ("Chinese", "中文", None),
    ("full-width digits", "８５１７", None),
    ("Cyrillic", "ЖЖЖЖ", False),
]

# Python values that are not text: a clean TypeError (or the module's own error).
WRONG_KINDS = ["None", "8517", "8517.0", "['8517']", "object()"]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class BadInput(kvttest.TestCase):
    def setUp(self):
        self.folder = self.tempdir()
        self.register = kvttest.write_register(os.path.join(self.folder, "vodar.db3"), ROWS)

    def check(self, *args, **kw):
        return kvttest.kvthost("--db", self.register, "check", *args, **kw)

    def test_codes_through_kvthost_check(self):
        # One code per line of standard input, unchanged (--raw), answered in JSON; the
        # last line asks again about a code the register holds.
        before = sha256(self.register)
        codes = [code for _, code, _ in CODES] + ["8517"]
        proc = self.check("--raw", "--json", "-",
                          input="".join(c + "\n" for c in codes))
        self.assertClean(proc)
        answers = [json.loads(line) for line in proc.stdout.splitlines()]
        self.assertEqual(len(answers), len(codes))
        for (what, code, expected), answer in zip(CODES + [("again", "8517", True)], answers):
            with self.subTest(what):
                self.assertEqual(answer["code"], code)
                self.assertIsInstance(answer["found"], bool)
                if expected is not None:
                    self.assertEqual(answer["found"], expected)
        self.assertEqual(sha256(self.register), before, "the register was changed")

    def test_codes_through_the_python_api(self):
        program = (
            "import dudoreri, sys\n"
            "codes = %r\n"
            "for what, code, expected in codes:\n"
            "    found = dudoreri.check_code(code)\n"
            "    omitted = dudoreri.check_omit(code)\n"
            "    assert isinstance(found, bool) and isinstance(omitted, bool), what\n"
            "    if expected is not None:\n"
            "        assert found == expected, (what, found)\n"
            "# Lone surrogates: an answer, or an error that says what is wrong.\n"
            "for code in ('\\ud800', '8517\\udfff', '\\udc00\\ud800'):\n"
            "    try:\n"
            "        assert isinstance(dudoreri.check_code(code), bool)\n"
            "    except (UnicodeError, ValueError, dudoreri.Error) as e:\n"
            "        assert str(e), repr(code)\n"
            "# Values that are no text.\n"
            "for value in (%s,):\n"
            "    try:\n"
            "        dudoreri.check_code(value)\n"
            "        raise AssertionError('accepted %%r' %% (value,))\n"
            "    except (TypeError, dudoreri.Error) as e:\n"
            "        assert str(e)\n"
            "for call in (lambda: dudoreri.check_code(), lambda: dudoreri.check_code('1', '2')):\n"
            "    try:\n"
            "        call()\n"
            "        raise AssertionError('accepted')\n"
            "    except TypeError:\n"
            "        pass\n"
            "# Nothing else affected.\n"
            "assert dudoreri.check_code('8517') is True\n"
            "assert dudoreri.check_omit('0401') is True\n"
            "print('done')\n") % (CODES, ", ".join(WRONG_KINDS))
        script = os.path.join(self.folder, "bad_codes.py")
        with open(script, "w", encoding="utf-8") as f:
            f.write(program)
        proc = kvttest.kvthost("--db", self.register, "python", script)
        self.assertClean(proc)
        self.assertEqual(proc.stdout.strip(), "done")


class BadRegisterFiles(kvttest.TestCase):
    def setUp(self):
        self.folder = self.tempdir()

    def good_register(self, name="vodar.db3", rows=ROWS):
        return kvttest.write_register(os.path.join(self.folder, name), rows)

    def truncated(self):
        # Enough rows for the file to span many pages, then cut in half.
        rows = dict(ROWS)
        rows["vodar"] = [{"REGNOM": "R%d" % i, "G31_12": "Знак %d " % i + "x" * 200}
                         for i in range(2000)]
        path = self.good_register("truncated.db3", rows)
        with open(path, "r+b") as f:
            f.truncate(os.path.getsize(path) // 2)
        return path

    def damaged(self):
        # A real SQLite header, then pages of noise.
        path = self.good_register("damaged.db3")
        with open(path, "r+b") as f:
            f.seek(100)
            f.write(bytes((i * 37) % 256 for i in range(os.path.getsize(path) - 100)))
        return path

    def header_only(self):
        path = os.path.join(self.folder, "header.db3")
        with open(path, "wb") as f:
            f.write(b"SQLite format 3\x00")
        return path

    def assertOneLineError(self, proc, *fragments):
        self.assertClean(proc, 1)
        lines = proc.stderr.splitlines()
        self.assertEqual(len(lines), 1, proc.stderr)
        self.assertTrue(lines[0].startswith("kvthost: check: "), lines[0])
        for fragment in fragments:
            self.assertIn(fragment, lines[0])

    def test_files_that_cannot_serve(self):
        for what, make in (("truncated", self.truncated), ("damaged", self.damaged),
                           ("only a header", self.header_only)):
            with self.subTest(what):
                path = make()
                before = sha256(path)
                proc = kvttest.kvthost("--db", path, "check", "8517", "0401")
                self.assertOneLineError(proc)
                self.assertEqual(sha256(path), before, "the file was changed")
                # The Python API: the module's error, and the script goes on.
                proc = kvttest.kvthost("--db", path, "python", "-c", (
                    "import dudoreri\n"
                    "for i in range(2):\n"
                    "    try:\n"
                    "        dudoreri.check_code('8517')\n"
                    "        print('answered')\n"
                    "    except dudoreri.Error as e:\n"
                    "        assert str(e) and '\\n' not in str(e).strip(), str(e)\n"
                    "        print('error')\n"
                    "print('survived')\n"))
                self.assertClean(proc)
                self.assertEqual(proc.stdout.split(), ["error", "error", "survived"])

    def test_a_register_locked_by_another_writer(self):
        path = self.good_register()
        writer = sqlite3.connect(path, timeout=0, isolation_level=None)
        self.addCleanup(writer.close)
        # A writer that holds the file exclusively: readers cannot get in.
        writer.execute("BEGIN EXCLUSIVE")
        writer.execute("INSERT INTO omit1532 (G33) VALUES ('9999')")
        proc = kvttest.kvthost("--db", path, "check", "8517")
        self.assertOneLineError(proc, "locked")
        # The writer is not disturbed: its transaction commits.
        writer.execute("COMMIT")
        self.assertEqual(writer.execute("SELECT count(*) FROM omit1532 WHERE G33 = '9999'")
                         .fetchone()[0], 1)
        # A writer that has only begun (a reserved lock) lets readers read.
        writer.execute("BEGIN IMMEDIATE")
        writer.execute("DELETE FROM omit1532 WHERE G33 = '9999'")
        proc = kvttest.kvthost("--db", path, "check", "8517", "9999")
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "8517\tyes\n9999\tyes\n")
        writer.execute("ROLLBACK")


if __name__ == "__main__":
    kvttest.main()

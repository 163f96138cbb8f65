"""The module imported by a plain interpreter and by kvthost: attaching to the host,
PYTHONHOME, and unloading after the interpreter has been finalised."""

import os
import shutil

import kvttest
from kvttest import BIN, IKVTSERVER, PRINT_PYTHONHOME

IMPORT_DETACHED = (
    "import sys\n"
    "sys.path.insert(0, %r)\n"
    "import dudoreri\n"
    "assert sys.modules['dudoreri'] is dudoreri\n"
    "assert dudoreri.host_attached() is False\n"
    "print('FILE=' + dudoreri.__file__)\n" + PRINT_PYTHONHOME)


def values(stdout):
    return dict(line.split("=", 1) for line in stdout.splitlines() if "=" in line)


class PlainInterpreter(kvttest.TestCase):
    def test_import_without_a_host(self):
        proc = kvttest.python3(IMPORT_DETACHED % BIN)
        self.assertClean(proc)
        v = values(proc.stdout)
        self.assertEqual(v["FILE"], kvttest.MODULE3)
        self.assertEqual(v["PYTHONHOME"], kvttest.folder_of(kvttest.PYTHON3))

    def test_pythonhome_names_the_executables_folder_not_the_modules(self):
        folder = self.tempdir()
        for f in (kvttest.MODULE3, kvttest.PLATFORM):
            shutil.copy(f, folder)
        proc = kvttest.python3(IMPORT_DETACHED % folder)
        self.assertClean(proc)
        v = values(proc.stdout)
        self.assertEqual(v["FILE"], os.path.join(folder, "dudoreri.abi3.so"))
        self.assertEqual(v["PYTHONHOME"], kvttest.folder_of(kvttest.PYTHON3))

    def test_unload_after_finalisation_touches_no_python_object(self):
        # With the interpreter's objects on the checked heap, a module object released after
        # Py_FinalizeEx would be a use after free.
        env = kvttest.child_env(plain_interpreter=True, PYTHONMALLOC="malloc")
        proc = kvttest.run([kvttest.PYTHON3, "-c", IMPORT_DETACHED % BIN], env=env)
        self.assertClean(proc)

    def test_the_stable_abi_module_serves_other_python3_versions(self):
        pythons = kvttest.other_python3s()
        if not pythons:
            self.skipTest("no other CPython 3 found")
        for exe in pythons:
            with self.subTest(python=exe):
                proc = kvttest.run([exe, "-c", IMPORT_DETACHED % BIN], plain_interpreter=True)
                self.assertClean(proc)
                self.assertEqual(values(proc.stdout)["PYTHONHOME"], kvttest.folder_of(exe))


class InsideKvthost(kvttest.TestCase):
    def test_the_host_is_asked_once_for_its_server(self):
        proc = kvttest.kvthost(
            "--trace", "python", "-c",
            "import dudoreri\n"
            "assert dudoreri.host_attached() is True\n"
            "print('FILE=' + dudoreri.__file__)\n" + PRINT_PYTHONHOME)
        self.assertClean(proc)
        asked = [l for l in proc.stderr.splitlines() if l.startswith("trace: Server_QueryInterface")]
        self.assertEqual(asked, ["trace: Server_QueryInterface " + IKVTSERVER])
        v = values(proc.stdout)
        self.assertEqual(v["FILE"], kvttest.MODULE3)
        self.assertEqual(v["PYTHONHOME"], BIN + "/")

    def test_stop_then_finalise_then_unload(self):
        env = kvttest.child_env(PYTHONMALLOC="malloc")
        proc = kvttest.kvthost("--trace", "python", "-c", "import dudoreri", env=env)
        self.assertClean(proc)
        trace = [l for l in proc.stderr.splitlines() if l.startswith("trace: ")]
        steps = ["trace: Raise STOPSERVER", "trace: Python finalised", "trace: server released"]
        for step in steps:
            self.assertIn(step, trace)
        # The module's last unload step releases the host server, after finalisation.
        self.assertEqual([trace.index(s) for s in steps], sorted(trace.index(s) for s in steps))
        self.assertEqual(trace[-1], "trace: server released")

    def test_a_host_without_the_module_says_so_in_one_line(self):
        folder = self.tempdir()
        for f in (kvttest.KVTHOST, kvttest.PLATFORM):
            shutil.copy(f, folder)
        proc = kvttest.kvthost("python", "-c", "pass", host=os.path.join(folder, "kvthost"),
                               env=kvttest.child_env(PYTHONPATH=None))
        self.assertClean(proc, 1)
        lines = proc.stderr.strip().splitlines()
        self.assertEqual(len(lines), 1, proc.stderr)
        self.assertTrue(lines[0].startswith(
            "kvthost: cannot import the module dudoreri: ModuleNotFoundError"), lines[0])


if __name__ == "__main__":
    kvttest.main()

"""The module's Python 2.7 build, imported by a plain Python 2.7 interpreter."""

import shutil
import sys

import kvttest

if not kvttest.PYTHON2:
    print("skipped: Python 2.7 with headers and a shared library was not found at configure time")
    sys.exit(77)

IMPORT_DETACHED = (
    "import sys\n"
    "sys.path.insert(0, %r)\n"
    "import dudoreri\n"
    "assert sys.modules['dudoreri'] is dudoreri\n"
    "assert dudoreri.host_attached() is False\n"
    "try:\n"
    "    dudoreri.check_code(u'8517')\n"
    "    raise AssertionError('no error')\n"
    "except dudoreri.Error as e:\n"
    "    assert str(e), 'a check without a host fails with a message'\n"
    "print('FILE=' + dudoreri.__file__)\n" + kvttest.PRINT_PYTHONHOME)


def values(stdout):
    return dict(line.split("=", 1) for line in stdout.splitlines() if "=" in line)


class Python27(kvttest.TestCase):
    def run_import(self, folder, **env):
        return kvttest.run([kvttest.PYTHON2, "-c", IMPORT_DETACHED % folder],
                           env=kvttest.child_env(plain_interpreter=True, **env))

    def test_import_without_a_host(self):
        proc = self.run_import(kvttest.BIN + "/py27")
        self.assertClean(proc)
        v = values(proc.stdout)
        self.assertEqual(v["FILE"], kvttest.MODULE2)
        self.assertEqual(v["PYTHONHOME"], kvttest.folder_of(kvttest.PYTHON2))

    def test_pythonhome_names_the_executables_folder_not_the_modules(self):
        folder = self.tempdir()
        shutil.copy(kvttest.MODULE2, folder)
        shutil.copy(kvttest.PLATFORM, folder)
        proc = self.run_import(folder)
        self.assertClean(proc)
        self.assertEqual(values(proc.stdout)["PYTHONHOME"], kvttest.folder_of(kvttest.PYTHON2))

    def test_unload_after_finalisation_touches_no_python_object(self):
        proc = self.run_import(kvttest.BIN + "/py27")
        self.assertClean(proc)


if __name__ == "__main__":
    kvttest.main()

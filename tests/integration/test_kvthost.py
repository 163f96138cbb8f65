"""kvthost as people use it: its command line, the Python it runs, its built-in module and
its own Python package."""

import os
import shutil

import kvttest


class CommandLine(kvttest.TestCase):
    def test_options_and_usage_errors(self):
        cases = [
            # args, exit code, text expected in stdout or stderr
            (["--help"], 0, "Usage: kvthost"),
            (["-h"], 0, "Usage: kvthost"),
            (["--version"], 0, "kvthost 1."),
            ([], 2, "kvthost: no command given"),
            (["--nope", "python"], 2, "kvthost: unknown option '--nope'"),
            (["frobnicate"], 2, "kvthost: unknown command 'frobnicate'"),
            (["python", "-c"], 2, "python: -c needs the program text"),
            (["python", "-x"], 2, "python: unknown option '-x'"),
            (["python", "/nonexistent/prog.py"], 2, "cannot open file '/nonexistent/prog.py'"),
        ]
        for args, code, text in cases:
            with self.subTest(args=args):
                proc = kvttest.kvthost(*args)
                self.assertClean(proc, code)
                self.assertIn(text, proc.stdout + proc.stderr)

    def test_python_runs_with_the_module_attached(self):
        cases = [
            # how the program is given, exit code, expected stdout
            (["-c", "import sys, dudoreri; print(sys.argv, dudoreri.host_attached())", "a", "-b"],
             None, 0, "['-c', 'a', '-b'] True\n"),
            (["-c", "raise SystemExit(3)"], None, 3, ""),
            (["-"], "import sys; print(sys.argv)\n", 0, "['-']\n"),
            ([], "print('from stdin')\n", 0, "from stdin\n"),
        ]
        for args, stdin, code, out in cases:
            with self.subTest(args=args):
                proc = kvttest.kvthost("python", *args, input=stdin)
                self.assertClean(proc, code)
                self.assertEqual(proc.stdout, out)

    def test_python_file_and_errors(self):
        folder = self.tempdir()
        prog = os.path.join(folder, "prog.py")
        with open(prog, "w") as f:
            f.write("import sys\nprint(sys.argv[1:], __file__ == sys.argv[0])\n"
                    "raise SystemExit(sys.argv[1])\n")
        proc = kvttest.kvthost("python", prog, "bye")
        self.assertClean(proc, 1)
        self.assertEqual(proc.stdout, "['bye'] True\n")
        self.assertIn("bye", proc.stderr)

        proc = kvttest.kvthost("python", "-c", "raise KeyError('x')")
        self.assertClean(proc, 1)
        self.assertIn("KeyError: 'x'", proc.stderr)

    def test_the_built_in_module_answers_storage_settings(self):
        proc = kvttest.kvthost("python", "-c",
                               "import kvthost\n"
                               "print(repr(kvthost.database_param('ТРОИС', 'sqlite.file')))\n")
        self.assertClean(proc)
        # What the module told the host: the register beside the host executable.
        self.assertEqual(proc.stdout,
                         repr(os.path.join(kvttest.BIN, "db3", "vodar.db3")) + "\n")


class HostPackage(kvttest.TestCase):
    """The host imports its own package qor.modules.vodar at start-up when it is there."""

    def host_copy(self, package_init=None):
        folder = self.tempdir()
        for f in (kvttest.KVTHOST, kvttest.PLATFORM, kvttest.MODULE3):
            shutil.copy(f, folder)
        os.makedirs(os.path.join(folder, "db3"))
        kvttest.write_register(os.path.join(folder, "db3", "vodar.db3"))
        if package_init is not None:
            pkg = os.path.join(folder, "python", "qor", "modules", "vodar")
            os.makedirs(pkg)
            for d in ("qor", os.path.join("qor", "modules")):
                open(os.path.join(folder, "python", d, "__init__.py"), "w").close()
            with open(os.path.join(pkg, "__init__.py"), "w") as f:
                f.write(package_init)
        return os.path.join(folder, "kvthost")

    def loaded(self, host):
        proc = kvttest.kvthost(
            "python", "-c", "import sys; print('qor.modules.vodar' in sys.modules)", host=host,
            env=kvttest.child_env(PYTHONPATH=None))
        return proc

    def test_present_absent_and_broken(self):
        proc = self.loaded(self.host_copy("LOADED = True\n"))
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "True\n")

        proc = self.loaded(self.host_copy())
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "False\n")
        self.assertEqual(proc.stderr, "")

        proc = self.loaded(self.host_copy("raise ImportError('broken package')\n"))
        self.assertClean(proc)
        self.assertEqual(proc.stdout, "False\n")
        self.assertIn("kvthost: warning: the host package qor.modules.vodar cannot be imported: "
                      "ImportError: broken package", proc.stderr)


if __name__ == "__main__":
    kvttest.main()

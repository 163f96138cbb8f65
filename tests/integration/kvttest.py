"""Shared helpers of the integration tests: where the build put things, and the environment
of the child processes they start.

A sanitizer build (KVT_ASAN_RUNTIME set by CTest) needs, in every child:
  * ASAN/UBSAN/LSAN options with the leak suppressions of tests/lsan.supp, which cover what
    the CPython interpreter leaves allocated at exit but not the module's own leaks;
  * for a plain interpreter (python3, python2.7) that imports the module: the sanitizer
    runtime preloaded, and the C++ runtime with it, because the interpreter itself is not
    built with the sanitizer and loads the C++ runtime only with the module (the sanitizer
    must find the C++ runtime's exception functions when it starts).
kvthost is built with the sanitizer and needs only the options.
"""

import atexit
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ.get("KVT_SOURCE", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD = os.environ.get("KVT_BUILD", os.path.join(SOURCE, "build"))
BIN = os.path.realpath(os.environ.get("KVT_BIN", os.path.join(BUILD, "bin")))
PYTHON3 = os.environ.get("KVT_PYTHON3") or "/usr/bin/python3"
PYTHON2 = os.environ.get("KVT_PYTHON2") or ""
ASAN_RUNTIME = os.environ.get("KVT_ASAN_RUNTIME", "")
LSAN_SUPPRESSIONS = os.environ.get("KVT_LSAN_SUPPRESSIONS",
                                   os.path.join(SOURCE, "tests", "lsan.supp"))

KVTHOST = os.path.join(BIN, "kvthost")
MODULE3 = os.path.join(BIN, "dudoreri.abi3.so")
MODULE2 = os.path.join(BIN, "py27", "dudoreri.so")
PLATFORM = os.path.join(BIN, "libkvtplatform.so")

IKVTSERVER = "{90F3F42C-0F88-478D-A234-101D4F85F9CA}"

# What a sanitizer prints when it finds something.
SANITIZER_MARKERS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                     "AddressSanitizer: CHECK failed")


def child_env(plain_interpreter=False, **extra):
    """The environment of a child process; `extra` adds or (with None) removes variables."""
    env = dict(os.environ)
    # A PYTHONHOME inherited from a process that loaded the module would point an
    # interpreter at the wrong folder.
    env.pop("PYTHONHOME", None)
    if ASAN_RUNTIME:
        env["ASAN_OPTIONS"] = ("detect_leaks=1:abort_on_error=0:strict_string_checks=1:"
                               "detect_stack_use_after_return=1")
        env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
        env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0" % LSAN_SUPPRESSIONS
        if plain_interpreter:
            env["LD_PRELOAD"] = ASAN_RUNTIME + " libstdc++.so.6"
    for key, value in extra.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = value
    return env


def run(args, plain_interpreter=False, input=None, env=None, cwd=None, timeout=120):
    """Runs a child process and answers the completed process (texts decoded)."""
    return subprocess.run(args, input=input, capture_output=True, text=True, timeout=timeout,
                          env=env if env is not None else child_env(plain_interpreter),
                          cwd=cwd)


_DEFAULT_CONFIG = []


def default_config():
    """A settings file of this test process, so that runs never share the one beside the
    host (made on first use, removed when the process ends)."""
    if not _DEFAULT_CONFIG:
        folder = tempfile.mkdtemp(prefix="kvt_config_")
        atexit.register(shutil.rmtree, folder, True)
        _DEFAULT_CONFIG.append(os.path.join(folder, "kvthost.ini"))
    return _DEFAULT_CONFIG[0]


def kvthost(*args, host=KVTHOST, config="", **kw):
    """Runs kvthost with `args`. Unless the arguments name a settings file, it uses
    `config`, or when that is "" the test process's own one; config=None uses the host's
    default (kvthost.ini beside it)."""
    args = list(args)
    if config is not None and not any(a == "--config" or a.startswith("--config=") for a in args):
        args = ["--config", config or default_config()] + args
    return run([host] + args, **kw)


# Every table and column the module declares for the register, in declaration order.
REGISTER_COLUMNS = {
    "vodar": ["REGNOM", "G31_12D", "G31_12", "G31_12L", "DESCRIPTION", "F540IMG64",
              "F540IMGTYPE", "F540IMGMINI64", "F540IMGMINITYPE", "F540IMGMINIWIDTH",
              "F540IMGMINIHEIGHT", "F540IMGALT", "NOTE", "NPRAVO", "F111", "F190", "DPRAVO",
              "F151DATE", "F526", "F732SNA", "F740SNA", "F591", "F511", "F511TEXT", "G33TEXT",
              "DATEEND", "DATEEXCLUDE", "COMM", "LETTERSTEXT", "TRADEMARK"],
    "vodar_g33": ["REGNOM", "G33MIN", "G33MAX", "G33MIN10", "G33MAX10", "DATEEND"],
    "vodar_version": ["VERSION", "VERSION_TNVED", "VERSIONID_TNVED"],
    "omit1532": ["G33", "NPP", "G31_12", "NOTE", "DATEEND", "G33MIN10", "G33MAX10"],
}


def write_register(path, rows=None, version="1.0.0.1", skip=()):
    """Writes a register file with every declared table and column (as the sample register
    has them) and `rows`: {table: [{column: value}]}, missing columns NULL. `skip` names
    tables, or "table.COLUMN"s, to leave out (for files of the wrong shape)."""
    import sqlite3
    rows = dict(rows or {})
    rows.setdefault("vodar_version", [{"VERSION": version}])
    with sqlite3.connect(path) as db:
        for table, columns in REGISTER_COLUMNS.items():
            if table in skip:
                continue
            columns = [c for c in columns if table + "." + c not in skip]
            db.execute("CREATE TABLE %s (%s)" % (table, ", ".join(columns)))
            for row in rows.get(table, []):
                names = [c for c in columns if c in row]
                db.execute("INSERT INTO %s (%s) VALUES (%s)" %
                           (table, ", ".join(names), ", ".join("?" * len(names))),
                           [row[c] for c in names])
    db.close()
    return path


def python3(code, **kw):
    return run([PYTHON3, "-c", code], plain_interpreter=True, **kw)


def other_python3s():
    """CPython 3 interpreters besides the distribution's (pyenv), for the stable ABI."""
    found = []
    for root in sorted(set(glob.glob(os.path.expanduser("~/.pyenv/versions/3.*")) +
                           glob.glob("/root/.pyenv/versions/3.*"))):
        exe = os.path.join(root, "bin", "python3")
        if os.access(exe, os.X_OK):
            found.append(exe)
    return found


def folder_of(executable):
    """The folder of an executable as the module sees it: resolved, with a trailing "/"."""
    return os.path.dirname(os.path.realpath(executable)) + "/"


# Prints what the module set PYTHONHOME to (the process environment, not os.environ, which
# the interpreter copied before the module was loaded).
PRINT_PYTHONHOME = (
    "import ctypes\n"
    "libc = ctypes.CDLL(None)\n"
    "libc.getenv.restype = ctypes.c_char_p\n"
    "print('PYTHONHOME=' + (libc.getenv(b'PYTHONHOME') or b'').decode())\n")


class TestCase(unittest.TestCase):
    def assertClean(self, proc, code=0):
        """The process ended with `code` and no sanitizer reported anything."""
        for marker in SANITIZER_MARKERS:
            self.assertNotIn(marker, proc.stderr, proc.stderr)
        self.assertEqual(proc.returncode, code,
                         "exit code %d\nstdout:\n%s\nstderr:\n%s" %
                         (proc.returncode, proc.stdout, proc.stderr))

    def tempdir(self):
        d = tempfile.mkdtemp(prefix="kvt_")
        self.addCleanup(shutil.rmtree, d, True)
        return d


def main():
    unittest.main(verbosity=2)

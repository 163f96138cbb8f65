#include "host/cmdline.h"

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  size_t i = 0;
  // Options of the host come before the command.
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      cl.help = true;
    } else if (a == "--version") {
      cl.version = true;
    } else if (a == "--trace") {
      cl.trace = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError("unknown option '" + a + "'");
    } else {
      break;
    }
  }
  if (i == args.size()) {
    if (!cl.help && !cl.version) throw UsageError("no command given");
    return cl;
  }
  const std::string& command = args[i++];
  if (command == "python") {
    cl.command = HostCommand::Python;
    if (i < args.size()) {
      const std::string& a = args[i];
      if (a == "-c") {
        if (i + 1 >= args.size()) throw UsageError("python: -c needs the program text");
        cl.source = CommandLine::Source::Text;
        cl.program = args[i + 1];
        i += 2;
      } else if (a == "-") {
        ++i;
      } else if (a.size() > 1 && a[0] == '-') {
        throw UsageError("python: unknown option '" + a + "' (only -c TEXT is understood)");
      } else {
        cl.source = CommandLine::Source::File;
        cl.program = a;
        ++i;
      }
    }
    cl.args.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return cl;
  }
  throw UsageError("unknown command '" + command + "'");
}

std::vector<std::string> CommandLine::PythonArgv() const {
  std::vector<std::string> argv;
  switch (source) {
    case Source::Text:
      argv.push_back("-c");
      break;
    case Source::File:
      argv.push_back(program);
      break;
    case Source::Stdin:
      argv.push_back("-");
      break;
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::string UsageText() {
  return "Usage: kvthost [--trace] COMMAND [ARGS]\n"
         "\n"
         "The reference host of the dudoreri module: it embeds Python, serves the module\n"
         "and imports it, attached to this host.\n"
         "\n"
         "Commands:\n"
         "  python [-c TEXT | FILE | -] [ARG...]\n"
         "                 run Python inside the host, with the module attached; the program\n"
         "                 comes from TEXT, FILE or standard input\n"
         "\n"
         "Options:\n"
         "  --trace        write every call the module makes into the host to stderr\n"
         "  --help, -h     show this text\n"
         "  --version      show the host's version\n"
         "\n"
         "Exit codes: 0 success, 1 failure (for example the module cannot be imported),\n"
         "2 a command line that cannot be understood.\n";
}

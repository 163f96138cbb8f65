#include "host/cmdline.h"

#include <cstddef>

namespace {

// Takes a host option at args[i] (moving i past its value); false when args[i] is none.
bool TakeHostOption(const std::vector<std::string>& args, size_t& i, CommandLine& cl) {
  const std::string& a = args[i];
  auto value = [&](const char* option, std::string& target) {
    const std::string prefix = std::string(option) + "=";
    if (a.compare(0, prefix.size(), prefix) == 0) {
      target = a.substr(prefix.size());
    } else if (a == option) {
      if (i + 1 >= args.size()) throw UsageError(std::string(option) + " needs a file name");
      target = args[++i];
    } else {
      return false;
    }
    if (target.empty()) throw UsageError(std::string(option) + " needs a file name");
    return true;
  };
  if (a == "--trace") {
    cl.trace = true;
    return true;
  }
  return value("--db", cl.db) || value("--config", cl.config);
}

// python [OPTIONS] [-c TEXT | FILE | -] [ARG...]
void ParsePython(const std::vector<std::string>& args, size_t i, CommandLine& cl) {
  while (i < args.size() && TakeHostOption(args, i, cl)) ++i;
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
}

// A command that takes no arguments of its own, only host options.
void ParseNoArguments(const char* name, const std::vector<std::string>& args, size_t i,
                      CommandLine& cl) {
  for (; i < args.size(); ++i) {
    if (TakeHostOption(args, i, cl)) continue;
    const std::string& a = args[i];
    if (a.size() > 1 && a[0] == '-')
      throw UsageError(std::string(name) + ": unknown option '" + a + "'");
    throw UsageError(std::string(name) + ": unexpected argument '" + a + "'");
  }
}

// check [--json] [--raw] [--] CODE... | check [--json] [--raw] -
void ParseCheck(const std::vector<std::string>& args, size_t i, CommandLine& cl) {
  bool only_codes = false;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!only_codes) {
      if (a == "--") {
        only_codes = true;
        continue;
      }
      if (TakeHostOption(args, i, cl)) continue;
      if (a == "--json") {
        cl.json = true;
        continue;
      }
      if (a == "--raw") {
        cl.raw = true;
        continue;
      }
      if (a == "-") {
        cl.codes_from_stdin = true;
        continue;
      }
      if (a.size() > 1 && a[0] == '-') throw UsageError("check: unknown option '" + a + "'");
    }
    cl.codes.push_back(a);
  }
  if (cl.codes_from_stdin && !cl.codes.empty())
    throw UsageError("check: '-' reads the codes from standard input; give no codes with it");
  if (!cl.codes_from_stdin && cl.codes.empty())
    throw UsageError("check: no code given (give codes, or '-' to read them from standard input)");
  if (!cl.raw)
    for (const std::string& code : cl.codes)
      if (NormalizeCode(code).empty())
        throw UsageError("check: '" + code +
                         "' holds no code once blanks and dots are dropped (--raw asks about "
                         "the text as it is)");
}

// show [--raw] [--] CODE
void ParseShow(const std::vector<std::string>& args, size_t i, CommandLine& cl) {
  bool only_codes = false;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!only_codes) {
      if (a == "--") {
        only_codes = true;
        continue;
      }
      if (TakeHostOption(args, i, cl)) continue;
      if (a == "--raw") {
        cl.raw = true;
        continue;
      }
      if (a.size() > 1 && a[0] == '-') throw UsageError("show: unknown option '" + a + "'");
    }
    cl.codes.push_back(a);
  }
  if (cl.codes.size() != 1)
    throw UsageError(cl.codes.empty() ? "show: no code given" : "show: give exactly one code");
  if (!cl.raw && NormalizeCode(cl.codes[0]).empty())
    throw UsageError("show: '" + cl.codes[0] +
                     "' holds no code once blanks and dots are dropped (--raw shows the text "
                     "as it is)");
}

struct CommandEntry {
  const char* name;
  HostCommand command;
  const char* synopsis;
  const char* help;
  void (*parse)(const std::vector<std::string>& args, size_t next, CommandLine& cl);
};

// Every command of the host, in the order --help lists them.
const CommandEntry kCommands[] = {
    {"check", HostCommand::Check, "check [--json] [--raw] CODE... | -",
     "whether each commodity code concerns the register of intellectual-property\n"
     "objects in force or the order-1532 list: one line per code, CODE<TAB>yes|no,\n"
     "or with --json {\"code\": CODE, \"found\": true|false}; with '-' the codes\n"
     "come from standard input, one per line, each answered as it arrives.\n"
     "Blanks and dots are dropped from a code (\"8517 12 000 0\", \"8517.12\");\n"
     "--raw asks about each text as it is (an empty line then is the empty code)",
     ParseCheck},
    {"show", HostCommand::Show, "show [--raw] CODE",
     "the register's entries for a commodity code, as the host's package shows\n"
     "them",
     ParseShow},
    {"info", HostCommand::Info, "info",
     "the registered modules: name, caption, version, update setting and the\n"
     "version status each publishes",
     [](const std::vector<std::string>& a, size_t i, CommandLine& cl) {
       ParseNoArguments("info", a, i, cl);
     }},
    {"tables", HostCommand::Tables, "tables", "the registered tables with their fields and indexes",
     [](const std::vector<std::string>& a, size_t i, CommandLine& cl) {
       ParseNoArguments("tables", a, i, cl);
     }},
    {"python", HostCommand::Python, "python [-c TEXT | FILE | -] [ARG...]",
     "run Python inside the host, with the module attached; the program\n"
     "comes from TEXT, FILE or standard input",
     ParsePython},
};

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      cl.help = true;
    } else if (a == "--version") {
      cl.version = true;
    } else if (TakeHostOption(args, i, cl)) {
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
  for (const CommandEntry& entry : kCommands) {
    if (command == entry.name) {
      cl.command = entry.command;
      entry.parse(args, i, cl);
      return cl;
    }
  }
  throw UsageError("unknown command '" + command + "'");
}

std::string NormalizeCode(std::string_view text) {
  std::string code;
  code.reserve(text.size());
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '.') code.push_back(c);
  return code;
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
  std::string text =
      "Usage: kvthost [OPTIONS] COMMAND [ARGS]\n"
      "\n"
      "The reference host of the dudoreri module: it embeds Python, serves the module\n"
      "and imports it, attached to this host.\n"
      "\n"
      "Commands:\n";
  for (const CommandEntry& entry : kCommands) {
    text += "  " + std::string(entry.synopsis) + "\n";
    std::string help = entry.help;
    size_t start = 0;
    while (start <= help.size()) {
      size_t end = help.find('\n', start);
      if (end == std::string::npos) end = help.size();
      text += "                 " + help.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
  text +=
      "\n"
      "Options (before or after the command's name; for python, before its program):\n"
      "  --db FILE      use FILE as the database file of every database configured with\n"
      "                 driver SQLITE (such as the register's), for this run only: the\n"
      "                 setting \"sqlite.file\" is neither read nor changed\n"
      "  --config FILE  keep the settings in FILE instead of kvthost.ini beside the\n"
      "                 executable (made on the first change; the log kvthost.log lies\n"
      "                 beside it)\n"
      "  --trace        write every call the module makes into the host to stderr\n"
      "  --help, -h     show this text\n"
      "  --version      show the host's version\n"
      "\n"
      "Exit codes: 0 success, 1 failure (for example the module cannot be imported, or\n"
      "the register file is missing or not a register), 2 a command line that cannot be\n"
      "understood.\n"
      "\n"
      "Examples:\n"
      "  kvthost check 8517 \"8517 12 000 0\" 6403\n"
      "  kvthost check --json - < codes.txt\n"
      "  kvthost --db my-register.db3 show 8517120000\n";
  return text;
}

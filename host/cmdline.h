// The host's command line, parsed into what to do. The parser only reads its arguments:
// it prints nothing and never ends the process.
//
//   kvthost [OPTIONS] COMMAND [ARGS]      OPTIONS may also follow the command's name
//   kvthost --help | --version
//
// Options: --trace, --db FILE, --config FILE (also written --db=FILE, --config=FILE).
// The commands are listed in one table (cmdline.cpp); each entry names its command, its
// synopsis and help, and how its arguments are read.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be understood; the message says why (exit code 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class HostCommand {
  None,    // only --help or --version
  Python,  // run Python inside the host, the module attached
  Info,    // the registered modules
  Tables,  // the registered tables
};

struct CommandLine {
  bool help = false;
  bool version = false;
  bool trace = false;
  // --db FILE: the register database for this run ("" none).
  std::string db;
  // --config FILE: the settings file ("" means kvthost.ini beside the executable).
  std::string config;
  HostCommand command = HostCommand::None;

  // python: the program comes from -c TEXT, from FILE, or from standard input ("-" or
  // nothing); `args` follow it into sys.argv unchanged.
  enum class Source { Stdin, Text, File } source = Source::Stdin;
  std::string program;  // TEXT or FILE
  std::vector<std::string> args;

  // sys.argv as Python sees it: ["-c", ARG...], [FILE, ARG...] or ["-", ARG...].
  std::vector<std::string> PythonArgv() const;
};

// Parses the arguments after the program name; raises UsageError.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string UsageText();

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
#include <string_view>
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
  Check,   // ask the register manager about commodity codes
  Show,    // have the host's package show the register entries for a code
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

  // check and show: the codes as the user gave them; check with "-" reads them from
  // standard input instead (one per line). --raw asks about each text unchanged, otherwise
  // blanks and dots are dropped first (NormalizeCode). --json (check) answers in JSON lines.
  std::vector<std::string> codes;
  bool codes_from_stdin = false;
  bool raw = false;
  bool json = false;

  // sys.argv as Python sees it: ["-c", ARG...], [FILE, ARG...] or ["-", ARG...].
  std::vector<std::string> PythonArgv() const;
};

// Parses the arguments after the program name; raises UsageError.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// A commodity code as people write it ("8517 12 000 0", "8517.12") as the module takes it:
// blanks, tabs and dots dropped.
std::string NormalizeCode(std::string_view text);

// The --help text.
std::string UsageText();

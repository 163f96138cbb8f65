// The host's command line, parsed into what to do. The parser only reads its arguments:
// it prints nothing and never ends the process.
//
//   kvthost [--trace] python [-c TEXT | FILE | -] [ARG...]
//   kvthost --help | --version
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
};

struct CommandLine {
  bool help = false;
  bool version = false;
  bool trace = false;
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

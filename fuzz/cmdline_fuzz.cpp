// The host's command line: arguments split from the input at zero bytes.
//
// Holds: the parser answers a command line or raises UsageError with a message, nothing
// else; a command line without a command asks for help or the version; a file option that
// was given names a file; the Python program's argv starts with where the program comes
// from; check and show have codes to ask about (show exactly one), each of which is one of
// the arguments and still holds a code once normalised (unless --raw); NormalizeCode drops
// the blanks, tabs and dots and nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "host/cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  size_t start = 0;
  while (start < text.size() && args.size() < 64) {
    size_t end = text.find('\0', start);
    if (end == std::string_view::npos) end = text.size();
    args.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }

  CommandLine cl;
  try {
    cl = ParseCommandLine(args);
  } catch (const UsageError& e) {
    FUZZ_CHECK(std::string_view(e.what()).size() > 0);
    return 0;
  }
  if (cl.command == HostCommand::None) FUZZ_CHECK(cl.help || cl.version);
  bool db_given = false, config_given = false;
  for (const std::string& a : args) {
    db_given |= a == "--db" || a.rfind("--db=", 0) == 0;
    config_given |= a == "--config" || a.rfind("--config=", 0) == 0;
  }
  if (!db_given) FUZZ_CHECK(cl.db.empty());
  if (!config_given) FUZZ_CHECK(cl.config.empty());
  if (cl.command == HostCommand::Check || cl.command == HostCommand::Show) {
    FUZZ_CHECK(cl.codes_from_stdin ? cl.codes.empty() : !cl.codes.empty());
    if (cl.command == HostCommand::Show) FUZZ_CHECK(cl.codes.size() == 1 && !cl.codes_from_stdin);
    for (const std::string& code : cl.codes) {
      FUZZ_CHECK(std::find(args.begin(), args.end(), code) != args.end());
      if (!cl.raw) FUZZ_CHECK(!NormalizeCode(code).empty());
    }
  }
  for (const std::string& a : args) {
    const std::string normal = NormalizeCode(a);
    FUZZ_CHECK(normal.find_first_of(" \t.") == std::string::npos);
    FUZZ_CHECK(normal.size() + static_cast<size_t>(std::count_if(
                                   a.begin(), a.end(),
                                   [](char c) { return c == ' ' || c == '\t' || c == '.'; })) ==
               a.size());
  }
  if (cl.command == HostCommand::Python) {
    const std::vector<std::string> argv = cl.PythonArgv();
    FUZZ_CHECK(argv.size() == cl.args.size() + 1);
    switch (cl.source) {
      case CommandLine::Source::Text:
        FUZZ_CHECK(argv[0] == "-c");
        break;
      case CommandLine::Source::File:
        FUZZ_CHECK(argv[0] == cl.program);
        break;
      case CommandLine::Source::Stdin:
        FUZZ_CHECK(argv[0] == "-");
        break;
    }
  }
  return 0;
}

#include "host/cmdline.h"

#include <gtest/gtest.h>

namespace {

TEST(HostCommandLine, OptionsGoBeforeOrAfterTheCommandsName) {
  struct Case {
    std::vector<std::string> args;
    HostCommand command;
    std::string db, config;
    bool trace;
    std::vector<std::string> python_argv;  // for python
  };
  const Case cases[] = {
      {{"info"}, HostCommand::Info, "", "", false, {}},
      {{"--db", "a.db3", "info"}, HostCommand::Info, "a.db3", "", false, {}},
      {{"info", "--db", "a.db3", "--trace"}, HostCommand::Info, "a.db3", "", true, {}},
      {{"--config=k.ini", "tables", "--db=b.db3"},
       HostCommand::Tables,
       "b.db3",
       "k.ini",
       false,
       {}},
      {{"python", "--db", "a", "-c", "x", "--db", "b"},
       HostCommand::Python,
       "a",
       "",
       false,
       {"-c", "--db", "b"}},
      {{"--trace", "python", "prog.py", "--config", "c"},
       HostCommand::Python,
       "",
       "",
       true,
       {"prog.py", "--config", "c"}},
      {{"python"}, HostCommand::Python, "", "", false, {"-"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.command, c.command);
    EXPECT_EQ(cl.db, c.db);
    EXPECT_EQ(cl.config, c.config);
    EXPECT_EQ(cl.trace, c.trace);
    if (c.command == HostCommand::Python) {
      EXPECT_EQ(cl.PythonArgv(), c.python_argv);
    }
  }
}

TEST(HostCommandLine, CheckAndShowTakeCodesAsGiven) {
  struct Case {
    std::vector<std::string> args;
    HostCommand command;
    std::vector<std::string> codes;
    bool from_stdin, raw, json;
    std::string db;
  };
  const Case cases[] = {
      {{"check", "8517", "8517 12 000 0"},
       HostCommand::Check,
       {"8517", "8517 12 000 0"},
       false,
       false,
       false,
       ""},
      {{"check", "--json", "-", "--db", "r.db3"},
       HostCommand::Check,
       {},
       true,
       false,
       true,
       "r.db3"},
      {{"--raw", "check"}, HostCommand::None, {}, false, false, false, ""},  // not an option
      {{"check", "--raw", "", "  "}, HostCommand::Check, {"", "  "}, false, true, false, ""},
      {{"check", "--", "-", "--json"},
       HostCommand::Check,
       {"-", "--json"},
       false,
       false,
       false,
       ""},
      {{"show", "--raw", "8517.12"}, HostCommand::Show, {"8517.12"}, false, true, false, ""},
      {{"show", "8517", "--db=x"}, HostCommand::Show, {"8517"}, false, false, false, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    if (c.command == HostCommand::None) {
      EXPECT_THROW(ParseCommandLine(c.args), UsageError);
      continue;
    }
    CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.command, c.command);
    EXPECT_EQ(cl.codes, c.codes);
    EXPECT_EQ(cl.codes_from_stdin, c.from_stdin);
    EXPECT_EQ(cl.raw, c.raw);
    EXPECT_EQ(cl.json, c.json);
    EXPECT_EQ(cl.db, c.db);
  }
  EXPECT_EQ(NormalizeCode(" 8517 12.000\t0. "), "8517120000");
  EXPECT_EQ(NormalizeCode("8517' OR 1=1"), "8517'OR1=1");
}

TEST(HostCommandLine, WhatCannotBeUnderstoodSaysWhy) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "no command given"},
      {{"--db"}, "--db needs a file name"},
      {{"--db="}, "--db needs a file name"},
      {{"info", "x"}, "info: unexpected argument 'x'"},
      {{"tables", "-q"}, "tables: unknown option '-q'"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"check"}, "check: no code given (give codes, or '-' to read them from standard input)"},
      {{"check", "-", "8517"},
       "check: '-' reads the codes from standard input; give no codes with it"},
      {{"check", "--xml", "8517"}, "check: unknown option '--xml'"},
      {{"check", "8517", " . "},
       "check: ' . ' holds no code once blanks and dots are dropped (--raw asks about the text "
       "as it is)"},
      {{"show"}, "show: no code given"},
      {{"show", "8517", "6403"}, "show: give exactly one code"},
      {{"show", "--json", "8517"}, "show: unknown option '--json'"},
      {{"show", ""},
       "show: '' holds no code once blanks and dots are dropped (--raw shows the text as it is)"},
      {{"--nope", "info"}, "unknown option '--nope'"},
      {{"python", "-c"}, "python: -c needs the program text"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    try {
      ParseCommandLine(args);
      ADD_FAILURE() << "no error";
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

}  // namespace

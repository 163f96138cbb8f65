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

TEST(HostCommandLine, WhatCannotBeUnderstoodSaysWhy) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "no command given"},
      {{"--db"}, "--db needs a file name"},
      {{"--db="}, "--db needs a file name"},
      {{"info", "x"}, "info: unexpected argument 'x'"},
      {{"tables", "-q"}, "tables: unknown option '-q'"},
      {{"check"}, "unknown command 'check'"},
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

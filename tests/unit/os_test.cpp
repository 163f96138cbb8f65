// Operating-system services: the executable, its exports, the environment, folders.
#include "platform/os/os.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

extern char** environ;

// Exported by this test program (its CMake target exports its symbols), as the host
// exports Server_QueryInterface.
extern "C" __attribute__((visibility("default"), used)) int KvtOsTestExport() {
  return 7;
}

namespace {

TEST(Os, TheExecutableFolderEndsWithASlash) {
  std::string path = ExecutablePath();
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(path.rfind(folder, 0), 0u) << "the folder is a prefix of the path";
  EXPECT_EQ(path.substr(folder.size()), "os_test");
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(DirectoryExists(folder));
}

TEST(Os, FindsOnlyTheMainProgramsOwnExports) {
  EXPECT_EQ(FindMainProgramSymbol("KvtOsTestExport"), reinterpret_cast<void*>(&KvtOsTestExport));
  EXPECT_EQ(FindMainProgramSymbol("NoSuchSymbolAnywhere"), nullptr);
  EXPECT_EQ(FindMainProgramSymbol("dlopen"), nullptr) << "a library's export does not count";
  EXPECT_EQ(FindMainProgramSymbol(nullptr), nullptr);
}

// Run in a child started with a bare program name as argv[0], as a shell starts a program
// it found through PATH: the lookup must not depend on argv[0] being a path.
TEST(Os, FindsExportsWhateverTheProgramWasCalled) {
  if (getenv("KVT_OS_TEST_CHILD") != nullptr) {
    EXPECT_NE(FindMainProgramSymbol("KvtOsTestExport"), nullptr);
    return;
  }
  std::string exe = ExecutablePath();
  std::string filter = "--gtest_filter=Os.FindsExportsWhateverTheProgramWasCalled";
  char name[] = "renamed-os-test";
  char* argv[] = {name, filter.data(), nullptr};
  ASSERT_EQ(setenv("KVT_OS_TEST_CHILD", "1", 1), 0);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ);
  unsetenv("KVT_OS_TEST_CHILD");
  ASSERT_EQ(rc, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child did not find the export";
}

TEST(Os, SetsEnvironmentVariables) {
  ASSERT_TRUE(SetEnvironmentVariable("KVT_OS_TEST_VALUE", "/opt/app/"));
  EXPECT_STREQ(getenv("KVT_OS_TEST_VALUE"), "/opt/app/");
  ASSERT_TRUE(SetEnvironmentVariable("KVT_OS_TEST_VALUE", ""));
  EXPECT_STREQ(getenv("KVT_OS_TEST_VALUE"), "");
  EXPECT_FALSE(SetEnvironmentVariable("BAD=NAME", "x"));
  unsetenv("KVT_OS_TEST_VALUE");
}

class Folders : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvt-os-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override {
    if (!root_.empty()) std::system(("rm -rf '" + root_ + "'").c_str());
  }
  std::string root_;
};

TEST_F(Folders, ForceDirectoriesCreatesNestedFolders) {
  std::string deep = root_ + "/a/b/c";
  EXPECT_FALSE(DirectoryExists(deep));
  ASSERT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(root_ + "/a/b"));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep)) << "an existing folder is fine";
  EXPECT_TRUE(ForceDirectories(root_ + "/x/y/"));
  EXPECT_TRUE(DirectoryExists(root_ + "/x/y"));
  EXPECT_FALSE(ForceDirectories(""));

  std::string file = root_ + "/a/file.txt";
  std::ofstream(file) << "x";
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(root_ + "/a")) << "a folder is not a file";
  EXPECT_FALSE(FileExists(root_ + "/missing"));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_FALSE(ForceDirectories(file + "/below")) << "a file stands in the way";
}

}  // namespace

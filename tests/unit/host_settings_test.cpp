#include "host/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/fakes/temp_sqlite.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

size_t FilesIn(const std::string& folder) {
  size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST(HostSettings, ValuesRoundTripThroughTheFileWhateverTheirCharacters) {
  TempFolder dir;
  const std::string ini = dir.File("kvthost.ini");
  struct Case {
    const char* path;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {"Настройки\\Обновление\\Обновлять", "VODAR", "Да"},
      {"Section ] with bracket", "key = with equals", " value with blanks "},
      {"percent%", "%41", "100% \t tab"},
      {"lines", "multi\nline key", "first\nsecond\r\nthird"},
      {"Databases", "looks like the database list", "but is a key path"},
      {"Database:X", "looks like a database", "but is a key path"},
      {"Config:Y", ";comment-like", "#value"},
      {"", "empty section", ""},
  };
  {
    auto settings = MakeObject<THostSettings>(ini);
    for (const Case& c : cases) EXPECT_TRUE(settings->WriteConfig(c.path, c.name, c.value));
  }
  auto again = MakeObject<THostSettings>(ini);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(again->ReadConfig(c.path, c.name).value_or("<none>"), c.value);
  }
  // The key paths that look like database sections did not become databases.
  EXPECT_TRUE(again->DatabaseNames().empty());
  // Through IKVTConfig, with the default for what is not stored.
  EXPECT_EQ(again->ReadValue(u"Настройки\\Обновление\\Обновлять", u"VODAR", u"Нет"), u"Да");
  EXPECT_EQ(again->ReadValue(u"Настройки\\Обновление\\Обновлять", u"OTHER", u"Нет"), u"Нет");
}

TEST(HostSettings, TheFileIsWrittenOnlyWhenAValueChangesAndReplacedWhole) {
  TempFolder dir;
  const std::string ini = dir.File("kvthost.ini");
  auto settings = MakeObject<THostSettings>(ini);
  EXPECT_EQ(settings->ReadValue(u"a", u"b", u"default"), u"default");
  EXPECT_FALSE(std::filesystem::exists(ini)) << "reading creates nothing";

  ASSERT_EQ(settings->WriteValue(u"a", u"b", u"1"), S_OK);
  ASSERT_TRUE(std::filesystem::exists(ini));
  const ino_t first = Inode(ini);
  ASSERT_EQ(settings->WriteValue(u"a", u"b", u"1"), S_OK);
  EXPECT_EQ(Inode(ini), first) << "an unchanged value must not rewrite the file";
  ASSERT_EQ(settings->WriteValue(u"a", u"b", u"2"), S_OK);
  EXPECT_NE(Inode(ini), first) << "a change replaces the file by rename";
  EXPECT_EQ(FilesIn(dir.Path()), 1u) << "no temporary file is left behind";
}

TEST(HostSettings, AWriteKeepsWhatAnotherProcessWroteMeanwhile) {
  TempFolder dir;
  const std::string ini = dir.File("kvthost.ini");
  auto one = MakeObject<THostSettings>(ini);
  auto two = MakeObject<THostSettings>(ini);
  ASSERT_TRUE(one->WriteConfig("s", "from one", "1"));
  ASSERT_TRUE(two->WriteConfig("s", "from two", "2"));
  ASSERT_TRUE(one->WriteConfig("s", "again one", "3"));
  auto reader = MakeObject<THostSettings>(ini);
  EXPECT_EQ(reader->ReadConfig("s", "from one").value_or(""), "1");
  EXPECT_EQ(reader->ReadConfig("s", "from two").value_or(""), "2");
  EXPECT_EQ(reader->ReadConfig("s", "again one").value_or(""), "3");
}

TEST(HostSettings, CommentsAndUnknownLinesSurviveAWrite) {
  TempFolder dir;
  const std::string ini = dir.File("kvthost.ini");
  WriteBytes(ini, "; made by hand\n[s]\n# keep me\nkey = value\nnot a value line\n");
  auto settings = MakeObject<THostSettings>(ini);
  EXPECT_EQ(settings->ReadConfig("s", "key").value_or(""), "value");
  ASSERT_TRUE(settings->WriteConfig("s", "other", "x"));
  const std::string text = ReadAll(ini);
  for (const char* kept :
       {"; made by hand", "# keep me", "not a value line", "key=value", "other=x"})
    EXPECT_NE(text.find(kept), std::string::npos) << kept << "\n" << text;
}

TEST(HostSettings, AnUnwritableFileKeepsTheValueForThisRun) {
  TempFolder dir;
  const std::string ini = dir.File("no-such-folder/kvthost.ini");
  auto settings = MakeObject<THostSettings>(ini);
  testing::internal::CaptureStderr();
  EXPECT_EQ(settings->WriteValue(u"a", u"b", u"1"), E_FAIL);
  EXPECT_EQ(settings->WriteValue(u"a", u"c", u"2"), E_FAIL);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("the settings cannot be saved"), std::string::npos) << err;
  EXPECT_EQ(err.find("saved", err.find("saved") + 1), std::string::npos) << "reported once";
  EXPECT_EQ(settings->ReadValue(u"a", u"b", u""), u"1");
}

TEST(HostSettings, DatabaseConfigurationKeepsDriverAndParametersPerDatabase) {
  TempFolder dir;
  const std::string ini = dir.File("kvthost.ini");
  {
    auto s = MakeObject<THostSettings>(ini);
    ComPtr<IKVTDatabaseConfig> config(s.Get());
    EXPECT_EQ(config->SetDriver(u"ТРОИС", u"SQLITE"), S_OK);
    EXPECT_EQ(config->SetParam(u"ТРОИС", u"sqlite.file", u"/x/db3/vodar.db3"), S_OK);
    EXPECT_EQ(config->SetParam(u"ТРОИС", u"readonly", u"Да"), S_OK);
    EXPECT_EQ(config->SetParam(u"other", u"sqlite.file", u"/y.db3"), S_OK);  // adds "other"
    EXPECT_EQ(config->AddDatabase(u"third"), S_OK);
    EXPECT_EQ(config->SetDriver(u"", u"SQLITE"), E_INVALIDARG);
  }
  auto s = MakeObject<THostSettings>(ini);
  ComPtr<IKVTDatabaseConfig> config(s.Get());
  ASSERT_EQ(config->GetDatabaseCount(), 3);
  EXPECT_EQ(config->GetDatabaseName(0), u"ТРОИС");
  EXPECT_EQ(config->GetDatabaseName(2), u"third");
  EXPECT_EQ(config->GetDatabaseName(3), u"");
  EXPECT_EQ(config->GetDriver(u"ТРОИС"), u"SQLITE");
  EXPECT_EQ(config->GetDriver(u"other"), u"");
  EXPECT_EQ(config->GetParam(u"ТРОИС", u"sqlite.file"), u"/x/db3/vodar.db3");
  EXPECT_EQ(config->GetParam(u"ТРОИС", u"nothing"), u"");
  auto db = s->Database("ТРОИС");
  ASSERT_TRUE(db);
  EXPECT_EQ(db->driver, "SQLITE");
  EXPECT_EQ(db->file, "/x/db3/vodar.db3");
  EXPECT_TRUE(db->readonly);
  EXPECT_FALSE(s->Database("unknown"));

  EXPECT_EQ(config->RemoveDatabase(u"other"), S_OK);
  EXPECT_EQ(config->RemoveDatabase(u"other"), S_FALSE);
  EXPECT_EQ(config->GetParam(u"other", u"sqlite.file"), u"");
  EXPECT_EQ(config->GetDatabaseCount(), 2);
}

TEST(HostSettings, TheDbOverrideServesEverySqliteDatabaseAndOutlivesItsConfiguration) {
  TempFolder dir;
  auto s = MakeObject<THostSettings>(dir.File("kvthost.ini"));
  s->SetDatabaseDriver("ТРОИС", "SQLITE");
  s->SetDatabaseParam("ТРОИС", "sqlite.file", "/stored.db3");
  s->SetDatabaseDriver("odbc", "ODBC");
  s->SetDatabaseParam("odbc", "sqlite.file", "/odbc-stays.db3");
  const uint64_t before = s->DatabaseGeneration();
  s->SetSqliteFileOverride("/override.db3");
  EXPECT_NE(s->DatabaseGeneration(), before);
  EXPECT_EQ(s->DatabaseParam("ТРОИС", "sqlite.file"), "/override.db3");
  EXPECT_EQ(s->DatabaseParam("odbc", "sqlite.file"), "/odbc-stays.db3");
  // The module configures its storage at start-up: the override still wins, and the
  // stored value is what the module wrote.
  EXPECT_EQ(s->SetParam(u"ТРОИС", u"sqlite.file", u"/from-module.db3"), S_OK);
  EXPECT_EQ(s->GetParam(u"ТРОИС", u"sqlite.file"), u"/override.db3");
  EXPECT_EQ(s->Database("ТРОИС")->file, "/override.db3");
  auto fresh = MakeObject<THostSettings>(dir.File("kvthost.ini"));
  EXPECT_EQ(fresh->DatabaseParam("ТРОИС", "sqlite.file"), "/from-module.db3");
}

TEST(HostSettings, ReadonlySettingWords) {
  const std::pair<const char*, bool> cases[] = {
      {"Да", true}, {"да", true},   {" ДА ", true}, {"yes", true}, {"TRUE", true},
      {"1", true},  {"Нет", false}, {"", false},    {"0", false},  {"Данет", false},
  };
  for (auto [text, readonly] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(IsReadonlySetting(text), readonly);
  }
}

TEST(HostSettings, DocumentsReadBackEqualToWhatWasWritten) {
  IniDocument doc;
  doc.Set("a", "k", "v");
  doc.Set("b", " k ", " v ");
  doc.Set("a", "k2", "v2");
  doc.Remove("b", " k ");
  EXPECT_EQ(IniDocument::Parse(doc.Serialize()), doc);
  EXPECT_EQ(doc.Keys("a"), (std::vector<std::string>{"k", "k2"}));
}

}  // namespace

#include "moduleinfo/kvt_ModuleInfoImpl.h"

#include <gtest/gtest.h>

#include "dataaccess/kvt_event.h"
#include "moduleinfo/kvt_ModuleList.h"
#include "tests/fakes/fake_host.h"

namespace {

std::string U8(const WideString& w) {
  return w.ToUtf8();
}
WideString W(std::string_view s) {
  return WideString::FromUtf8(s);
}

// A module description whose answers a test sets; it records the order of its getters.
class TestInfo : public TBASEInfo {
 public:
  WideString GetName() override { return W(name); }
  WideString GetCaption() override {
    asked.push_back("caption");
    return W(caption);
  }
  WideString GetVersion() override {
    asked.push_back("version");
    return W(version);
  }
  bool GetUpdateDefault() override { return update_default; }

  std::string name = "TESTMOD", caption = "Тестовый модуль", version = "2022.5.1.3";
  bool update_default = true;
  std::vector<std::string> asked;
};

class ModuleInfoTest : public testing::Test {
 protected:
  void TearDown() override {
    HostServer = nullptr;
    host_->ReleaseAll();
    host_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_);
  }
  // Makes the host's server the module's HostServer.
  void Attach() { HostServer = host_->Server(); }

  int64_t live_ = InterfacedObject::LiveObjects();
  ComPtr<FakeHost> host_ = MakeObject<FakeHost>();
};

// --- version texts ---------------------------------------------------------------

struct FormatCase {
  const char* version;
  const char* expected;
};

constexpr FormatCase kFormatCases[] = {
    {"1.0.22.5", "22.05"},
    {"", "00.00"},
    {"1.2", "00.00"},
    {"1.2.3", "03.00"},
    {"1.2.3.4.5", "03.04"},      // parts after the fourth are ignored
    {"1.2.70000.4", "4464.04"},  // only the low 16 bits of a part
    {"1.2.65536.65535", "00.65535"},
    {"1.2.x.4", "00.04"},  // not a number: 0
    {"1.2.3a.4", "00.04"},
    {"1.2.3 .4", "00.04"},     // a trailing blank spoils the piece
    {" 1. 2. 3. 4", "03.04"},  // leading blanks are allowed
    {"1.2.-1.4", "65535.04"},
    {"1.2.$10.0x1F", "16.31"},  // hexadecimal pieces
    {"1.2.X1a.4", "26.04"},
    {"1.2.99999999999.4", "00.04"},  // outside 32 bits: 0
    {"2022.5.1.3", "01.03"},
    {"Версия не установлена", "00.00"},
};

TEST(VersionText, FormatVersionShowsThirdAndFourthPart) {
  auto info = MakeObject<TModuleInfo>();
  for (const auto& c : kFormatCases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(U8(info->FormatVersion(W(c.version))), c.expected);
  }
}

TEST(VersionText, ParseVersionPacksSixteenBitsPerPart) {
  EXPECT_EQ(ParseVersion("1.2.3.4"), 0x0001000200030004u);
  EXPECT_EQ(ParseVersion("65535.65536.1"), 0xFFFF000000010000u);
  EXPECT_EQ(ParseVersion(""), 0u);
  EXPECT_EQ(FormatVersionPair(0x0000000012345678u), "4660.22136");
}

struct ShortCase {
  const char* text;
  const char* expected;
};

constexpr ShortCase kShortCases[] = {
    {"2023.1.15.7", "15.7"},
    {"1.2.3.4.", "3.4"},  // a dot at the end adds no part
    {" 1 . 2 . 3 . 4 ", "3.4"},
    {"1.2.03.004", "03.004"},  // unpadded, as written
    {"1.2.3", "1.2.3"},
    {"1.2.3.4.5", "1.2.3.4.5"},
    {"1.2..4", ".4"},  // an empty third part
    {"", ""},
    {"1.0.0.0", "0.0"},
    {"Версия не установлена", "Версия не установлена"},
    {"a.b.в.г", "в.г"},
};

TEST(VersionText, ShortVersionKeepsTheLastTwoOfFourParts) {
  for (const auto& c : kShortCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(U8(ShortVersion(W(c.text))), c.expected);
  }
  // A zero character ends the text, as in the splitting routine.
  EXPECT_EQ(ShortVersion(WideString(std::u16string(u"1.2.3.4\0.5.6", 11))).str(), u"3.4");
}

// --- the object ------------------------------------------------------------------

TEST_F(ModuleInfoTest, AnswersAllSixInterfacesWithOneObject) {
  auto info = MakeObject<TModuleInfo>();
  ComPtr<IModuleInfo> as_info(info.Get());
  IUnknown* self = info.TryAs<IUnknown>().Get();
  EXPECT_EQ(as_info.TryAs<IUnknown>().Get(), self);
  EXPECT_EQ(as_info.TryAs<IModuleVersionFormat>().TryAs<IUnknown>().Get(), self);
  EXPECT_EQ(as_info.TryAs<IModuleMark>().TryAs<IUnknown>().Get(), self);
  EXPECT_EQ(as_info.TryAs<IModuleUpdateSetting>().TryAs<IUnknown>().Get(), self);
  EXPECT_EQ(as_info.TryAs<IModuleOptionA>().TryAs<IUnknown>().Get(), self);
  EXPECT_EQ(as_info.TryAs<IModuleOptionB>().TryAs<IUnknown>().Get(), self);
  EXPECT_FALSE(as_info.TryAs<IModuleInfoList>());
}

TEST_F(ModuleInfoTest, BaseAnswersAndMark) {
  auto info = MakeObject<TModuleInfo>();
  EXPECT_TRUE(info->GetName().empty());
  EXPECT_TRUE(info->GetCaption().empty());
  EXPECT_TRUE(info->GetVersion().empty());
  EXPECT_TRUE(info->GetUpdateDefault());
  EXPECT_EQ(info->PublishVersionStatus(5), E_NOTIMPL);

  auto options_a = ComPtr<IModuleInfo>(info.Get()).As<IModuleOptionA>();
  auto options_b = options_a.As<IModuleOptionB>();
  options_a->SetOptionA(false);
  options_b->SetOptionB(false);
  EXPECT_TRUE(options_a->GetOptionA());
  EXPECT_TRUE(options_b->GetOptionB());

  auto mark = options_a.As<IModuleMark>();
  EXPECT_FALSE(mark->GetMark());
  mark->SetMark(true);
  EXPECT_TRUE(mark->GetMark());
  mark->SetMark(false);
  EXPECT_FALSE(mark->GetMark());
}

TEST_F(ModuleInfoTest, EndOfConstructionAddsToTheHostListThenTakesTheConfiguration) {
  Attach();
  auto info = MakeObject<TestInfo>();
  EXPECT_EQ(host_->calls, std::vector<std::string>{"ModuleList.Add"});
  ASSERT_EQ(host_->module_list.size(), 1u);
  EXPECT_EQ(host_->module_list[0].Get(), static_cast<IModuleInfo*>(info.Get()));
  EXPECT_TRUE(host_->registered_modules.empty()) << "only a concrete module registers itself";
  EXPECT_EQ(info->Config().Get(), static_cast<IKVTConfig*>(host_.Get()));
}

TEST_F(ModuleInfoTest, EachMissingHostServiceIsSkipped) {
  {
    SCOPED_TRACE("no list");
    host_->Offer<IModuleInfoList>(false);
    Attach();
    auto info = MakeObject<TestInfo>();
    EXPECT_TRUE(host_->module_list.empty());
    EXPECT_TRUE(info->Config());
  }
  {
    SCOPED_TRACE("no configuration");
    host_->Offer<IModuleInfoList>(true);
    host_->Offer<IKVTConfig>(false);
    auto info = MakeObject<TestInfo>();
    EXPECT_EQ(host_->module_list.size(), 1u);
    EXPECT_FALSE(info->Config());
    EXPECT_FALSE(info->GetUpdate());
    info->SetUpdate(true);
    EXPECT_TRUE(host_->config.empty());
  }
  {
    SCOPED_TRACE("no host");
    HostServer = nullptr;
    host_->calls.clear();
    auto info = MakeObject<TestInfo>();
    EXPECT_FALSE(info->Config());
    EXPECT_FALSE(info->GetUpdate());
    EXPECT_EQ(info->PublishVersionStatus(0), S_OK);
    EXPECT_FALSE(RegisterModuleInfo(info.Get()));
    EXPECT_TRUE(host_->calls.empty());
  }
}

TEST_F(ModuleInfoTest, RegisterModuleInfoHandsTheObjectToTheRegistrar) {
  Attach();
  auto info = MakeObject<TestInfo>();
  EXPECT_TRUE(RegisterModuleInfo(info.Get()));
  ASSERT_EQ(host_->registered_modules.size(), 1u);
  EXPECT_EQ(host_->registered_modules[0].Get(), static_cast<IModuleInfo*>(info.Get()));

  host_->Offer<IModuleRegistrar>(false);
  EXPECT_FALSE(RegisterModuleInfo(info.Get()));
  EXPECT_EQ(host_->registered_modules.size(), 1u);
}

// --- the update setting ----------------------------------------------------------

TEST_F(ModuleInfoTest, UpdateSettingReadsOnlyExactlyNetAsFalse) {
  Attach();
  auto info = MakeObject<TestInfo>();
  const std::pair<std::u16string, std::u16string> key{TModuleInfo::kUpdateKey, u"TESTMOD"};
  EXPECT_TRUE(info->GetUpdate()) << "nothing stored: the default Да";

  struct Case {
    const char* stored;
    bool expected;
  };
  constexpr Case kCases[] = {{"Нет", false}, {"нет", true}, {"НЕТ", true}, {"Нет ", true},
                             {"Да", true},   {"", true},    {"0", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stored);
    host_->config[key] = W(c.stored);
    EXPECT_EQ(info->GetUpdate(), c.expected);
  }
  EXPECT_EQ(host_->calls.back(), "ReadValue Настройки\\Обновление\\Обновлять TESTMOD");
}

TEST_F(ModuleInfoTest, UpdateDefaultNoReadsFalseWhenNothingIsStored) {
  Attach();
  auto info = MakeObject<TestInfo>();
  info->update_default = false;
  EXPECT_FALSE(info->GetUpdate());
}

TEST_F(ModuleInfoTest, SetUpdateWritesDaOrNetUnderTheModuleName) {
  Attach();
  auto info = MakeObject<TestInfo>();
  info->SetUpdate(false);
  EXPECT_EQ(host_->calls.back(), "WriteValue Настройки\\Обновление\\Обновлять TESTMOD Нет");
  EXPECT_FALSE(info->GetUpdate());
  info->SetUpdate(true);
  EXPECT_EQ(host_->calls.back(), "WriteValue Настройки\\Обновление\\Обновлять TESTMOD Да");
  EXPECT_TRUE(info->GetUpdate());

  info->name = "OTHER";  // the value name follows GetName on every call
  EXPECT_TRUE(info->GetUpdate());
  info->SetUpdate(false);
  EXPECT_EQ(host_->config.size(), 2u);
}

// --- the version status ----------------------------------------------------------

TEST_F(ModuleInfoTest, PublishesCaptionAndShortVersionWithTheCallersParam) {
  Attach();
  auto info = MakeObject<TestInfo>();
  EXPECT_EQ(info->PublishVersionStatus(77), S_OK);
  EXPECT_EQ(host_->calls.back(), "GetItem TESTMOD");
  auto& item = host_->status_items[u"TESTMOD"];
  ASSERT_TRUE(item);
  ASSERT_EQ(item->texts.size(), 1u);
  EXPECT_EQ(U8(item->texts[0]), "Тестовый модуль: 1.3");
  EXPECT_EQ(item->params, std::vector<int32_t>{77});
  EXPECT_EQ(info->asked, (std::vector<std::string>{"caption", "version"}));
}

TEST_F(ModuleInfoTest, NothingIsPublishedWhenTheHostRefuses) {
  Attach();
  auto info = MakeObject<TestInfo>();
  host_->status_item_result = S_FALSE;
  EXPECT_EQ(info->PublishVersionStatus(1), S_OK);
  host_->status_item_result = E_FAIL;
  EXPECT_EQ(info->PublishVersionStatus(1), S_OK);
  EXPECT_TRUE(host_->status_items.empty());
  EXPECT_TRUE(info->asked.empty()) << "neither caption nor version is asked for";

  host_->Offer<IVersionStatusService>(false);
  host_->calls.clear();
  EXPECT_EQ(info->PublishVersionStatus(1), S_OK);
  EXPECT_TRUE(host_->calls.empty());
}

// A status service that answers success without an item.
class EmptyStatusService : public Implements<IVersionStatusService> {
 public:
  HRESULT GetItem(const WideString&, IVersionStatusItem** item) override {
    *item = nullptr;
    return S_OK;
  }
};

TEST_F(ModuleInfoTest, SuccessWithoutAnItemPublishesNothing) {
  host_->AddService(IVersionStatusService::iid, MakeObject<EmptyStatusService>());
  Attach();
  auto info = MakeObject<TestInfo>();
  EXPECT_EQ(info->PublishVersionStatus(1), S_OK);
  EXPECT_TRUE(info->asked.empty());
}

}  // namespace

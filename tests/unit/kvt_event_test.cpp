#include "dataaccess/kvt_event.h"

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_host.h"

namespace {

// An event parameter that carries a value through IKVTEventContext and counts the calls.
class FakeContext : public Implements<IKVTEventContext> {
 public:
  HRESULT GetValue(int32_t* v) override {
    calls.push_back("GetValue");
    *v = value;
    return S_OK;
  }
  HRESULT SetValue(int32_t v) override {
    calls.push_back("SetValue " + std::to_string(v));
    value = v;
    return S_OK;
  }
  int32_t value = 0;
  std::vector<std::string> calls;
};

class KVTEventTest : public testing::Test {
 protected:
  void SetUp() override { HostServer = host_->Server(); }
  void TearDown() override {
    HostServer = nullptr;
    host_->ReleaseAll();
    host_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_);
  }
  int64_t live_ = InterfacedObject::LiveObjects();
  ComPtr<FakeHost> host_ = MakeObject<FakeHost>();
};

TEST_F(KVTEventTest, SubscribesWhenConstructionEndsAndTheHostKeepsIt) {
  TKVTEvent* sender = nullptr;
  int runs = 0;
  SubscribeEvent("STOPSERVER", [&](TKVTEvent* s) {
    sender = s;
    ++runs;
  });
  ASSERT_EQ(host_->sinks.count(u"STOPSERVER"), 1u);
  EXPECT_EQ(host_->calls, std::vector<std::string>{"Subscribe STOPSERVER"});
  IKVTEventSink* sink = host_->sinks.find(u"STOPSERVER")->second.Get();

  host_->Raise(u"STOPSERVER");
  host_->Raise(u"STOPSERVER");
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(static_cast<IKVTEventSink*>(sender), sink) << "the sender is the event object";
  EXPECT_EQ(sender->EventName(), "STOPSERVER");
}

TEST_F(KVTEventTest, PlainProcedureHandler) {
  static TKVTEvent* sender;
  sender = nullptr;
  SubscribeEventProc("OTHER", [](TKVTEvent* s) { sender = s; });
  host_->Raise(u"OTHER");
  ASSERT_NE(sender, nullptr);
  EXPECT_EQ(sender->EventName(), "OTHER");
}

TEST_F(KVTEventTest, ParamHoldsTheFiringsParameterOnlyWhileTheHandlerRuns) {
  auto param = MakeObject<FakeContext>();
  auto event = MakeObject<TKVTEvent>(
      "E", [&](TKVTEvent* s) { EXPECT_EQ(s->Param().Get(), static_cast<IUnknown*>(param.Get())); });
  EXPECT_EQ(event->Notify(param.Get()), S_OK);
  EXPECT_FALSE(event->Param());
  EXPECT_EQ(param->RefCount(), 1);
}

TEST_F(KVTEventTest, ContextValueReadBeforeAndWrittenBackAfterTheHandler) {
  auto context = MakeObject<FakeContext>();
  context->value = 42;
  auto event = MakeObject<TKVTEvent>("E", [&](TKVTEvent*) {
    context->calls.push_back("handler");
    context->value = 7;  // whatever the handler does, the saved value goes back
  });
  event->Notify(context.Get());
  EXPECT_EQ(context->calls, (std::vector<std::string>{"GetValue", "handler", "SetValue 42"}));
  EXPECT_EQ(context->value, 42);
}

TEST_F(KVTEventTest, EmptyParameterRunsTheHandlerWithoutContextCalls) {
  int runs = 0;
  auto event = MakeObject<TKVTEvent>("E", [&](TKVTEvent* s) {
    ++runs;
    EXPECT_FALSE(s->Param());
  });
  EXPECT_EQ(event->Notify(nullptr), S_OK);
  EXPECT_EQ(runs, 1);
}

TEST_F(KVTEventTest, NoHandlerDoesNothing) {
  auto context = MakeObject<FakeContext>();
  auto event = MakeObject<TKVTEvent>("E", TKVTEvent::Handler());
  EXPECT_EQ(event->Notify(context.Get()), S_OK);
  EXPECT_TRUE(context->calls.empty());
  EXPECT_FALSE(event->Param());
}

TEST_F(KVTEventTest, HandlerErrorGoesToTheHostsErrorLog) {
  auto context = MakeObject<FakeContext>();
  auto event = MakeObject<TKVTEvent>(
      "E", [](TKVTEvent*) { throw EDatabaseError("Соединение потеряно: \"vodar\""); });
  EXPECT_EQ(event->Notify(context.Get()), S_OK);
  ASSERT_EQ(host_->errors.size(), 1u);
  EXPECT_EQ(host_->errors[0].ToUtf8(), "Соединение потеряно: \"vodar\"");
  EXPECT_EQ(context->calls, std::vector<std::string>{"GetValue"}) << "no SetValue after an error";
  EXPECT_FALSE(event->Param()) << "the parameter is let go after a failed firing too";
  EXPECT_EQ(context->RefCount(), 1);

  auto other = MakeObject<TKVTEvent>("E", [](TKVTEvent*) { throw std::runtime_error("plain"); });
  other->Notify(nullptr);
  EXPECT_EQ(host_->errors.back().ToUtf8(), "plain");
}

TEST_F(KVTEventTest, HostWithoutErrorLogLetsTheCastErrorOut) {
  host_->Offer<IKVTErrorLog>(false);
  auto event = MakeObject<TKVTEvent>("E", [](TKVTEvent*) { throw EAbort("x"); });
  EXPECT_THROW(event->Notify(nullptr), EIntfCastError);
  EXPECT_FALSE(event->Param());
}

TEST_F(KVTEventTest, HandlerErrorAfterTheHandlerEmptiedHostServerIsDropped) {
  auto event = MakeObject<TKVTEvent>("E", [](TKVTEvent*) {
    HostServer = nullptr;
    throw Exception("lost");
  });
  EXPECT_EQ(event->Notify(nullptr), S_OK);
  EXPECT_TRUE(host_->errors.empty());
}

TEST_F(KVTEventTest, WithoutHostServerNothingIsRegisteredAndNothingStays) {
  HostServer = nullptr;
  int64_t before = InterfacedObject::LiveObjects();
  SubscribeEvent("STOPSERVER", [](TKVTEvent*) {});
  SubscribeEventProc("STOPSERVER", [](TKVTEvent*) {});
  EXPECT_TRUE(host_->calls.empty());
  EXPECT_EQ(InterfacedObject::LiveObjects(), before) << "the event objects were freed at once";
}

TEST_F(KVTEventTest, HostReleasingItsReferenceDuringTheFiringIsSafe) {
  int runs = 0;
  SubscribeEvent("STOPSERVER", [&](TKVTEvent* s) {
    host_->sinks.clear();  // the host lets go of the subscription while it runs
    ++runs;
    EXPECT_EQ(s->EventName(), "STOPSERVER");
  });
  ComPtr<IKVTEventSink> sink = host_->sinks.find(u"STOPSERVER")->second;
  host_->sinks.clear();
  IKVTEventSink* raw = sink.Get();
  host_->sinks.emplace(u"STOPSERVER", sink);
  sink = nullptr;
  // Only the host's reference is left; Notify called through a borrowed pointer.
  int64_t before = InterfacedObject::LiveObjects();
  raw->Notify(nullptr);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(InterfacedObject::LiveObjects(), before - 1);
}

}  // namespace

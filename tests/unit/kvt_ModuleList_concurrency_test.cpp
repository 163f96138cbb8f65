// One module list used from several threads at once: adding, replacing, finding,
// removing, enumerating, and the host raising "STOPSERVER" while that goes on. Run under
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "dataaccess/kvt_event.h"
#include "moduleinfo/kvt_ModuleInfoImpl.h"
#include "moduleinfo/kvt_ModuleList.h"

namespace {

class NamedInfo : public TModuleInfo {
 public:
  explicit NamedInfo(std::u16string name) : name_(std::move(name)) {}
  WideString GetName() override { return name_; }

 protected:
  void AfterConstruction() override {}

 private:
  const std::u16string name_;
};

// A host server whose subscriptions may be made and raised from any thread.
class ThreadSafeServer : public Implements<IKVTServer> {
 public:
  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Reserved6() override { return E_NOTIMPL; }
  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }
  HRESULT Reserved10() override { return E_NOTIMPL; }
  HRESULT RegisterService(IUnknown*) override { return E_NOTIMPL; }
  HRESULT Reserved13() override { return E_NOTIMPL; }
  HRESULT Subscribe(const WideString&, IKVTEventSink* sink) override {
    std::lock_guard guard(mutex_);
    sinks_.emplace_back(sink);
    return S_OK;
  }
  void Raise() {
    std::vector<ComPtr<IKVTEventSink>> targets;
    {
      std::lock_guard guard(mutex_);
      targets = sinks_;
    }
    for (auto& s : targets) s->Notify(nullptr);
  }
  size_t Subscriptions() {
    std::lock_guard guard(mutex_);
    return sinks_.size();
  }
  void Drop() {
    std::lock_guard guard(mutex_);
    sinks_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<ComPtr<IKVTEventSink>> sinks_;
};

constexpr char16_t const* kNames[] = {u"A", u"B", u"C", u"D", u"E"};
constexpr int kNameCount = 5;

TEST(ModuleListConcurrency, OperationsFromSeveralThreadsKeepTheListConsistent) {
  const int64_t live = InterfacedObject::LiveObjects();
  auto server = MakeObject<ThreadSafeServer>();
  HostServer = ComPtr<IKVTServer>(server.Get());
  auto list = MakeObject<TModuleInfoList>();
  std::atomic<bool> stop{false};
  std::atomic<int> handed_out{0};
  // Readers keep reading while any writer still writes, so that they overlap with the
  // writers however the threads happen to be scheduled.
  std::atomic<int> writers_running{3};

  auto writer = [&](int seed) {
    for (int i = 0; !stop && i < 2000; ++i) {
      auto info = MakeObject<NamedInfo>(kNames[(seed + i) % kNameCount]);
      list->Add(info.Get());
      if (i % 3 == 0) list->Remove(info.Get());
    }
    --writers_running;
  };
  auto reader = [&](int seed) {
    for (int i = 0; !stop && (i < 2000 || writers_running > 0); ++i) {
      ComPtr<IModuleInfo> found;
      if (list->Find(kNames[(seed + i) % kNameCount], found.Put()) == S_OK) {
        EXPECT_EQ(found->GetName().str(), kNames[(seed + i) % kNameCount]);
      }
      ComPtr<IEnumModuleInfo> e;
      if (list->GetEnumerator(e.Put()) == S_OK) {
        ComPtr<IModuleInfo> info;
        while (e->Next(info.Put()) == S_OK)
          if (info) ++handed_out;
      }
    }
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) threads.emplace_back(writer, t);
  for (int t = 0; t < 2; ++t) threads.emplace_back(reader, t);
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      server->Raise();
      if (i % 50 == 0) list->Clear();
      std::this_thread::yield();
    }
  });
  for (auto& t : threads) t.join();
  stop = true;

  // At most one entry per name, whatever the interleaving.
  std::multiset<std::u16string> names;
  {
    ComPtr<IEnumModuleInfo> e;
    if (list->GetEnumerator(e.Put()) == S_OK) {
      ComPtr<IModuleInfo> info;
      while (e->Next(info.Put()) == S_OK) names.insert(info->GetName().str());
    }
  }
  for (const auto& n : names) EXPECT_EQ(names.count(n), 1u);
  EXPECT_GT(server->Subscriptions(), 0u);
  EXPECT_GT(handed_out.load(), 0);

  // The list dies while the host still holds its subscriptions; raising afterwards is
  // harmless, and dropping them frees everything.
  list = nullptr;
  server->Raise();
  HostServer = nullptr;
  server->Drop();
  server = nullptr;
  EXPECT_EQ(InterfacedObject::LiveObjects(), live);
}

TEST(ModuleListConcurrency, ListDestroyedWhileTheHostRaises) {
  const int64_t live = InterfacedObject::LiveObjects();
  auto server = MakeObject<ThreadSafeServer>();
  HostServer = ComPtr<IKVTServer>(server.Get());
  for (int round = 0; round < 50; ++round) {
    auto list = MakeObject<TModuleInfoList>();
    auto info = MakeObject<NamedInfo>(u"A");
    list->Add(info.Get());
    std::thread raiser([&] { server->Raise(); });
    list = nullptr;
    raiser.join();
    EXPECT_EQ(info->RefCount(), 1);
  }
  HostServer = nullptr;
  server->Drop();
  server = nullptr;
  EXPECT_EQ(InterfacedObject::LiveObjects(), live);
}

}  // namespace

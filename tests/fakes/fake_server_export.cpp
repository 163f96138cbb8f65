#include "tests/fakes/fake_server_export.h"

namespace {
struct State {
  enum class Mode { Answer, Fail, Empty } mode = Mode::Empty;
  ComPtr<IUnknown> server;
  HRESULT result = S_OK;
  std::vector<GUID> calls;
};
State& TheState() {
  static State s;
  return s;
}
}  // namespace

void FakeServerExport::Answer(ComPtr<IUnknown> server) {
  State& s = TheState();
  s.mode = State::Mode::Answer;
  s.server = std::move(server);
  s.calls.clear();
}

void FakeServerExport::Fail(HRESULT hr) {
  State& s = TheState();
  s.mode = State::Mode::Fail;
  s.server = nullptr;
  s.result = hr;
  s.calls.clear();
}

void FakeServerExport::Empty() {
  State& s = TheState();
  s.mode = State::Mode::Empty;
  s.server = nullptr;
  s.calls.clear();
}

void FakeServerExport::Reset() {
  State& s = TheState();
  s.server = nullptr;
  s.calls.clear();
}

const std::vector<GUID>& FakeServerExport::Calls() {
  return TheState().calls;
}

extern "C" __attribute__((visibility("default"))) HRESULT Server_QueryInterface(const GUID& iid,
                                                                                void** obj) {
  State& s = TheState();
  s.calls.push_back(iid);
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  switch (s.mode) {
    case State::Mode::Answer:
      return s.server ? s.server->QueryInterface(iid, obj) : E_NOINTERFACE;
    case State::Mode::Fail:
      return s.result;
    case State::Mode::Empty:
      return S_OK;
  }
  return E_FAIL;
}

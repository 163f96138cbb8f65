// The host server: the object a module receives from Server_QueryInterface. It answers
// IKVTServer (all thirteen operations in slot order), keeps the services modules register
// and the event sinks they subscribe, and raises named events. The further host services
// (configuration, database configuration, registries, module list, version status, error
// log, IKVTServer2, the database manager) join as more interfaces of this class; until then
// QueryInterface answers E_NOINTERFACE for them, which a module takes as "not offered".
#pragma once

#include <map>
#include <string>
#include <vector>

#include "hostintf/kvt_serverintf.h"
#include "platform/com/object.h"

class THostServer : public Implements<IKVTServer> {
 public:
  THostServer();

  // Traced: "QueryInterface {iid} -> S_OK | E_NOINTERFACE".
  HRESULT QueryInterface(const GUID& iid, void** obj) override;

  // --- IKVTServer
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
  // Keeps `obj` (a reference) until Stop.
  HRESULT RegisterService(IUnknown* obj) override;
  // Keeps `sink` (a reference) and notifies it whenever `name` is raised, until Stop.
  HRESULT Subscribe(const WideString& name, IKVTEventSink* sink) override;
  HRESULT Reserved13() override { return E_NOTIMPL; }

  // --- The host's side
  // Notifies every sink subscribed to `name`, in subscription order, with `param` (may be
  // null). A sink's error is reported on stderr and does not stop the others.
  void RaiseEvent(const std::u16string& name, IUnknown* param = nullptr);
  // Raises "STOPSERVER", then lets go of every service and subscription. The host does this
  // before it shuts Python down.
  void Stop();
  // The services registered so far (added references).
  std::vector<ComPtr<IUnknown>> Services() const { return services_; }
  // The storage setting `key` of a database as the host's configuration holds it ("" when
  // it holds none).
  WideString DatabaseParam(const WideString& database, const WideString& key) const;

 protected:
  ~THostServer() override;

 private:
  std::vector<ComPtr<IUnknown>> services_;
  std::multimap<std::u16string, ComPtr<IKVTEventSink>> sinks_;
};

// The server that the exported Server_QueryInterface hands out (null: none, and the
// function answers E_NOINTERFACE). The host sets it while it runs.
void SetExportedServer(THostServer* server);
THostServer* ExportedServer();

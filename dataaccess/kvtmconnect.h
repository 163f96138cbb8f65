// Connections to application servers: components a client data set names as its remote
// server, which make the server object (by COM activation here or on a named computer)
// and hand out its IAppServer, wrapping a server that only answers IDispatch.
//
//   TKVTDispatchConnection   the server's identity, login prompt, connect state, GetServer
//   TKVTCOMConnection        makes the server as a COM object on this computer
//   TKVTDCOMConnection       makes it on ComputerName, or where an object broker says
//
// Texts inside the components are UTF-8 reduced to code page 1251's repertoire; texts
// that cross COM are WideString.
#pragma once

#include <functional>
#include <string>

#include "platform/com/errorinfo.h"
#include "platform/db/appserver.h"
#include "platform/db/connection.h"
#include "platform/rtl/stringlist.h"

// The component category of application servers.
inline constexpr GUID CATID_KVTAppServers = "{13E85B3C-9508-11D2-AB63-00C04FA35CFA}"_guid;

// Chooses the computer a DCOM connection makes its server on, and hears how it went.
class TKVTCustomObjectBroker : public Component {
 public:
  using Component::Component;
  // The attempt on `computer_name` succeeded or failed.
  virtual void ReportConnectResult(const std::string& computer_name, bool success) = 0;
  // The computer to make an object of `class_id` on.
  virtual std::string GetComputerForClass(const GUID& class_id) = 0;
  // The computer that serves the class registered as `prog_id`.
  virtual std::string GetComputerForProgID(const std::string& prog_id) = 0;
  // The port to reach `computer_name` on (0: the transport's default).
  virtual int32_t GetPortForComputer(const std::string& computer_name) = 0;
};

// IAppServer over a server object that only answers IDispatch: each method becomes a
// late-bound call by its dispatch identifier; errors become result codes with the
// thread's error information.
class TKVTDispatchAppServer : public Implements<ISupportErrorInfo, IAppServer> {
 public:
  // Keeps `server` (a counted reference) without asking it for anything.
  explicit TKVTDispatchAppServer(ComPtr<IDispatch> server) : server_(std::move(server)) {}

  // --- ISupportErrorInfo: S_OK for IAppServer only.
  HRESULT InterfaceSupportsErrorInfo(const GUID& iid) override;
  // --- IDispatch: passed to the wrapped object.
  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(const GUID& iid, const WideString* names, uint32_t count, LCID lcid,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 Variant* result, EXCEPINFO* excep, uint32_t* arg_err) override;
  // --- IAppServer
  HRESULT AS_ApplyUpdates(const WideString& provider, const Variant& delta, int32_t max_errors,
                          int32_t* error_count, Variant* owner_data, Variant* result) override;
  HRESULT AS_GetRecords(const WideString& provider, int32_t count, int32_t* recs_out,
                        int32_t options, const WideString& command_text, Variant* params,
                        Variant* owner_data, Variant* result) override;
  HRESULT AS_DataRequest(const WideString& provider, const Variant& data, Variant* result) override;
  HRESULT AS_GetProviderNames(Variant* result) override;
  HRESULT AS_GetParams(const WideString& provider, Variant* owner_data, Variant* result) override;
  HRESULT AS_RowRequest(const WideString& provider, const Variant& row, int32_t request_type,
                        Variant* owner_data, Variant* result) override;
  HRESULT AS_Execute(const WideString& provider, const WideString& command_text, Variant* params,
                     Variant* owner_data) override;

 private:
  ComPtr<IDispatch> server_;
};

class TKVTDispatchConnection : public CustomRemoteServer {
 public:
  using UsernameEvent = std::function<void(Component& sender, std::string& user_name)>;
  using LoginEvent = std::function<void(Component& sender, const std::string& user_name,
                                        const std::string& password)>;

  explicit TKVTDispatchConnection(Component* owner = nullptr);
  ~TKVTDispatchConnection() override;  // disconnects first

  // The class identifier as braced upper-case GUID text; empty when its first three parts
  // are zero (the last eight bytes are not looked at).
  std::string ServerGUID() const;
  // Disconnects (unless loading), then: empty text zeroes the identifier; other text must
  // be GUID text (EOleSysError otherwise, identifier unchanged) and becomes the
  // identifier, and its registered ProgID, if any, the ServerName.
  void SetServerGUID(std::string_view text);
  const std::string& ServerName() const { return server_name_; }
  // The same text changes nothing. Otherwise, unless loading, disconnects and looks the
  // identifier up (all zero when the ProgID is not registered); then stores the text.
  void SetServerName(std::string_view name);
  // The identifier as stored, all sixteen bytes.
  const GUID& ServerGUIDValue() const { return server_guid_; }

  // The class to connect to: the identifier, or when that is all zero the class of
  // ServerName. Raises EDatabaseError when both are empty, EOleSysError when ServerName
  // is not registered.
  GUID GetServerClassID();

  // Connects first (errors propagate); the server's IAppServer, or an adapter over its
  // IDispatch that lives as long as the caller holds it.
  ComPtr<IAppServer> GetServer() override;
  // The ProgIDs of the registered application servers as an array of wide strings
  // (bounds 0 .. count-1), or null when there is none.
  Variant GetServerList() override;

  // Asked before the login dialog for the user name to offer.
  UsernameEvent OnGetUsername;
  // Told after a connect with login, with what the dialog answered.
  LoginEvent OnLogin;

 protected:
  // Runs the login prompt around the base's connect sequence.
  void SetConnected(bool value) override;
  void Notification(Component* component, Operation operation) override;

  TKVTCustomObjectBroker* broker_ = nullptr;  // not owned; cleared when it is freed

 private:
  GUID server_guid_{};
  std::string server_name_;
};

class TKVTCOMConnection : public TKVTDispatchConnection {
 public:
  using TKVTDispatchConnection::TKVTDispatchConnection;

 protected:
  // Checks the class before a connect (outside stored-form reading).
  void SetConnected(bool value) override;
  // Makes the server in-process or as a local server and keeps its IDispatch.
  void DoConnect() override;
};

class TKVTDCOMConnection : public TKVTCOMConnection {
 public:
  using TKVTCOMConnection::TKVTCOMConnection;

  const std::string& ComputerName() const { return computer_name_; }
  // A different text disconnects and is stored; the same text changes nothing.
  void SetComputerName(std::string_view name);
  TKVTCustomObjectBroker* ObjectBroker() const { return broker_; }
  // Setting a broker does not disconnect; the connection forgets it when it is freed.
  void SetObjectBroker(TKVTCustomObjectBroker* broker);

 protected:
  // With a broker: tries the computers it names until one answers, reporting each
  // attempt. Without: makes the server on ComputerName, or here when that is empty.
  void DoConnect() override;

 private:
  std::string computer_name_;
};

// Fills `list` with the ProgIDs of the registered application servers ("<Invalid
// Registration: {clsid}>" for a class without one), from the component category manager,
// or from the registry when the manager is not available.
void ListRegisteredServers(StringList& list);

// The connection base of the platform: a component that connects and disconnects with a
// fixed sequence of events, defers a connect while its stored form is read, and tells the
// data sets attached to it; and the remote-server variant that hands out an application
// server (IAppServer).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/variant.h"
#include "platform/db/appserver.h"
#include "platform/rtl/component.h"

// A data set (or anything else) that wants to hear when a connection goes up or down.
class ConnectionClient {
 public:
  virtual void ConnectChange(bool connected) = 0;

 protected:
  ~ConnectionClient() = default;
};

class CustomConnection : public Component {
 public:
  using Event = std::function<void(CustomConnection&)>;

  explicit CustomConnection(Component* owner = nullptr);
  ~CustomConnection() override;

  // Connected := true runs BeforeConnect, DoConnect, the notice to the attached clients,
  // AfterConnect; false runs BeforeDisconnect, the notice, DoDisconnect, AfterDisconnect.
  // Nothing happens when the state already is the asked one. While the component's
  // stored form is read, a connect is remembered and runs at the end of loading.
  bool Connected() { return GetConnected(); }
  void SetConnectedProperty(bool value) { SetConnected(value); }
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool v) { login_prompt_ = v; }

  void RegisterClient(ConnectionClient* client);
  void UnRegisterClient(ConnectionClient* client);

  void Loaded() override;

  Event BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

 protected:
  virtual bool GetConnected() = 0;
  virtual void SetConnected(bool value);
  virtual void DoConnect() {}
  virtual void DoDisconnect() {}
  void SendConnectEvent(bool connecting);
  bool StreamedConnected() const { return streamed_connected_; }

 private:
  bool login_prompt_ = false;
  bool streamed_connected_ = false;
  std::vector<ConnectionClient*> clients_;
};

// A connection whose connected state is an application server, held as a dispatch
// variant (null when there is none).
class CustomRemoteServer : public CustomConnection {
 public:
  explicit CustomRemoteServer(Component* owner = nullptr);
  ~CustomRemoteServer() override;

  const Variant& AppServer() const { return app_server_; }
  // The server's IAppServer, connecting first.
  virtual ComPtr<IAppServer> GetServer();
  // The application servers that can be connected to (a variant array of names, or null).
  virtual Variant GetServerList() { return Variant::Null(); }

 protected:
  bool GetConnected() override;
  void DoDisconnect() override;
  void SetAppServer(Variant value) { app_server_ = std::move(value); }

 private:
  Variant app_server_ = Variant::Null();
};

// The platform's remote-login dialog: asked for a user name and password (both may be
// changed); answering false declines the login. No hook installed: no dialog.
using RemoteLoginHook = std::function<bool(std::string& user_name, std::string& password)>;
RemoteLoginHook SetRemoteLoginHook(RemoteLoginHook hook);  // answers the previous hook
const RemoteLoginHook& GetRemoteLoginHook();

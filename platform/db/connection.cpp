#include "platform/db/connection.h"

#include <algorithm>
#include <mutex>

#include "platform/rtl/exceptions.h"

CustomConnection::CustomConnection(Component* owner) : Component(owner) {}

CustomConnection::~CustomConnection() = default;

void CustomConnection::SetConnected(bool value) {
  if (IsReading() && value) {
    streamed_connected_ = true;
    return;
  }
  if (value == GetConnected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(*this);
    DoConnect();
    SendConnectEvent(true);
    if (AfterConnect) AfterConnect(*this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(*this);
    SendConnectEvent(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(*this);
  }
}

void CustomConnection::Loaded() {
  Component::Loaded();
  if (streamed_connected_) {
    streamed_connected_ = false;
    SetConnected(true);
  }
}

void CustomConnection::RegisterClient(ConnectionClient* client) {
  if (client && std::find(clients_.begin(), clients_.end(), client) == clients_.end())
    clients_.push_back(client);
}

void CustomConnection::UnRegisterClient(ConnectionClient* client) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void CustomConnection::SendConnectEvent(bool connecting) {
  // A client may unregister itself while it hears the notice.
  std::vector<ConnectionClient*> clients = clients_;
  for (ConnectionClient* c : clients)
    if (std::find(clients_.begin(), clients_.end(), c) != clients_.end()) c->ConnectChange(connecting);
}

CustomRemoteServer::CustomRemoteServer(Component* owner) : CustomConnection(owner) {}

CustomRemoteServer::~CustomRemoteServer() {
  // The platform's tear-down disconnects, which releases the server object. Derived
  // classes that override the disconnect do their part in their own destructors first.
  app_server_ = Variant::Null();
}

ComPtr<IAppServer> CustomRemoteServer::GetServer() {
  SetConnected(true);
  ComPtr<IDispatch> disp = app_server_.ToDispatch();
  return disp.TryAs<IAppServer>();
}

bool CustomRemoteServer::GetConnected() {
  if (app_server_.IsNull() || app_server_.IsEmpty()) return false;
  return static_cast<bool>(app_server_.ToDispatch());
}

void CustomRemoteServer::DoDisconnect() { app_server_ = Variant::Null(); }

namespace {
std::mutex g_login_mutex;
RemoteLoginHook g_login_hook;
}  // namespace

RemoteLoginHook SetRemoteLoginHook(RemoteLoginHook hook) {
  std::lock_guard lock(g_login_mutex);
  RemoteLoginHook old = std::move(g_login_hook);
  g_login_hook = std::move(hook);
  return old;
}

const RemoteLoginHook& GetRemoteLoginHook() { return g_login_hook; }

#include "platform/rtl/component.h"

#include <algorithm>
#include <cctype>

#include "platform/rtl/application.h"

namespace {
thread_local FormLoading* t_loading = nullptr;

void Erase(std::vector<Component*>& v, Component* c) {
  auto it = std::find(v.begin(), v.end(), c);
  if (it != v.end()) v.erase(it);
}
}  // namespace

Component::Component(Component* owner) {
  if (t_loading) t_loading->Register(this);
  if (owner) owner->InsertComponent(this);
}

Component::~Component() {
  state_ |= kDestroying;
  if (loading_scope_) loading_scope_->Forget(this);
  // Tell everyone who watches us; stop watching others. The list is read afresh each
  // time: a watcher freed by another one's notification has already left it.
  while (!free_notifies_.empty()) {
    Component* w = free_notifies_.back();
    free_notifies_.pop_back();
    Erase(w->free_notifies_, this);
    w->Notification(this, Operation::Remove);
  }
  // Free owned components, last created first.
  while (!components_.empty()) {
    Component* c = components_.back();
    components_.pop_back();
    c->owner_ = nullptr;
    delete c;
  }
  if (owner_) owner_->RemoveComponent(this);
}

Component* Component::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (Component* c : components_)
    if (c->name_.size() == name.size() &&
        std::equal(name.begin(), name.end(), c->name_.begin(),
                   [](char a, char b) {
                     return std::tolower(static_cast<unsigned char>(a)) ==
                            std::tolower(static_cast<unsigned char>(b));
                   }))
      return c;
  return nullptr;
}

void Component::SetDesigning(bool on) {
  if (on)
    state_ |= kDesigning;
  else
    state_ &= ~kDesigning;
}

void Component::FreeNotification(Component* other) {
  if (other == nullptr || other == this) return;
  if (std::find(other->free_notifies_.begin(), other->free_notifies_.end(), this) ==
      other->free_notifies_.end())
    other->free_notifies_.push_back(this);
  if (std::find(free_notifies_.begin(), free_notifies_.end(), other) == free_notifies_.end())
    free_notifies_.push_back(other);
}

void Component::RemoveFreeNotification(Component* other) {
  if (other == nullptr) return;
  Erase(other->free_notifies_, this);
  Erase(free_notifies_, other);
}

void Component::BeginLoading() { state_ |= kLoading | kReading; }
void Component::Loaded() { state_ &= ~(kLoading | kReading); }

bool Component::FindInterface(const GUID&, void**) noexcept { return false; }

void Component::Notification(Component*, Operation) {}

void Component::InsertComponent(Component* c) {
  components_.push_back(c);
  c->owner_ = this;
  Notification(c, Operation::Insert);
}

void Component::RemoveComponent(Component* c) {
  Notification(c, Operation::Remove);
  Erase(components_, c);
  c->owner_ = nullptr;
}

FormLoading::FormLoading() : outer_(t_loading) { t_loading = this; }

FormLoading::~FormLoading() {
  if (t_loading == this) t_loading = outer_;
  for (Component* c : loading_) {
    c->loading_scope_ = nullptr;
    c->Component::Loaded();
  }
}

FormLoading* FormLoading::Current() { return t_loading; }

void FormLoading::Register(Component* c) {
  loading_.push_back(c);
  c->loading_scope_ = this;
  c->BeginLoading();
}

void FormLoading::Forget(Component* c) {
  Erase(loading_, c);
  c->loading_scope_ = nullptr;
}

void FormLoading::Finish() {
  if (finished_) return;
  if (t_loading == this) t_loading = outer_;
  finished_ = true;
  // Every component gets its step in creation order, even after one has failed; the first
  // error is raised at the end. Components that Loaded() creates are not part of this
  // form; one that a Loaded() step frees leaves the list before its turn.
  std::exception_ptr first;
  while (!loading_.empty()) {
    Component* c = loading_.front();
    loading_.erase(loading_.begin());
    c->loading_scope_ = nullptr;
    try {
      c->Loaded();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void DataModule::DoCreate() {
  try {
    OnCreate();
  } catch (...) {
    Application::HandleException(std::current_exception());
  }
}

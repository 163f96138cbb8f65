// Component: an object with an owner, a name and a state, as the platform's components.
//
// An owner frees the components it owns when it is destroyed (last created, first freed).
// A component can ask another to notify it when that one is freed (FreeNotification);
// owners hear of every child that comes or goes.
//
// Stored forms: a form is C++ code that creates components and sets their published
// properties inside a FormLoading scope. Every component created while the scope is open
// is in the loading state (IsLoading()); when the scope finishes, each gets its Loaded()
// step in creation order, which leaves the loading state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/types.h"

enum class Operation { Insert, Remove };

class FormLoading;

class Component {
 public:
  explicit Component(Component* owner = nullptr);
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  Component* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  virtual void SetName(const std::string& name) { name_ = name; }
  const std::vector<Component*>& Components() const { return components_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  Component* FindComponent(std::string_view name) const;

  bool IsLoading() const { return (state_ & kLoading) != 0; }
  bool IsReading() const { return (state_ & kReading) != 0; }
  bool IsDesigning() const { return (state_ & kDesigning) != 0; }
  bool IsDestroying() const { return (state_ & kDestroying) != 0; }
  void SetDesigning(bool on);

  // Asks `other` to call this->Notification(other, Remove) when it is freed.
  void FreeNotification(Component* other);
  void RemoveFreeNotification(Component* other);

  // Enters the loading state. FormLoading does this for the components it sees created,
  // from Component's constructor: an override in a derived class does not run then.
  virtual void BeginLoading();
  // The end of loading: leaves the loading state. Overrides call the base first.
  virtual void Loaded();

  // The interface table of a component that answers interfaces (see NonCounting).
  virtual bool FindInterface(const GUID& iid, void** obj) noexcept;

 protected:
  // Something this component watches was inserted or is being removed.
  virtual void Notification(Component* component, Operation operation);
  // Called first in a derived destructor that must tear down while the object is whole.
  void Destroying() { state_ |= kDestroying; }

 private:
  void InsertComponent(Component* c);
  void RemoveComponent(Component* c);

  static constexpr uint32_t kLoading = 1, kReading = 2, kDesigning = 4, kDestroying = 8;
  friend class FormLoading;
  Component* owner_ = nullptr;
  FormLoading* loading_scope_ = nullptr;  // the open form scope that will call Loaded()
  std::string name_;
  uint32_t state_ = 0;
  std::vector<Component*> components_;     // owned
  std::vector<Component*> free_notifies_;  // both directions: who watches and whom we watch
};

// The scope in which a stored form creates its components. Finish() runs the Loaded()
// steps; a scope left without Finish() (an error while building the form) just leaves the
// loading state of its components. Scopes nest; a component belongs to the innermost one
// open on its thread when it is created. Components freed while their scope is open (also
// from another component's Loaded()) are simply dropped from it.
class FormLoading {
 public:
  FormLoading();
  ~FormLoading();
  FormLoading(const FormLoading&) = delete;
  FormLoading& operator=(const FormLoading&) = delete;
  void Finish();
  // The scope open on this thread, or null.
  static FormLoading* Current();

 private:
  friend class Component;
  void Register(Component* c);
  void Forget(Component* c);
  FormLoading* outer_;
  std::vector<Component*> loading_;
  bool finished_ = false;
};

// The windowless container of a stored form. Derived classes build their form in their
// constructor (inside a FormLoading scope) and are created through DataModule::Create,
// which then runs the creation handler. An error in the handler goes to the
// application's exception handler; the data module exists all the same.
class DataModule : public Component {
 public:
  using Component::Component;
  template <class T, class... A>
  static T* Create(A&&... args) {
    T* dm = new T(std::forward<A>(args)...);
    dm->DoCreate();
    return dm;
  }

 protected:
  virtual void OnCreate() {}

 private:
  void DoCreate();
};

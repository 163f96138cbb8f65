// The register's data module: the one windowless container that holds the register's
// connection and tables and declares them to the host.
#pragma once

#include "platform/rtl/component.h"

class Tdm : public DataModule {
 public:
  explicit Tdm(Component* owner = nullptr);
  ~Tdm() override;

 protected:
  // The creation handler: runs once, after the form has been built.
  void OnCreate() override;
};

// The one instance, created at start-up without an owner and freed at unload (null before
// start-up and after unload).
extern Tdm* dm;

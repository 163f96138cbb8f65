#include "register/vodar_data.h"

Tdm* dm = nullptr;

Tdm::Tdm(Component* owner) : DataModule(owner) {}

Tdm::~Tdm() = default;

void Tdm::OnCreate() {}

// The module's entry points (filled by the module-entry work).
extern "C" __attribute__((visibility("default"))) void initkvtinpro() {}

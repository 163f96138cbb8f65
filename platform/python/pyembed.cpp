// The embedding layer (filled by the module-entry work).

// The host's built-in Python module "kvthost", for the host's own Python package:
//   kvthost.database_param(database: str, key: str) -> str
//       the host's configured storage setting of a database ("" when none), for example
//       database_param("ТРОИС", "sqlite.file") for the register file.
//   kvthost.raise_event(name: str) -> None
//       notifies the modules subscribed to the host event `name` now, as the host does
//       with "STOPSERVER" when it stops.
#pragma once

// Makes "kvthost" importable; must run before the interpreter is initialised.
void RegisterHostModule();

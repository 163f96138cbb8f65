// The floor of a check: the module's two statements run straight through the SQLite C API
// on the register file, prepared once, parameters resolved by name once and bound by index.
// This is the database's own work, which no stack above it can avoid.
#pragma once

#include <string>

#include "bench/check_sql.h"

struct sqlite3;
struct sqlite3_stmt;

class FloorRegister {
 public:
  // Opens `path` read-only, as the host does. Raises std::runtime_error.
  explicit FloorRegister(const std::string& path);
  ~FloorRegister();
  FloorRegister(const FloorRegister&) = delete;
  FloorRegister& operator=(const FloorRegister&) = delete;

  // What CheckCode answers: the register check (rows in force at `today`, a date-time text
  // "YYYY-MM-DD HH:MM:SS" as the host binds it), then the order-1532 check, both every time.
  bool CheckCode(const std::string& code, const std::string& today);
  bool CheckRegister(const std::string& code, const std::string& today);
  bool CheckOmit(const std::string& code);

  sqlite3* Handle() const { return db_; }
  // One integer answered by `sql` (for drawing the code mix).
  long long QueryInt(const char* sql);

 private:
  struct Statement {
    sqlite3_stmt* handle = nullptr;
    int g33 = 0, g33len = 0, today = 0;  // parameter indexes (0: absent)
  };
  void Prepare(Statement& s, const std::string& sql);
  void Close();
  bool Run(Statement& s, const std::string& code, const std::string& today);

  std::string path_;
  sqlite3* db_ = nullptr;
  Statement register_[2], omit_[2];  // by CheckForm
};

#include "bench/floor.h"

#include <sqlite3.h>

#include <stdexcept>

FloorRegister::FloorRegister(const std::string& path) : path_(path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  try {
    for (CheckForm form : {CheckForm::kPrefix, CheckForm::kRange}) {
      Prepare(register_[static_cast<int>(form)], RegisterCheckSql(form));
      Prepare(omit_[static_cast<int>(form)], OmitCheckSql(form));
    }
  } catch (...) {
    Close();
    throw;
  }
}

FloorRegister::~FloorRegister() {
  Close();
}

void FloorRegister::Close() {
  for (Statement* s : {&register_[0], &register_[1], &omit_[0], &omit_[1]}) {
    sqlite3_finalize(s->handle);
    s->handle = nullptr;
  }
  sqlite3_close(db_);
  db_ = nullptr;
}

void FloorRegister::Prepare(Statement& s, const std::string& sql) {
  if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &s.handle, nullptr) != SQLITE_OK)
    throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
  s.g33 = sqlite3_bind_parameter_index(s.handle, ":G33");
  s.g33len = sqlite3_bind_parameter_index(s.handle, ":G33LEN");
  s.today = sqlite3_bind_parameter_index(s.handle, ":TODAY");
}

bool FloorRegister::Run(Statement& s, const std::string& code, const std::string& today) {
  sqlite3_stmt* st = s.handle;
  // Texts are bound in place with their terminator (length -1): SQLite then knows them to be
  // terminated and never copies them to read them as C strings, as substr() does on every
  // row. Given a length instead, it would make a terminated copy at each use.
  sqlite3_bind_text(st, s.g33, code.c_str(), -1, SQLITE_STATIC);
  if (s.g33len) sqlite3_bind_int64(st, s.g33len, static_cast<sqlite3_int64>(code.size()));
  if (s.today) sqlite3_bind_text(st, s.today, today.c_str(), -1, SQLITE_STATIC);
  const int rc = sqlite3_step(st);
  const bool found = rc == SQLITE_ROW && sqlite3_column_int(st, 0) == 1;
  sqlite3_reset(st);
  if (rc != SQLITE_ROW) throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
  return found;
}

bool FloorRegister::CheckRegister(const std::string& code, const std::string& today) {
  return Run(register_[static_cast<int>(FormOf(code))], code, today);
}

bool FloorRegister::CheckOmit(const std::string& code) {
  static const std::string kNone;
  return Run(omit_[static_cast<int>(FormOf(code))], code, kNone);
}

bool FloorRegister::CheckCode(const std::string& code, const std::string& today) {
  const bool registered = CheckRegister(code, today);
  const bool omitted = CheckOmit(code);
  return registered || omitted;
}

long long FloorRegister::QueryInt(const char* sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK)
    throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
  long long value = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
  sqlite3_finalize(st);
  return value;
}

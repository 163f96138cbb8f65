// Temporary folders and SQLite files for tests of the host's database side.
//
//   TempFolder dir;                                  // removed with everything in it
//   std::string db = dir.File("t.db3");
//   MakeSqliteFile(db, "CREATE TABLE t (a); INSERT INTO t VALUES (1);");
//   QuerySqlite(db, "SELECT group_concat(a) FROM t")  // "1"
#pragma once

#include <string>

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }  // without a trailing "/"
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Creates (or opens) the SQLite file and runs `sql` in it; the test fails on an error.
void MakeSqliteFile(const std::string& path, const std::string& sql);
// The first column of the first row of `sql` as text ("NULL" for null, "" for no row).
std::string QuerySqlite(const std::string& path, const std::string& sql);
// Writes bytes to a file.
void WriteBytes(const std::string& path, const std::string& bytes);

// kvtsample: writes a sample register of intellectual-property objects as a SQLite file, the
// way the host serves it to the module (database "ТРОИС", file db3/vodar.db3).

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "sample_content.h"

namespace {

const char kUsage[] =
    "Usage: kvtsample --out FILE [--objects N] [--seed N] [--tiny] [--declared-indexes-only]\n"
    "\n"
    "Writes a sample register of intellectual-property objects (tables vodar, vodar_g33,\n"
    "vodar_version, omit1532) to the SQLite file FILE, replacing it atomically.\n"
    "\n"
    "  --out FILE               the file to write\n"
    "  --objects N              number of registered objects (default 8000, at most 1000000);\n"
    "                           about ten code ranges each\n"
    "  --seed N                 seed of the generator (default 1532); the same seed gives the\n"
    "                           same register on any machine\n"
    "  --tiny                   ten objects with one code range each and ten rows of the\n"
    "                           order-1532 list, for measuring fixed costs\n"
    "  --declared-indexes-only  only the indexes of the tables' declared index lists, without\n"
    "                           the ones that serve the commodity-code checks\n"
    "  --help                   show this text\n";

const uint64_t kDefaultSeed = 1532;
const int kMaxObjects = 1000000;

struct Options {
  std::string out;
  uint64_t seed = kDefaultSeed;
  int objects = -1;
  bool tiny = false;
  bool declared_only = false;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool ParseNumber(const char* text, unsigned long long max, unsigned long long& value) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return errno == 0 && *end == '\0' && value <= max;
}

Options ParseArguments(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      return argv[++i];
    };
    unsigned long long n = 0;
    if (arg == "--out") {
      o.out = value();
      if (o.out.empty()) throw UsageError("--out needs a file name");
    } else if (arg == "--objects") {
      const char* v = value();
      if (!ParseNumber(v, kMaxObjects, n) || n == 0)
        throw UsageError("--objects takes a number from 1 to " + std::to_string(kMaxObjects) +
                         ", not '" + v + "'");
      o.objects = static_cast<int>(n);
    } else if (arg == "--seed") {
      const char* v = value();
      if (!ParseNumber(v, UINT64_MAX, n))
        throw UsageError(std::string("--seed takes a non-negative whole number, not '") + v + "'");
      o.seed = n;
    } else if (arg == "--tiny") {
      o.tiny = true;
    } else if (arg == "--declared-indexes-only") {
      o.declared_only = true;
    } else {
      throw UsageError("unknown argument '" + arg + "'");
    }
  }
  if (o.out.empty()) throw UsageError("--out FILE is required");
  if (o.tiny && o.objects >= 0) throw UsageError("--tiny and --objects exclude each other");
  return o;
}

// --- SQLite ---------------------------------------------------------------------------

// Column types: the register's string and memo fields are TEXT, integers INTEGER, dates
// "YYYY-MM-DD" TEXT. Names are upper case, in the order the tables declare them.
const char kSchema[] = R"sql(
CREATE TABLE vodar (
  REGNOM TEXT NOT NULL PRIMARY KEY,
  G31_12D TEXT,
  G31_12 TEXT,
  G31_12L TEXT,
  DESCRIPTION TEXT,
  F540IMG64 TEXT,
  F540IMGTYPE TEXT,
  F540IMGMINI64 TEXT,
  F540IMGMINITYPE TEXT,
  F540IMGMINIWIDTH INTEGER,
  F540IMGMINIHEIGHT INTEGER,
  F540IMGALT TEXT,
  NOTE TEXT,
  NPRAVO TEXT,
  F111 TEXT,
  F190 TEXT,
  DPRAVO TEXT,
  F151DATE TEXT,
  F526 TEXT,
  F732SNA TEXT,
  F740SNA TEXT,
  F591 TEXT,
  F511 TEXT,
  F511TEXT TEXT,
  G33TEXT TEXT,
  DATEEND TEXT,
  DATEEXCLUDE TEXT,
  COMM TEXT,
  LETTERSTEXT TEXT,
  TRADEMARK TEXT
);
CREATE TABLE vodar_g33 (
  REGNOM TEXT NOT NULL,
  G33MIN TEXT NOT NULL,
  G33MAX TEXT,
  G33MIN10 TEXT,
  G33MAX10 TEXT,
  DATEEND TEXT,
  PRIMARY KEY (REGNOM, G33MIN)
);
CREATE TABLE vodar_version (
  VERSION TEXT NOT NULL PRIMARY KEY,
  VERSION_TNVED TEXT,
  VERSIONID_TNVED INTEGER
);
CREATE TABLE omit1532 (
  G33 TEXT NOT NULL PRIMARY KEY,
  NPP INTEGER,
  G31_12 TEXT,
  NOTE TEXT,
  DATEEND TEXT,
  G33MIN10 TEXT,
  G33MAX10 TEXT
);
)sql";

// The secondary entries of the declared index lists (the first entry of each list is the
// primary key above).
const char kDeclaredIndexes[] = R"sql(
CREATE INDEX vodar_G31_12L ON vodar (G31_12L);
CREATE INDEX vodar_g33_G33MIN10 ON vodar_g33 (G33MIN10);
CREATE INDEX omit1532_G33MIN10 ON omit1532 (G33MIN10);
)sql";

// Indexes for the commodity-code checks. A full code is looked up as
// ":G33 BETWEEN G33MIN10 AND G33MAX10": with the G33MIN10 index alone the planner walks every
// entry below the code and reads each row for G33MAX10 and DATEEND (about 25 ms a check on
// 8000 objects). Keyed on the upper bound and covering the other two columns, the walk starts
// at the code and never leaves the index (about 1 ms for codes anywhere in the nomenclature,
// tens of microseconds for codes near registered ranges). The leading-part form compares
// substrings and cannot seek: it scans the table, whose row order reaches a match sooner than
// any index order would, so it gets no index.
const char kCheckIndexes[] = R"sql(
CREATE INDEX vodar_g33_check_range ON vodar_g33 (G33MAX10, G33MIN10, DATEEND);
CREATE INDEX omit1532_check_range ON omit1532 (G33MAX10, G33MIN10);
)sql";

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw std::runtime_error("cannot create " + path + ": " + message);
    }
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      throw std::runtime_error(message);
    }
  }

  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// A prepared INSERT whose parameters are bound in column order.
class Insert {
 public:
  Insert(Database& db, const char* sql) : db_(db.handle()) {
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
  }
  ~Insert() { sqlite3_finalize(stmt_); }
  Insert(const Insert&) = delete;
  Insert& operator=(const Insert&) = delete;

  Insert& Text(const std::string& v) {
    Check(sqlite3_bind_text(stmt_, ++column_, v.data(), static_cast<int>(v.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Insert& Text(const OptText& v) {
    return v ? Text(*v) : (Check(sqlite3_bind_null(stmt_, ++column_)), *this);
  }
  Insert& Int(const OptInt& v) {
    Check(v ? sqlite3_bind_int(stmt_, ++column_, *v) : sqlite3_bind_null(stmt_, ++column_));
    return *this;
  }
  void Run() {
    if (sqlite3_step(stmt_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    column_ = 0;
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db_));
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int column_ = 0;
};

class SqliteSink : public SampleSink {
 public:
  explicit SqliteSink(Database& db)
      : object_(db,
                "INSERT INTO vodar VALUES "
                "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
        range_(db, "INSERT INTO vodar_g33 VALUES (?,?,?,?,?,?)"),
        omit_(db, "INSERT INTO omit1532 VALUES (?,?,?,?,?,?,?)"),
        version_(db, "INSERT INTO vodar_version VALUES (?,?,?)") {}

  void Object(const SampleObject& o) override {
    object_.Text(o.regnom).Text(o.g31_12d).Text(o.g31_12).Text(o.g31_12l).Text(o.description);
    object_.Text(o.f540img64).Text(o.f540imgtype).Text(o.f540imgmini64).Text(o.f540imgminitype);
    object_.Int(o.f540imgminiwidth).Int(o.f540imgminiheight).Text(o.f540imgalt).Text(o.note);
    object_.Text(o.npravo).Text(o.f111).Text(o.f190).Text(o.dpravo).Text(o.f151date);
    object_.Text(o.f526).Text(o.f732sna).Text(o.f740sna).Text(o.f591).Text(o.f511);
    object_.Text(o.f511text).Text(o.g33text).Text(o.dateend).Text(o.dateexclude).Text(o.comm);
    object_.Text(o.letterstext).Text(o.trademark).Run();
  }
  void CodeRange(const SampleCodeRange& r) override {
    range_.Text(r.regnom).Text(r.g33min).Text(r.g33max).Text(r.g33min10).Text(r.g33max10);
    range_.Text(r.dateend).Run();
  }
  void Omit(const SampleOmit& r) override {
    omit_.Text(r.g33).Int(r.npp).Text(r.g31_12).Text(r.note).Text(r.dateend).Text(r.g33min10);
    omit_.Text(r.g33max10).Run();
  }
  void Version(const SampleVersion& v) override {
    version_.Text(v.version).Text(v.version_tnved).Int(v.versionid_tnved).Run();
  }

 private:
  Insert object_, range_, omit_, version_;
};

void WriteRegister(const std::string& path, const Options& options) {
  Database db(path);
  // The file is new and private until it is renamed into place: no journal is needed.
  db.Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA page_size = 4096;");
  db.Exec("BEGIN");
  db.Exec(kSchema);
  {
    SqliteSink sink(db);
    SampleSize size;
    if (options.tiny) {
      size.objects = 10;
      size.omit_rows = 10;
      size.max_ranges_per_object = 1;
    } else if (options.objects > 0) {
      size.objects = options.objects;
    }
    GenerateSampleRegister(options.seed, size, sink);
  }
  db.Exec(kDeclaredIndexes);
  if (!options.declared_only) db.Exec(kCheckIndexes);
  db.Exec("COMMIT");
  db.Exec("ANALYZE");
}

void SyncFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    int error = errno;
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot flush " + path + ": " + std::strerror(error));
  }
  close(fd);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  Options options;
  try {
    options = ParseArguments(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kvtsample: %s\n%s", e.what(), kUsage);
    return 2;
  }

  // Written beside the target under a name of its own, then renamed over it: a reader of the
  // old file never sees a half-written one.
  const std::string temp = options.out + ".tmp" + std::to_string(getpid());
  try {
    std::remove(temp.c_str());
    WriteRegister(temp, options);
    SyncFile(temp);
    if (std::rename(temp.c_str(), options.out.c_str()) != 0)
      throw std::runtime_error("cannot replace " + options.out + ": " + std::strerror(errno));
    SyncFile(FolderOf(options.out));
  } catch (const std::exception& e) {
    std::remove(temp.c_str());
    std::fprintf(stderr, "kvtsample: %s\n", e.what());
    return 1;
  }
  return 0;
}

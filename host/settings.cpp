#include "host/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "host/hosttext.h"
#include "host/trace.h"

namespace {

constexpr std::string_view kDatabases = "Databases";
constexpr std::string_view kDatabasePrefix = "Database:";
constexpr std::string_view kConfigPrefix = "Config:";
constexpr std::string_view kSqliteFile = "sqlite.file";
constexpr std::string_view kSqliteDriver = "SQLITE";

// What must be written as %XX in one kind of item.
enum class Item { Key, Value, Section };

bool NeedsEscape(Item item, std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c == '%' || c < 0x20 || c == 0x7F) return true;
  bool edge = i == 0 || i + 1 == s.size();
  if (edge && (c == ' ' || c == '\t')) return true;
  switch (item) {
    case Item::Key:
      return c == '=' || (i == 0 && (c == '[' || c == ';' || c == '#'));
    case Item::Section:
      return c == ']';
    case Item::Value:
      return false;
  }
  return false;
}

std::string Escape(Item item, std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (NeedsEscape(item, s, i)) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(s[i]));
      out += buf;
    } else {
      out += s[i];
    }
  }
  return out;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int hi = Hex(s[i + 1]), lo = Hex(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The section that holds the values of an IKVTConfig key path.
std::string ConfigSection(std::string_view path) {
  if (path == kDatabases || StartsWith(path, kDatabasePrefix) || StartsWith(path, kConfigPrefix))
    return std::string(kConfigPrefix) + std::string(path);
  return std::string(path);
}

std::string DatabaseSection(std::string_view database) {
  return std::string(kDatabasePrefix) + std::string(database);
}

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string Utf8(const WideString& w) {
  return w.ToUtf8();
}

}  // namespace

// --- IniDocument

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string_view line = Trim(raw);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      doc.sections_.push_back({Unescape(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    Line l;
    size_t eq = line.find('=');
    if (!line.empty() && line[0] != ';' && line[0] != '#' && eq != std::string_view::npos) {
      l.value = true;
      l.key = Unescape(Trim(line.substr(0, eq)));
      l.val = Unescape(Trim(line.substr(eq + 1)));
    } else {
      l.raw = std::string(raw);
    }
    doc.sections_.back().lines.push_back(std::move(l));
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Section& s : sections_) {
    if (&s != &sections_.front()) out += '[' + Escape(Item::Section, s.name) + "]\n";
    for (const Line& l : s.lines) {
      if (l.value)
        out += Escape(Item::Key, l.key) + '=' + Escape(Item::Value, l.val) + '\n';
      else
        out += l.raw + '\n';
    }
  }
  return out;
}

IniDocument::Section* IniDocument::Find(std::string_view name) {
  for (size_t i = 1; i < sections_.size(); ++i)
    if (sections_[i].name == name) return &sections_[i];
  return nullptr;
}

const IniDocument::Section* IniDocument::Find(std::string_view name) const {
  return const_cast<IniDocument*>(this)->Find(name);
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  if (const Section* s = Find(section))
    for (const Line& l : s->lines)
      if (l.value && l.key == key) return l.val;
  return std::nullopt;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (sections_.empty()) sections_.push_back({});
  Section* s = Find(section);
  if (s == nullptr) {
    // A blank line between sections, kept in the document so that it reads back equal.
    std::vector<Line>& last = sections_.back().lines;
    if (sections_.size() > 1 || !last.empty())
      if (last.empty() || last.back().value || !last.back().raw.empty()) last.push_back({});
    sections_.push_back({std::string(section), {}});
    s = &sections_.back();
  }
  for (Line& l : s->lines) {
    if (l.value && l.key == key) {
      if (l.val == value) return false;
      l.val = std::string(value);
      return true;
    }
  }
  // After the last value of the section, before trailing blank lines and comments.
  auto at = s->lines.end();
  while (at != s->lines.begin() && !std::prev(at)->value) --at;
  Line l;
  l.value = true;
  l.key = std::string(key);
  l.val = std::string(value);
  s->lines.insert(at, std::move(l));
  return true;
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
  Section* s = Find(section);
  if (s == nullptr) return false;
  for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
    if (it->value && it->key == key) {
      s->lines.erase(it);
      return true;
    }
  }
  return false;
}

bool IniDocument::RemoveSection(std::string_view section) {
  for (size_t i = 1; i < sections_.size(); ++i) {
    if (sections_[i].name == section) {
      sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section))
    for (const Line& l : s->lines)
      if (l.value) keys.push_back(l.key);
  return keys;
}

// --- Atomic file replacement

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  static std::atomic<unsigned> counter{0};
  std::string temp = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(++counter);
  auto fail = [&](const char* what) {
    *error = std::string(what) + " '" + path + "': " + std::strerror(errno);
    return false;
  };
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot create");
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      errno = saved;
      return fail("cannot write");
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return fail("cannot write");
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(temp.c_str());
    *error = "cannot replace '" + path + "': " + std::strerror(saved);
    return false;
  }
  return true;
}

bool IsReadonlySetting(std::string_view value) {
  std::string_view v = Trim(value);
  for (std::string_view yes : {"Да", "yes", "true", "1"})
    if (EqualsNoCase(v, yes)) return true;
  return false;
}

// --- THostSettings

THostSettings::THostSettings(std::string path) : path_(std::move(path)) {
  std::string bytes;
  if (ReadFile(path_, &bytes)) doc_ = IniDocument::Parse(bytes);
}

THostSettings::~THostSettings() = default;

void THostSettings::SetSqliteFileOverride(std::string file) {
  std::lock_guard lock(mutex_);
  sqlite_file_override_ = std::move(file);
  ++generation_;
}

template <class F>
bool THostSettings::Mutate(F change, bool database_change) {
  std::lock_guard lock(mutex_);
  // Another process may have written the file since: start from what it holds now.
  std::string bytes;
  if (ReadFile(path_, &bytes)) {
    IniDocument current = IniDocument::Parse(bytes);
    if (!(current == doc_)) {
      doc_ = std::move(current);
      if (database_change) ++generation_;
    }
  }
  if (!change(doc_)) return true;
  if (database_change) ++generation_;
  std::string error;
  if (WriteFileAtomically(path_, doc_.Serialize(), &error)) {
    last_write_error_.clear();
    return true;
  }
  if (error != last_write_error_) {
    std::fprintf(stderr, "kvthost: warning: the settings cannot be saved: %s\n", error.c_str());
    last_write_error_ = error;
  }
  return false;
}

std::optional<std::string> THostSettings::ReadConfig(std::string_view path,
                                                     std::string_view name) const {
  std::lock_guard lock(mutex_);
  return doc_.Get(ConfigSection(path), name);
}

bool THostSettings::WriteConfig(std::string_view path, std::string_view name,
                                std::string_view value) {
  std::string section = ConfigSection(path);
  return Mutate([&](IniDocument& d) { return d.Set(section, name, value); }, false);
}

std::vector<std::string> THostSettings::DatabaseNames() const {
  std::lock_guard lock(mutex_);
  return doc_.Keys(kDatabases);
}

std::string THostSettings::EffectiveParamLocked(std::string_view database,
                                                std::string_view key) const {
  if (key == kSqliteFile && sqlite_file_override_) {
    auto driver = doc_.Get(kDatabases, database);
    if (driver && EqualsNoCase(Trim(*driver), kSqliteDriver)) return *sqlite_file_override_;
  }
  return doc_.Get(DatabaseSection(database), key).value_or(std::string());
}

std::optional<DatabaseSettings> THostSettings::Database(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto driver = doc_.Get(kDatabases, name);
  if (!driver) return std::nullopt;
  DatabaseSettings s;
  s.driver = std::string(Trim(*driver));
  s.file = EffectiveParamLocked(name, kSqliteFile);
  s.readonly = IsReadonlySetting(EffectiveParamLocked(name, "readonly"));
  return s;
}

std::string THostSettings::DatabaseParam(std::string_view database, std::string_view key) const {
  std::lock_guard lock(mutex_);
  return EffectiveParamLocked(database, key);
}

bool THostSettings::SetDatabaseDriver(std::string_view database, std::string_view driver) {
  return Mutate([&](IniDocument& d) { return d.Set(kDatabases, database, driver); }, true);
}

bool THostSettings::SetDatabaseParam(std::string_view database, std::string_view key,
                                     std::string_view value) {
  return Mutate(
      [&](IniDocument& d) {
        bool changed = false;
        if (!d.Get(kDatabases, database)) changed = d.Set(kDatabases, database, "");
        return d.Set(DatabaseSection(database), key, value) || changed;
      },
      true);
}

uint64_t THostSettings::DatabaseGeneration() const {
  return generation_.load(std::memory_order_acquire);
}

// --- IKVTConfig

WideString THostSettings::ReadValue(const WideString& path, const WideString& name,
                                    const WideString& default_value) {
  auto value = ReadConfig(Utf8(path), Utf8(name));
  WideString answer = value ? WideString::FromUtf8(*value) : default_value;
  if (Tracing())
    Trace("IKVTConfig.ReadValue " + Utf8(path) + " " + Utf8(name) + " -> " + answer.ToUtf8());
  return answer;
}

HRESULT THostSettings::WriteValue(const WideString& path, const WideString& name,
                                  const WideString& value) {
  if (Tracing())
    Trace("IKVTConfig.WriteValue " + Utf8(path) + " " + Utf8(name) + " = " + Utf8(value));
  return WriteConfig(Utf8(path), Utf8(name), Utf8(value)) ? S_OK : E_FAIL;
}

// --- IKVTDatabaseConfig

int32_t THostSettings::GetDatabaseCount() {
  int32_t n = static_cast<int32_t>(DatabaseNames().size());
  if (Tracing()) Trace("IKVTDatabaseConfig.GetDatabaseCount -> " + std::to_string(n));
  return n;
}

WideString THostSettings::GetDatabaseName(int32_t index) {
  std::vector<std::string> names = DatabaseNames();
  std::string name = index >= 0 && static_cast<size_t>(index) < names.size()
                         ? names[static_cast<size_t>(index)]
                         : std::string();
  if (Tracing())
    Trace("IKVTDatabaseConfig.GetDatabaseName " + std::to_string(index) + " -> " + name);
  return WideString::FromUtf8(name);
}

HRESULT THostSettings::AddDatabase(const WideString& database) {
  std::string db = Utf8(database);
  if (Tracing()) Trace("IKVTDatabaseConfig.AddDatabase " + db);
  if (db.empty()) return E_INVALIDARG;
  bool saved = Mutate(
      [&](IniDocument& d) { return !d.Get(kDatabases, db) && d.Set(kDatabases, db, ""); }, true);
  return saved ? S_OK : E_FAIL;
}

HRESULT THostSettings::RemoveDatabase(const WideString& database) {
  std::string db = Utf8(database);
  if (Tracing()) Trace("IKVTDatabaseConfig.RemoveDatabase " + db);
  bool found = false;
  bool saved = Mutate(
      [&](IniDocument& d) {
        found = d.Remove(kDatabases, db);
        bool params = d.RemoveSection(DatabaseSection(db));
        return found || params;
      },
      true);
  if (!saved) return E_FAIL;
  return found ? S_OK : S_FALSE;
}

HRESULT THostSettings::SetDriver(const WideString& database, const WideString& driver) {
  std::string db = Utf8(database);
  if (Tracing()) Trace("IKVTDatabaseConfig.SetDriver " + db + " " + Utf8(driver));
  if (db.empty()) return E_INVALIDARG;
  return SetDatabaseDriver(db, Utf8(driver)) ? S_OK : E_FAIL;
}

WideString THostSettings::GetDriver(const WideString& database) {
  std::string db = Utf8(database);
  std::string driver;
  {
    std::lock_guard lock(mutex_);
    driver = doc_.Get(kDatabases, db).value_or(std::string());
  }
  if (Tracing()) Trace("IKVTDatabaseConfig.GetDriver " + db + " -> " + driver);
  return WideString::FromUtf8(driver);
}

WideString THostSettings::GetParam(const WideString& database, const WideString& key) {
  std::string value = DatabaseParam(Utf8(database), Utf8(key));
  if (Tracing())
    Trace("IKVTDatabaseConfig.GetParam " + Utf8(database) + " " + Utf8(key) + " -> " + value);
  return WideString::FromUtf8(value);
}

HRESULT THostSettings::SetParam(const WideString& database, const WideString& key,
                                const WideString& value) {
  std::string db = Utf8(database);
  if (Tracing()) Trace("IKVTDatabaseConfig.SetParam " + db + " " + Utf8(key) + " = " + Utf8(value));
  if (db.empty() || key.empty()) return E_INVALIDARG;
  return SetDatabaseParam(db, Utf8(key), Utf8(value)) ? S_OK : E_FAIL;
}

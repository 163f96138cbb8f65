// IStream (the part the system uses) and an in-memory stream.
#pragma once

#include <string>

#include "platform/com/object.h"

constexpr uint32_t STREAM_SEEK_SET = 0;
constexpr uint32_t STREAM_SEEK_CUR = 1;
constexpr uint32_t STREAM_SEEK_END = 2;

struct STATSTG {
  uint64_t cbSize = 0;
};

struct IStream : IUnknown {
  static constexpr GUID iid = "{0000000C-0000-0000-C000-000000000046}"_guid;
  // Reads up to `count` bytes; *read receives how many (may be null).
  virtual HRESULT Read(void* buffer, uint32_t count, uint32_t* read) = 0;
  virtual HRESULT Write(const void* buffer, uint32_t count, uint32_t* written) = 0;
  // Moves the position; *new_position receives it (may be null).
  virtual HRESULT Seek(int64_t move, uint32_t origin, uint64_t* new_position) = 0;
  virtual HRESULT SetSize(uint64_t size) = 0;
  virtual HRESULT Stat(STATSTG* stat, uint32_t flags) = 0;

 protected:
  ~IStream() = default;
};

// A stream over a byte buffer it owns. The position may move past the end (reading there
// gives nothing; writing there fills the gap with zero bytes). The buffer holds at most
// kMaxSize bytes: a write or SetSize beyond that answers STG_E_MEDIUMFULL.
class MemoryStream : public Implements<IStream> {
 public:
  static constexpr uint64_t kMaxSize = 0x7FFFFFFF;

  MemoryStream() = default;
  explicit MemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  HRESULT Read(void* buffer, uint32_t count, uint32_t* read) override;
  HRESULT Write(const void* buffer, uint32_t count, uint32_t* written) override;
  HRESULT Seek(int64_t move, uint32_t origin, uint64_t* new_position) override;
  HRESULT SetSize(uint64_t size) override;
  HRESULT Stat(STATSTG* stat, uint32_t flags) override;

  const std::string& Bytes() const { return data_; }
  uint64_t Position() const { return pos_; }

 private:
  std::string data_;
  uint64_t pos_ = 0;
};

// Reads a whole stream from its start (raises EOleSysError on a failing stream).
std::string ReadWholeStream(IStream* stream);

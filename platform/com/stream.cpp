#include "platform/com/stream.h"

#include <cstring>

#include "platform/rtl/exceptions.h"

HRESULT MemoryStream::Read(void* buffer, uint32_t count, uint32_t* read) {
  if (buffer == nullptr && count != 0) return STG_E_INVALIDPOINTER;
  uint64_t avail = pos_ < data_.size() ? data_.size() - pos_ : 0;
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(avail, count));
  if (n) std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  if (read) *read = n;
  return n < count ? S_FALSE : S_OK;
}

HRESULT MemoryStream::Write(const void* buffer, uint32_t count, uint32_t* written) {
  if (written) *written = 0;
  if (buffer == nullptr && count != 0) return STG_E_INVALIDPOINTER;
  if (pos_ + count > kMaxSize) return STG_E_MEDIUMFULL;
  if (pos_ > data_.size()) data_.resize(pos_);
  if (pos_ + count > data_.size()) data_.resize(pos_ + count);
  if (count) std::memcpy(data_.data() + pos_, buffer, count);
  pos_ += count;
  if (written) *written = count;
  return S_OK;
}

HRESULT MemoryStream::Seek(int64_t move, uint32_t origin, uint64_t* new_position) {
  int64_t base = origin == STREAM_SEEK_SET ? 0
                 : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(pos_)
                 : origin == STREAM_SEEK_END ? static_cast<int64_t>(data_.size())
                                             : -1;
  if (base < 0) return STG_E_INVALIDFUNCTION;
  // A target before the start, or beyond what 64 bits can count, is refused.
  int64_t target = 0;
  if (__builtin_add_overflow(base, move, &target) || target < 0) return STG_E_INVALIDFUNCTION;
  pos_ = static_cast<uint64_t>(target);
  if (new_position) *new_position = pos_;
  return S_OK;
}

HRESULT MemoryStream::SetSize(uint64_t size) {
  if (size > kMaxSize) return STG_E_MEDIUMFULL;
  data_.resize(size);
  return S_OK;
}

HRESULT MemoryStream::Stat(STATSTG* stat, uint32_t) {
  if (stat == nullptr) return STG_E_INVALIDPOINTER;
  stat->cbSize = data_.size();
  return S_OK;
}

std::string ReadWholeStream(IStream* stream) {
  if (stream == nullptr) throw EInvalidPointer("Invalid pointer operation");
  HRESULT hr = stream->Seek(0, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) throw EOleSysError(hr);
  std::string out;
  char buf[8192];
  for (;;) {
    uint32_t got = 0;
    hr = stream->Read(buf, sizeof buf, &got);
    if (FAILED(hr)) throw EOleSysError(hr);
    out.append(buf, got);
    if (got == 0) break;
  }
  return out;
}

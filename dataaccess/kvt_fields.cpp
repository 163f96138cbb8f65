#include "dataaccess/kvt_fields.h"

#include "platform/com/guid.h"

namespace {
constexpr int32_t kGuidTextSize = 36;        // without braces
constexpr int32_t kBracedGuidTextSize = 38;  // with them

// The first `count` characters (code points) of UTF-8 text.
std::string_view FirstChars(std::string_view utf8, size_t count) {
  size_t pos = 0;
  for (size_t n = 0; n < count && pos < utf8.size(); ++n) {
    ++pos;
    while (pos < utf8.size() && (static_cast<unsigned char>(utf8[pos]) & 0xC0) == 0x80) ++pos;
  }
  return utf8.substr(0, pos);
}

// Makes TKVTGUIDFIeld the default class for GUID columns while this unit is loaded. The
// class table belongs to the platform library, which outlives the module: at unload the
// previous class comes back, so nobody is left with a factory in unloaded code.
class GuidFieldRegistration {
 public:
  GuidFieldRegistration() : previous_(SetDefaultFieldClass(ftGuid, &NewField<TKVTGUIDFIeld>)) {}
  ~GuidFieldRegistration() {
    if (DefaultFieldClass(ftGuid) == &NewField<TKVTGUIDFIeld>)
      SetDefaultFieldClass(ftGuid, previous_);
  }
  GuidFieldRegistration(const GuidFieldRegistration&) = delete;
  GuidFieldRegistration& operator=(const GuidFieldRegistration&) = delete;

 private:
  FieldFactory previous_;
};
const GuidFieldRegistration g_guid_field_registration;
}  // namespace

TKVTAutoincField::TKVTAutoincField(Component* owner) : IntegerField(owner) {}

TKVTGUIDFIeld::TKVTGUIDFIeld(Component* owner) : StringField(owner) {
  // The string field's default size does not apply: a GUID column starts at 36.
  SetSizeUnchecked(kGuidTextSize);
  SetDataType(ftGuid);
}

void TKVTGUIDFIeld::CheckSize(int32_t size) const {
  if (size != kGuidTextSize && size != kBracedGuidTextSize)
    throw EDatabaseError("Invalid field size");
}

std::string TKVTGUIDFIeld::GetAsString() const {
  std::string text = StringField::GetAsString();
  if (text.empty() || text.front() != '{') return text;
  return std::string(FirstChars(std::string_view(text).substr(1), kGuidTextSize));
}

void SetGUIDValue(Field& field, const GUID& guid) {
  field.SetAsString(GUIDToString(guid).substr(1, kGuidTextSize));
}

EPostError::EPostError(DataSet* dataset, std::string message)
    : Exception(std::move(message)), dataset_(dataset) {}
EPostError::~EPostError() = default;
EKeyViolation::~EKeyViolation() = default;
EOpenError::~EOpenError() = default;

TIndexData MakeIndexData(bool is_index_name, std::string text) {
  return TIndexData{is_index_name, std::move(text)};
}

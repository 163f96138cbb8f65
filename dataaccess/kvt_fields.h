// Field classes of the client tables, the errors the tables raise and the index-selection
// record.
//
//   TKVTAutoincField  an integer column whose values the server assigns
//   TKVTGUIDFIeld     a GUID column kept as text, read without braces; the default field
//                     class for ftGuid from the moment this unit is loaded
//
// SplitString (kvt_strutils) is part of this unit's vocabulary and comes with it.
#pragma once

#include <string>

#include "dataaccess/kvt_strutils.h"
#include "platform/com/types.h"
#include "platform/db/dataset.h"
#include "platform/db/fields.h"
#include "platform/rtl/exceptions.h"

// An integer column whose values the server assigns. The class itself is the mark: a
// client table looks for it when it opens, and a table description reports it as
// auto-increment.
class TKVTAutoincField : public IntegerField {
 public:
  explicit TKVTAutoincField(Component* owner = nullptr);
};

// A GUID column kept as text. Size 36 (without braces) or 38 (with them); its text reads
// without braces whichever form is stored.
class TKVTGUIDFIeld : public StringField {
 public:
  explicit TKVTGUIDFIeld(Component* owner = nullptr);  // size 36, data type ftGuid

 protected:
  // Only 36 and 38: EDatabaseError "Invalid field size" otherwise.
  void CheckSize(int32_t size) const override;
  // A stored "{...}" reads as the 36 characters after the brace; other text unchanged.
  std::string GetAsString() const override;
  int GetDefaultWidth() const override { return 36; }
};

// Stores `guid` in `field` as its 36 upper-case characters without braces.
void SetGUIDValue(Field& field, const GUID& guid);

// A post failed on `dataset` (not owned; it outlives the exception's handling).
class EPostError : public Exception {
 public:
  EPostError(DataSet* dataset, std::string message);
  ~EPostError() override;
  DataSet* GetDataSet() const noexcept { return dataset_; }

 private:
  DataSet* dataset_;
};

// Posting a row failed because its key is already there.
class EKeyViolation : public EPostError {
 public:
  using EPostError::EPostError;
  ~EKeyViolation() override;
};

// Opening a dependent table failed.
class EOpenError : public Exception {
 public:
  using Exception::Exception;
  ~EOpenError() override;
};

// Which order to select: an index by name (IsIndexName) or a field list separated by ";".
struct TIndexData {
  bool IsIndexName = false;
  std::string Text;
};

TIndexData MakeIndexData(bool is_index_name, std::string text);

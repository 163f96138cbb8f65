// Data packets: how rows, change logs and apply results travel between a client data set
// and an application server's provider (IAppServer). Both sides use this header; every
// packet is a Variant, so it crosses IDispatch unchanged.
//
// All arrays are one-dimensional variant arrays with lower bound 0 (Variant::Array).
//
// Column description (one per column, in column order):
//   [0] name          OleStr or String, not empty, unique in the packet (without regard
//                     to case)
//   [1] data type     Integer, a field-type code 0 .. 41 (FieldType)
//   [2] size          Integer >= 0; the maximum number of characters of a string column
//                     (1 .. 8192), the bytes of ftBytes/ftVarBytes, 0 for types without
//                     a size (ignored for those)
//   [3] required      Boolean
//   [4] provider flags Integer, pfInUpdate | pfInWhere | pfInKey | pfHidden
//
// Data packet (the result of AS_GetRecords):
//   [0] kDataPacketTag   Integer
//   [1] columns          array of column descriptions
//   [2] rows             array of rows; each row an array of exactly one value per column.
//                        A value is Null for a null, otherwise anything that converts to
//                        the column's type (the canonical kinds are listed in fields.h):
//                        texts as OleStr or String, integers, floats, Boolean, dates as
//                        Date (or ISO text), binary as an array of Byte.
//
// Delta packet (the Delta of AS_ApplyUpdates): the pending changes, in the order they
// must be applied.
//   [0] kDeltaPacketTag  Integer
//   [1] columns          array of column descriptions (the data fields)
//   [2] changes          array of changes, each:
//                          [0] change id   Integer, unique in the packet
//                          [1] kind        Integer, UpdateKind
//                          [2] original    row array (modify, delete), Null for insert
//                          [3] current     row array (modify, insert), Null for delete
//                        A modify carries the whole row in both forms; the server finds the
//                        row by the original values of the pfInKey columns (all pfInWhere
//                        columns when none is a key) and writes the pfInUpdate columns.
//
// Apply result (the result of AS_ApplyUpdates):
//   [0] kResultPacketTag Integer
//   [1] rolled back      Boolean: true when the server applied nothing (too many errors);
//                        false when every change not listed below was applied
//   [2] refused          array of refused changes, each:
//                          [0] change id   Integer (of the delta)
//                          [1] message     OleStr or String, the server's reason
//                          [2] error code  Integer (kKeyViolation for a duplicate key)
//   An Empty or Null result stands for "all applied".
//
// Parameters (the Params of AS_GetRecords): Empty or Null for none, otherwise an array of
// parameters, each [0] name, [1] data type (Integer), [2] parameter type (Integer,
// ParamType), [3] value (Empty when unset).
//
// Decoders validate everything they read and raise EDatabaseError naming what is wrong
// (which row, which column); they never leave half-decoded results behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/variant.h"
#include "platform/db/fields.h"
#include "platform/db/params.h"

inline constexpr int32_t kDataPacketTag = 0x4B445031;    // "KDP1"
inline constexpr int32_t kDeltaPacketTag = 0x4B444C31;   // "KDL1"
inline constexpr int32_t kResultPacketTag = 0x4B445231;  // "KDR1"

// The error code of a duplicate key (EDBClient, refused changes).
inline constexpr int32_t kKeyViolation = 0x2601;

enum UpdateKind : int32_t { ukModify = 0, ukInsert = 1, ukDelete = 2 };

struct PacketColumn {
  std::string name;  // UTF-8
  FieldType type = ftUnknown;
  int32_t size = 0;
  bool required = false;
  ProviderFlags flags = pfInUpdate | pfInWhere;
};

struct DataPacket {
  std::vector<PacketColumn> columns;
  // Row-major canonical values: row r, column c at cells[r * columns.size() + c].
  std::vector<Variant> cells;
  int32_t row_count = 0;
};

struct DeltaChange {
  int32_t id = 0;
  UpdateKind kind = ukModify;
  std::vector<Variant> original;  // empty for an insert
  std::vector<Variant> current;   // empty for a delete
};

struct DeltaPacket {
  std::vector<PacketColumn> columns;
  std::vector<DeltaChange> changes;
};

struct RefusedChange {
  int32_t id = 0;
  std::string message;  // UTF-8
  int32_t error_code = 0;
};

struct ApplyResult {
  bool rolled_back = false;
  std::vector<RefusedChange> refused;
};

// Data packets. The encoder moves the values out of `rows` (each row one value per
// column). The decoder takes the packet by rvalue and moves the values out of it; each
// value is converted to its column's canonical kind and checked (size of texts, range).
Variant EncodeDataPacket(const std::vector<PacketColumn>& columns,
                         std::vector<std::vector<Variant>> rows);
DataPacket DecodeDataPacket(Variant&& packet);

Variant EncodeDeltaPacket(DeltaPacket&& delta);
DeltaPacket DecodeDeltaPacket(const Variant& packet);

Variant EncodeApplyResult(const ApplyResult& result);
ApplyResult DecodeApplyResult(const Variant& packet);

Variant EncodeParams(const Params& params);
// Replaces the entries of `params` with the decoded ones (the list is unchanged on error).
void DecodeParams(const Variant& packet, Params& params);

// The description of one column, and its decoder (for both sides' own use).
Variant EncodeColumn(const PacketColumn& column);
PacketColumn DecodeColumn(const Variant& description, int index);

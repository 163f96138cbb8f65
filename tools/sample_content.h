// The rows of a sample register: registered objects with their holders, images and notes,
// the commodity-code ranges of each object, the list of goods of order 1532 and the version
// row. Everything is drawn from the seed alone, so a seed gives the same register anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

using OptText = std::optional<std::string>;
using OptInt = std::optional<int>;

// One row of vodar, members in the table's column order. Dates are "YYYY-MM-DD".
struct SampleObject {
  std::string regnom;
  OptText g31_12d, g31_12, g31_12l, description;
  OptText f540img64, f540imgtype, f540imgmini64, f540imgminitype;
  OptInt f540imgminiwidth, f540imgminiheight;
  OptText f540imgalt, note, npravo, f111, f190, dpravo, f151date, f526, f732sna, f740sna, f591,
      f511, f511text, g33text, dateend, dateexclude, comm, letterstext, trademark;
};

// One row of vodar_g33. g33max empty: the range ends at g33min.
struct SampleCodeRange {
  std::string regnom, g33min;
  OptText g33max;
  std::string g33min10, g33max10;
  OptText dateend;
};

// One row of omit1532.
struct SampleOmit {
  std::string g33;
  int npp = 0;
  OptText g31_12, note, dateend;
  std::string g33min10, g33max10;
};

struct SampleVersion {
  std::string version, version_tnved;
  int versionid_tnved = 0;
};

// Receives the rows as they are made (objects and their ranges interleaved), so a large
// register never sits in memory.
class SampleSink {
 public:
  virtual ~SampleSink() = default;
  virtual void Object(const SampleObject& row) = 0;
  virtual void CodeRange(const SampleCodeRange& row) = 0;
  virtual void Omit(const SampleOmit& row) = 0;
  virtual void Version(const SampleVersion& row) = 0;
};

struct SampleSize {
  int objects = 8000;
  int omit_rows = 1500;
  int max_ranges_per_object = 60;  // 1: every object gets exactly one range
};

void GenerateSampleRegister(uint64_t seed, const SampleSize& size, SampleSink& sink);

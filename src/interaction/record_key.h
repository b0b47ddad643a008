// The key every record begins with, found or stored: tables are sorted by it, and the merge and
// the spilled runs move records they know only by it and their size.
#pragma once

#include <cstdint>
#include <cstring>
#include <tuple>

namespace varpair {

// The first three words of every record, found or stored.
struct RecordKey {
  std::int32_t snp0, snp1, label;
};

inline RecordKey key_of(const void* record) {
  RecordKey k;
  std::memcpy(&k, record, sizeof k);
  return k;
}

inline bool key_less(const RecordKey& x, const RecordKey& y) {
  return std::tie(x.snp0, x.snp1, x.label) < std::tie(y.snp0, y.snp1, y.label);
}

}  // namespace varpair

// Unicode character classes for the pretokenizers: two packed lookup tables
// (2 bits and 4 bits per code point) built once from the General_Category
// data of utf8proc plus the 25 White_Space code points, shared read-only by
// all threads. Every lookup is safe for any 32-bit value: code points at or
// above 0x110000 (which decoding invalid UTF-8 can produce) are `Other`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvik::pretokenize {

enum class CharClass : uint8_t { Letter = 0, Number = 1, Space = 2, Other = 3 };
enum class DsCharClass : uint8_t { Letter = 0, Number = 1, Space = 2, Mark = 3, PunctSymbol = 4, Other = 5 };

inline constexpr uint32_t CODE_POINT_LIMIT = 0x110000;
inline constexpr size_t CLASS_TABLE_BYTES = 0x44000;     // 4 code points per byte
inline constexpr size_t DS_CLASS_TABLE_BYTES = 0x88000;  // 2 code points per byte

// The packed tables; the first call builds them (concurrent first callers
// wait for the one builder), later calls are one acquire load.
const uint8_t* class_table();
const uint8_t* ds_class_table();

// Lookups with a table pointer the caller already holds (the scanners keep it
// for a whole text). Out-of-range values read nothing and give `Other`.
inline CharClass class_in(const uint8_t* table, uint32_t cp) {
  if (cp >= CODE_POINT_LIMIT) return CharClass::Other;
  return static_cast<CharClass>((table[cp >> 2] >> ((cp & 3) * 2)) & 3);
}
inline DsCharClass ds_class_in(const uint8_t* ds_table, uint32_t cp) {
  if (cp >= CODE_POINT_LIMIT) return DsCharClass::Other;
  return static_cast<DsCharClass>((ds_table[cp >> 1] >> ((cp & 1) * 4)) & 0xF);
}
// Marks count as letters; punctuation and symbols fold into `Other`.
inline CharClass marks_join_in(const uint8_t* ds_table, uint32_t cp) {
  // Indexed by DsCharClass: Letter, Number, Space, Mark, PunctSymbol, Other.
  static constexpr uint8_t fold[8] = {0, 1, 2, 0, 3, 3, 3, 3};
  return static_cast<CharClass>(fold[static_cast<uint8_t>(ds_class_in(ds_table, cp)) & 7]);
}

CharClass class_of(uint32_t cp);
CharClass class_of_marks_join(uint32_t cp);
DsCharClass ds_class_of(uint32_t cp);

}  // namespace morvik::pretokenize

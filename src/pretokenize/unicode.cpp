#include "pretokenize/unicode.h"

#include <utf8proc.h>

#include <memory>

namespace morvik::pretokenize {

namespace {

// White_Space: exactly these 25 code points. U+001C..U+001F are not among
// them (they are controls), and U+200B (zero-width space) is a format char.
constexpr uint32_t WHITE_SPACE[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
                                    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                                    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

uint8_t plain_class(utf8proc_category_t cat) {
  switch (cat) {
    case UTF8PROC_CATEGORY_LU: case UTF8PROC_CATEGORY_LL: case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM: case UTF8PROC_CATEGORY_LO:
      return static_cast<uint8_t>(CharClass::Letter);
    case UTF8PROC_CATEGORY_ND: case UTF8PROC_CATEGORY_NL: case UTF8PROC_CATEGORY_NO:
      return static_cast<uint8_t>(CharClass::Number);
    default:
      return static_cast<uint8_t>(CharClass::Other);
  }
}

uint8_t ds_class(utf8proc_category_t cat) {
  switch (cat) {
    case UTF8PROC_CATEGORY_LU: case UTF8PROC_CATEGORY_LL: case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM: case UTF8PROC_CATEGORY_LO:
      return static_cast<uint8_t>(DsCharClass::Letter);
    case UTF8PROC_CATEGORY_ND: case UTF8PROC_CATEGORY_NL: case UTF8PROC_CATEGORY_NO:
      return static_cast<uint8_t>(DsCharClass::Number);
    case UTF8PROC_CATEGORY_MN: case UTF8PROC_CATEGORY_MC: case UTF8PROC_CATEGORY_ME:
      return static_cast<uint8_t>(DsCharClass::Mark);
    case UTF8PROC_CATEGORY_PC: case UTF8PROC_CATEGORY_PD: case UTF8PROC_CATEGORY_PS:
    case UTF8PROC_CATEGORY_PE: case UTF8PROC_CATEGORY_PI: case UTF8PROC_CATEGORY_PF:
    case UTF8PROC_CATEGORY_PO: case UTF8PROC_CATEGORY_SM: case UTF8PROC_CATEGORY_SC:
    case UTF8PROC_CATEGORY_SK: case UTF8PROC_CATEGORY_SO:
      return static_cast<uint8_t>(DsCharClass::PunctSymbol);
    default:
      return static_cast<uint8_t>(DsCharClass::Other);
  }
}

// One byte per code point first, so that the white-space pass can simply
// overwrite; then packed. Categories never overlap, so only that pass
// overwrites anything.
std::unique_ptr<uint8_t[]> unpacked(uint8_t (*classify)(utf8proc_category_t), uint8_t space) {
  auto flat = std::make_unique<uint8_t[]>(CODE_POINT_LIMIT);
  for (uint32_t cp = 0; cp < CODE_POINT_LIMIT; ++cp)
    flat[cp] = classify(utf8proc_category(static_cast<utf8proc_int32_t>(cp)));
  for (uint32_t cp : WHITE_SPACE) flat[cp] = space;
  return flat;
}

const uint8_t* build_class_table() {
  static uint8_t packed[CLASS_TABLE_BYTES];
  auto flat = unpacked(plain_class, static_cast<uint8_t>(CharClass::Space));
  for (size_t k = 0; k < CLASS_TABLE_BYTES; ++k) {
    const uint8_t* c = &flat[4 * k];
    packed[k] = static_cast<uint8_t>(c[0] | (c[1] << 2) | (c[2] << 4) | (c[3] << 6));
  }
  return packed;
}

const uint8_t* build_ds_class_table() {
  static uint8_t packed[DS_CLASS_TABLE_BYTES];
  auto flat = unpacked(ds_class, static_cast<uint8_t>(DsCharClass::Space));
  for (size_t k = 0; k < DS_CLASS_TABLE_BYTES; ++k)
    packed[k] = static_cast<uint8_t>(flat[2 * k] | (flat[2 * k + 1] << 4));
  return packed;
}

}  // namespace

// Function-local statics: the compiler's once-guard (acquire load on the fast
// path, the builder runs exactly once under the guard).
const uint8_t* class_table() {
  static const uint8_t* const table = build_class_table();
  return table;
}

const uint8_t* ds_class_table() {
  static const uint8_t* const table = build_ds_class_table();
  return table;
}

CharClass class_of(uint32_t cp) { return class_in(class_table(), cp); }
CharClass class_of_marks_join(uint32_t cp) { return marks_join_in(ds_class_table(), cp); }
DsCharClass ds_class_of(uint32_t cp) { return ds_class_in(ds_class_table(), cp); }

}  // namespace morvik::pretokenize

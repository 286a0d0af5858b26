// Fixed-width names used throughout the library, and bit helpers.
#ifndef RVX_CORE_TYPES_H_
#define RVX_CORE_TYPES_H_

#include <cstdint>
#include <initializer_list>

namespace rvx {

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
using i16 = int16_t;
using i32 = int32_t;
using f64 = double;

constexpr int kMaxBoards = 16;
constexpr int kAxesPerBoard = 4;
constexpr int kTableAxes = 8;  // per-process move and home tables hold 8 axes a board

// Bit `n` of `value`, as 0 or 1.
constexpr u32 Bit(u32 value, u32 n) { return (value >> n) & 1u; }
// True when every bit of `mask` is set in `value`.
constexpr bool AllSet(u32 value, u32 mask) { return (value & mask) == mask; }

struct BitValue {
  u32 bit;
  u32 value;  // 0 or 1
};
// `value` with each listed bit set to its 0/1 value, every other bit kept.
constexpr u16 Bits(u16 value, std::initializer_list<BitValue> changes) {
  u32 v = value;
  for (const BitValue& c : changes) v = c.value ? (v | (1u << c.bit)) : (v & ~(1u << c.bit));
  return static_cast<u16>(v);
}
// value + delta with 32-bit wrap-around, as the chip's registers take it.
constexpr i32 WrapAdd(i32 value, i32 delta) {
  return static_cast<i32>(static_cast<u32>(value) + static_cast<u32>(delta));
}

// `value` with the field of `width` bits at `shift` replaced by `field`.
constexpr u32 Field(u32 value, u32 shift, u32 width, u32 field) {
  const u32 mask = ((1u << width) - 1u) << shift;
  return (value & ~mask) | ((field << shift) & mask);
}

}  // namespace rvx

#endif  // RVX_CORE_TYPES_H_

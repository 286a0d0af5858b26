// Digital inputs and outputs of the expansion modules, by channel, byte, word
// and double word, and the modules' input filter.
//
// Channels are counted in logical bytes of eight; byte k lives in module
// k / 2 + 1. The outputs are held by the hardware alone: every read of an
// output reads the module register back.
#include "core/board_setup.h"
#include "core/call.h"

namespace rvx {
namespace {

// A byte, word or double-word index beyond a four-module board. The public
// header names no code for it.
constexpr i32 kErrInvalidIndex = -201;

constexpr u32 kChannels = 64;
constexpr u32 kLogicalBytes = kChannels / 8;
constexpr u32 kByteSwapBit = 7;  // PLD register 1
constexpr u16 kMaxFilterTime = 15;

enum class Port { kInput, kOutput };

// PLD address of logical byte k of the inputs or outputs. Modules 2 to 4 of a
// board with the byte swap flag hold their two bytes the other way round;
// module 1 never does.
u32 ByteAddress(u32 k, Port port, bool swap) {
  const u32 module = k / 2 + 1;
  const u32 half = k % 2;
  const u32 first = port == Port::kInput ? pld::kModuleDi : pld::kModuleDo;
  return pld::ModuleBase(module) + first + (swap && module > 1 ? 1 - half : half);
}

// The input or output bytes of the board of a call. Bytes beyond the fitted
// modules are no error: writes skip them and reads give 0 for them.
class PortBytes {
 public:
  PortBytes(const BoardCall& call, Port port)
      : io_(call.io()),
        port_(port),
        swap_(Bit(io_.Pld(pld::kIdentity), kByteSwapBit) != 0),
        fitted_bytes_((port == Port::kInput ? call.record().di_count : call.record().do_count) /
                      8) {}

  // `width` logical bytes from `first`, little-endian. Inputs are active low
  // in the module and reported active high.
  u32 Read(u32 first, u32 width) const {
    u32 value = 0;
    ForEachFitted(first, width, [&](u32 i, u32 address) {
      u8 byte = io_.Pld(address);
      if (port_ == Port::kInput) byte = static_cast<u8>(~byte);
      value |= static_cast<u32>(byte) << (8 * i);
    });
    return value;
  }

  void Write(u32 first, u32 width, u32 value) const {
    ForEachFitted(first, width, [&](u32 i, u32 address) {
      io_.SetPld(address, static_cast<u8>(value >> (8 * i)));
    });
  }

 private:
  // Calls fn(i, address) for byte first + i of those that exist, i ascending.
  template <class Fn>
  void ForEachFitted(u32 first, u32 width, Fn fn) const {
    for (u32 i = 0; i < width; ++i) {
      if (first + i < fitted_bytes_) fn(i, ByteAddress(first + i, port_, swap_));
    }
  }

  const BoardIo& io_;
  Port port_;
  bool swap_;
  u32 fitted_bytes_;
};

// The byte, word and double-word functions differ only in the width of T.
template <class T>
void PutOutputs(u16 board, u16 index, T value, const char* format) {
  constexpr u32 kWidth = sizeof(T);
  BoardCall call(board, LogRule::kLevel3);
  if (call.Check(index < kLogicalBytes / kWidth, kErrInvalidIndex)) {
    PortBytes(call, Port::kOutput).Write(index * kWidth, kWidth, value);
  }
  call.Log(format, board, index, value);
}

template <class T>
void GetBytes(Port port, u16 board, u16 index, T* value, const char* format) {
  constexpr u32 kWidth = sizeof(T);
  ZeroOutputs(value);
  BoardCall call(board, LogRule::kGetter);
  if (call.Check(index < kLogicalBytes / kWidth, kErrInvalidIndex) && call.CheckPointers(value)) {
    *value = static_cast<T>(PortBytes(call, port).Read(index * kWidth, kWidth));
  }
  call.Log(format, board, index, Shown(value));
}

u16 GetBit(Port port, u16 board, u16 channel, const char* format) {
  BoardCall call(board, LogRule::kGetter);
  u16 bit = 0;
  if (call.Check(channel < kChannels, ERR_INVALID_CHANNEL)) {
    bit = static_cast<u16>(Bit(PortBytes(call, port).Read(channel / 8, 1), channel % 8));
  }
  call.Log(format, board, channel, bit);
  return bit;
}

// Sends one filter command to every fitted module.
template <class Command, class... Args>
void CommandModules(const BoardCall& call, Command command, Args... args) {
  for (u32 m = 1; m <= FittedModules(call.record()); ++m) command(call.io(), m, args...);
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_PutDOBit(uint16_t board, uint16_t channel, uint16_t value) {
  BoardCall call(board, LogRule::kLevel3);
  if (call.Check(channel < kChannels, ERR_INVALID_CHANNEL) && call.Check(value <= 1)) {
    const PortBytes outputs(call, Port::kOutput);
    const u32 k = channel / 8;
    // The byte's other outputs keep the state the hardware holds now.
    outputs.Write(k, 1, Field(outputs.Read(k, 1), channel % 8, 1, value));
  }
  call.Log(" RV = %5d : RVX406A_PutDOBit (%ld, %ld, 0x%08X)", board, channel, value);
}

RVX406A_API uint16_t RVX406A_GetDOBit(uint16_t board, uint16_t channel) {
  return GetBit(Port::kOutput, board, channel, " RV = %5d : RVX406A_GetDOBit (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_PutDOByte(uint16_t board, uint16_t index, uint8_t value) {
  PutOutputs(board, index, value, " RV = %5d : RVX406A_PutDOByte (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_GetDOByte(uint16_t board, uint16_t index, uint8_t* value) {
  GetBytes(Port::kOutput, board, index, value, " RV = %5d : RVX406A_GetDOByte (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_PutDOWord(uint16_t board, uint16_t index, uint16_t value) {
  PutOutputs(board, index, value, " RV = %5d : RVX406A_PutDOWord (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_GetDOWord(uint16_t board, uint16_t index, uint16_t* value) {
  GetBytes(Port::kOutput, board, index, value, " RV = %5d : RVX406A_GetDOWord (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_PutDODWord(uint16_t board, uint16_t index, uint32_t value) {
  PutOutputs(board, index, value, " RV = %5d : RVX406A_PutDODWord (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_GetDODWord(uint16_t board, uint16_t index, uint32_t* value) {
  GetBytes(Port::kOutput, board, index, value, " RV = %5d : RVX406A_GetDODWord (%ld, %ld, 0x%08X)");
}

RVX406A_API uint16_t RVX406A_GetDIBit(uint16_t board, uint16_t channel) {
  return GetBit(Port::kInput, board, channel, " RV = %5d : RVX406A_GetDIBit (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_GetDIByte(uint16_t board, uint16_t index, uint8_t* value) {
  GetBytes(Port::kInput, board, index, value, " RV = %5d : RVX406A_GetDIByte (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_GetDIWord(uint16_t board, uint16_t index, uint16_t* value) {
  GetBytes(Port::kInput, board, index, value, " RV = %5d : RVX406A_GetDIWord (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_GetDIDWord(uint16_t board, uint16_t index, uint32_t* value) {
  GetBytes(Port::kInput, board, index, value, " RV = %5d : RVX406A_GetDIDWord (%ld, %ld, 0x%08X)");
}

RVX406A_API void RVX406A_SetDiFilter(uint16_t board, uint16_t on) {
  BoardCall call(board, LogRule::kLevel3);
  if (call.Check(on <= 1)) {
    CommandModules(call, SetModuleFilter, on != 0);
    call.board_values().di_filter = on;
  }
  call.Log(" RV = %5d : RVX406A_SetDiFilter (%ld, %ld)", board, on);
}

RVX406A_API uint16_t RVX406A_GetDiFilter(uint16_t board) {
  BoardCall call(board, LogRule::kGetter);
  const u16 on = call.ok() ? call.board_values().di_filter : 0;
  call.Log(" RV = %5d : RVX406A_GetDiFilter (%ld, %ld)", board, on);
  return on;
}

RVX406A_API void RVX406A_SetDiFilterTime(uint16_t board, uint16_t time) {
  BoardCall call(board, LogRule::kLevel3);
  if (call.Check(time <= kMaxFilterTime)) {
    CommandModules(call, SetModuleFilterTime, static_cast<u8>(time));
    call.board_values().di_filter_time = time;
  }
  call.Log(" RV = %5d : RVX406A_SetDiFilterTime (%ld, %ld)", board, time);
}

RVX406A_API uint16_t RVX406A_GetDiFilterTime(uint16_t board) {
  BoardCall call(board, LogRule::kGetter);
  const u16 time = call.ok() ? call.board_values().di_filter_time : 0;
  call.Log(" RV = %5d : RVX406A_GetDiFilterTime (%ld, %ld)", board, time);
  return time;
}

// Whole-port entry points without function on these boards: no lock, no
// checks, no log line, the last result untouched.
RVX406A_API void RVX406A_PutDO(uint16_t /*board*/, uint32_t /*value*/) {}
RVX406A_API uint32_t RVX406A_GetDI(uint16_t /*board*/) { return 0; }
RVX406A_API uint32_t RVX406A_GetDO(uint16_t /*board*/) { return 0; }
RVX406A_API uint16_t RVX406A_GetFilterDI(uint16_t /*board*/) { return 0; }
RVX406A_API void RVX406A_SetFilterDI(uint16_t /*board*/, uint16_t /*value*/) {}

}  // extern "C"

// What a board is and carries, the version number of a module file, saving a
// board's settings, the log level and the block mode flag.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/call.h"
#include "core/param_file.h"

namespace rvx {
namespace {

constexpr u32 kTypeCodeShift = 4;
constexpr u32 kTypeCodeWidth = 3;
// Boards without a version register report this logic version.
constexpr u32 kFixedPldVersion = 80;
constexpr u16 kMaxLogLevel = 3;
constexpr char kFileVersionKey[] = "\\StringFileInfo\\041204B0\\FileVersion";

u32 TypeCode(u8 identity) { return (identity >> kTypeCodeShift) & ((1u << kTypeCodeWidth) - 1); }
bool SupportedTypeCode(u32 code) { return code == 1 || code == 3; }

// "a, b, c, d" as a * 1000000 + b * 10000 + c * 100 + d. Each piece is read as
// a decimal integer after optional blanks; a piece that is missing (fewer than
// four comma-separated pieces) or not a number counts as 0, so "2, 1" gives
// 2010000 and an empty string 0. Pieces beyond the fourth are ignored.
u32 ParseFileVersion(const std::string& text) {
  static constexpr u32 kWeights[] = {1000000, 10000, 100, 1};
  u32 version = 0;
  const char* piece = text.c_str();
  for (u32 weight : kWeights) {
    version += static_cast<u32>(strtol(piece, nullptr, 10)) * weight;
    piece = strchr(piece, ',');
    if (piece == nullptr) break;
    ++piece;
  }
  return version;
}

// The block mode as stored, or 0 before any section exists.
u16 StoredBlockMode(const Call& call) {
  return call.process().shared != nullptr ? call.shared().block_mode : 0;
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_BoardInfo(uint16_t board, uint32_t* type, uint32_t* version,
                                   uint32_t* axes, uint32_t* di, uint32_t* do_count) {
  ZeroOutputs(type, version, axes, di, do_count);
  BoardCall call(board, LogRule::kGetter);
  if (call.CheckPointers(type, version, axes, di, do_count)) {
    const BoardRecord& record = call.record();
    const u32 code = TypeCode(call.io().Pld(pld::kIdentity));
    *type = record.kind;
    *version = code == 3 ? call.io().Pld(pld::kVersion) : kFixedPldVersion;
    *axes = record.axis_count;
    *di = record.di_count;
    *do_count = record.do_count;
  }
  call.Log(" RV = %5d : RVX406A_BoardInfo (%ld, %ld, %ld, %ld, %ld, %ld)", board, Shown(type),
           Shown(version), Shown(axes), Shown(di), Shown(do_count));
}

RVX406A_API uint16_t RVX406A_GetBoardID(uint16_t board) {
  BoardCall call(board, LogRule::kGetter);
  const u16 id = call.ok() ? call.io().Pld(pld::kBoardId) : 0;
  call.Log(" RV = %5d : RVX406A_GetBoardID (%ld, %ld)", board, id);
  return id;
}

RVX406A_API uint16_t RVX406A_GetAxisNum(uint16_t board) {
  BoardCall call(board, LogRule::kGetter);
  if (call.ok())
    call.Check(SupportedTypeCode(TypeCode(call.io().Pld(pld::kIdentity))), ERR_HW_TYPE);
  const u16 axes = call.ok() ? static_cast<u16>(call.record().axis_count) : 0;
  call.Log(" RV = %5d : RVX406A_GetAxisNum (%ld, %ld)", board, axes);
  return axes;
}

RVX406A_API uint16_t RVX406A_GetDiNum(uint16_t board) {
  BoardCall call(board, LogRule::kGetter);
  const u16 count = call.ok() ? static_cast<u16>(call.record().di_count) : 0;
  call.Log(" RV = %5d : RVX406A_GetDiNum (%ld, %ld)", board, count);
  return count;
}

RVX406A_API uint16_t RVX406A_GetDoNum(uint16_t board) {
  BoardCall call(board, LogRule::kGetter);
  const u16 count = call.ok() ? static_cast<u16>(call.record().do_count) : 0;
  call.Log(" RV = %5d : RVX406A_GetDoNum (%ld, %ld)", board, count);
  return count;
}

RVX406A_API void RVX406A_SetBlockMode(uint16_t mode) {
  Call call(LogRule::kLevel3);
  if (call.Check(mode <= 1)) call.shared().block_mode = mode;
  call.Log(" RV = %5d : RVX406A_SetBlockMode (%ld)", StoredBlockMode(call));
}

// Without loaded boards the call fails, returns 0 and logs 0.
RVX406A_API uint16_t RVX406A_GetBlockMode(void) {
  Call call(LogRule::kGetter);
  const u16 mode = call.ok() ? call.shared().block_mode : 0;
  call.Log(" RV = %5d : RVX406A_GetBlockMode (%ld)", mode);
  return mode;
}

// A file without version information, or whose information has no
// FileVersion value, has version 0; that is no error.
RVX406A_API uint32_t RVX406A_GetDllVersion(const char* path) {
  Call call(LogRule::kGetter);
  u32 version = 0;
  std::string text;
  if (call.CheckPointers(path) && os::GetFileVersionString(path, kFileVersionKey, &text)) {
    version = ParseFileVersion(text);
  }
  call.Log(" RV = %5d : RVX406A_GetDllVersion (%s, %ld)", path, version);
  return version;
}

// Whether the file could be written does not change the result.
RVX406A_API void RVX406A_SaveFile(uint16_t board) {
  BoardCall call(board, LogRule::kSave);
  if (call.ok()) SaveParameterFile(board);
  call.Log(" RV = %5d : RVX406A_SaveFile (%ld)", board);
}

RVX406A_API void RVX406A_LogCheck(uint16_t level) {
  Call call(LogRule::kAlways);
  if (call.Check(level <= kMaxLogLevel)) call.shared().log_level = level;
  call.Log(" RV = %5d : RVX406A_LogCheck (%ld)", level);
}

}  // extern "C"

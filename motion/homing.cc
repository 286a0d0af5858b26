// The automatic home search: its settings, the start of one axis or of
// several axes together, and the busy test that also judges success.
#include <cstdlib>

#include "motion/motion.h"
#include "motion/profile.h"

namespace rvx {
namespace {

constexpr u16 kMaxHomeMode = 9;

// MCX_EM7 bits the home search owns: the four step enables with their
// directions (0..7), bit 8, and the limit-as-home flag.
constexpr u16 kHomeBitsMask = 0x01FF | Mask({em7::kLimitAsHome});

// The home search bits of each mode, by search direction (HOMEDIR 0, 1).
constexpr u16 kHomeModeBits[kMaxHomeMode + 1][2] = {
    {0x144, 0x14C},  // 0: home, offset
    {0x174, 0x15C},  // 1: home, Z-phase the opposite way, offset
    {0x145, 0x14F},  // 2: near-home, home, offset
    {0x175, 0x15F},  // 3: near-home, home, Z-phase the opposite way, offset
    {0x544, 0x54C},  // 4: as 0, with a limit input as home
    {0x574, 0x55C},  // 5: as 1, with a limit input as home
    {0x545, 0x54F},  // 6: as 2, with a limit input as home
    {0x575, 0x55F},  // 7: as 3, with a limit input as home
    {0x150, 0x1F0},  // 8: Z-phase, offset
    {0x1C0, 0x1C0},  // 9: offset only
};

bool LimitAsHome(u16 mode) { return mode >= 4 && mode <= 7; }
bool PulseReversed(const AxisBlock& shadow) { return Bit(shadow.em6, em6::kPulseDir) != 0; }

// `em7` with the home bits of `mode` searching in `direction`. A mode outside
// the table (only possible through an edited parameter file) keeps the word.
u16 HomeEm7(u16 em7, u16 mode, u16 direction) {
  if (mode > kMaxHomeMode) return em7;
  return static_cast<u16>((em7 & ~kHomeBitsMask) | kHomeModeBits[mode][direction != 0]);
}

// The axis's two bits of PLD register 3: 0 no limit as home; else which
// limit input (1 or 2) lies in the physical search direction.
void WriteLimitAsHomeField(const Axis& axis) {
  const AxisBlock& b = axis.block();
  u32 field = 0;
  if (LimitAsHome(b.home_mode)) field = ((b.home_dir != 0) != PulseReversed(b)) ? 2 : 1;
  const BoardIo& io = axis.io();
  io.SetPld(pld::kLhome0,
            static_cast<u8>(Field(io.Pld(pld::kLhome0), 2 * axis.number(), 2, field)));
}

// With a limit input as home, the home inputs take the limit logic.
u16 HomeLogicWr1(const AxisBlock& b) {
  return LimitAsHome(b.home_mode) ? WithHomeLogic(b.wr1, HardLimitLogic(b.wr2)) : b.wr1;
}

// The home search bits of the stored mode and direction, chip and shadows.
void ApplyHomeSettings(const Axis& axis) {
  const AxisBlock& b = axis.block();
  WriteLimitAsHomeField(axis);
  axis.SetEm7(HomeEm7(b.em7, b.home_mode, b.home_dir));
}

// Everything of a home search up to its start command: the Z-phase release
// of mode 8, the search-time mode words (not mirrored: the configuration
// comes back with the next configuration write), the steps, the speeds and
// the offset.
void LoadHomeSearch(const Axis& axis) {
  const AxisBlock& b = axis.block();
  const bool reversed = PulseReversed(b);

  // Mode 8 searches for the Z phase first; starting on it would find it at
  // once, so leave it 1000 pulses physically forward.
  const u16 rr1 = axis.ReadSelected(chip::kRr1);
  if (Bit(rr1, rr1::kOnZPhase) && b.home_mode == 8) {
    axis.Write32(cmd::kPulseCount, 1000);
    axis.Command(reversed ? cmd::kFixedMinus : cmd::kFixedPlus);
    while (axis.Driving()) {
      // The drive ends by itself; every other caller waits on the mutex.
    }
  }

  WriteLimitAsHomeField(axis);
  const u16 wr3 =
      Bits(b.wr3, {{wr3::kManualDecel, 0}, {wr3::kSeparateDecel, 0}, {wr3::kSCurve, 0}});
  const u16 em6 = Bits(b.em6, {{em6::kFixedPulse, 0}, {em6::kSCurveMove, 0}});
  // No software limits while searching.
  const u16 wr2 = Bits(b.wr2, {{wr2::kSoftLimitPlus, 0}, {wr2::kSoftLimitMinus, 0}});
  axis.WriteModeNoShadow(chip::kWr1, HomeLogicWr1(b));
  axis.WriteModeNoShadow(chip::kWr2, wr2);
  axis.WriteModeNoShadow(chip::kWr3, wr3);

  const i32 offset = b.home_offset;
  u16 em7 = HomeEm7(b.em7, b.home_mode, b.home_dir);
  em7 = Bits(em7, {{em7::kHomeOffsetEnable, offset != 0},
                   {em7::kHomeOffsetMinus, offset != 0 && ((offset < 0) != reversed)}});
  axis.WriteExtensionNoShadow(em6, em7);

  // Homing runs a trapezoid from the values as stored.
  const SpeedProfile p = ComputeProfile(
      ProfileKind::kContinuous, false,
      {b.low_home_pps, b.high_home_pps, b.home_acc_ms, b.home_acc_ms}, b.range, b.fixed_range);
  LoadRange(axis, p);
  axis.Write16(cmd::kAcc, static_cast<u16>(p.acc));
  axis.Write16(cmd::kDec, static_cast<u16>(p.acc));
  axis.Write16(cmd::kDriveSpeed, static_cast<u16>(p.drive));
  axis.Write16(cmd::kInitialSpeed, static_cast<u16>(p.initial));
  axis.Write16(cmd::kHomeLowSpeed, static_cast<u16>(p.initial));
  axis.Write32(cmd::kPulseCount, static_cast<i32>(std::llabs(static_cast<long long>(offset))));
}

void RecordHomeSearch(const Axis& axis, u32 board) {
  AxisBlock& b = axis.block();
  HomeTableEntry(board, axis.number()) = 1;
  b.home_ok = 0;
  RecordContinuousMove(axis, board, b.high_home_pps);
  b.motion_dir = 0;
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_SetHomeDir(uint16_t board, uint16_t axis, uint16_t direction) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(direction <= 1)) {
    call.shadow().home_dir = direction;
    ApplyHomeSettings(call.axis());
  }
  call.Log(" RV = %5d : RVX406A_SetHomeDir (%ld, %ld, %ld)", board, axis, direction);
}

RVX406A_API uint16_t RVX406A_GetHomeDir(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 direction = call.ok() ? call.shadow().home_dir : 0;
  call.Log(" RV = %5d : RVX406A_GetHomeDir (%ld, %ld, %ld)", board, axis, direction);
  return direction;
}

RVX406A_API void RVX406A_SetHomeMode(uint16_t board, uint16_t axis, uint16_t mode) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(mode <= kMaxHomeMode)) {
    call.shadow().home_mode = mode;
    ApplyHomeSettings(call.axis());
    call.axis().SetWr1(HomeLogicWr1(call.shadow()));
  }
  call.Log(" RV = %5d : RVX406A_SetHomeMode (%ld, %ld, %ld)", board, axis, mode);
}

RVX406A_API uint16_t RVX406A_GetHomeMode(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 mode = call.ok() ? call.shadow().home_mode : 0;
  call.Log(" RV = %5d : RVX406A_GetHomeMode (%ld, %ld, %ld)", board, axis, mode);
  return mode;
}

RVX406A_API void RVX406A_SetHomeSpeed(uint16_t board, uint16_t axis, uint32_t low_pps,
                                      uint32_t high_pps, uint32_t acc_ms) {
  AxisCall call(board, axis, LogRule::kSetter);
  const ProfileInput given{low_pps, high_pps, acc_ms, acc_ms};
  if (CheckSpeedLimits(call, ProfileKind::kContinuous, given)) {
    AxisBlock& b = call.shadow();
    // The chip parameters are kept for the parameter file; a search
    // recomputes them from the values as given.
    const SpeedProfile p = ComputeProfile(ProfileKind::kContinuous, false, SettingInput(given),
                                          b.range, b.fixed_range);
    b.low_home_speed = p.initial;
    b.high_home_speed = p.drive;
    b.home_acc = p.acc;
    b.home_jerk = 0;
    b.low_home_pps = low_pps;
    b.high_home_pps = high_pps;
    b.home_acc_ms = acc_ms;
  }
  call.Log(" RV = %5d : RVX406A_SetHomeSpeed (%ld, %ld, %ld, %ld, %ld)", board, axis, low_pps,
           high_pps, acc_ms);
}

RVX406A_API void RVX406A_GetHomeSpeed(uint16_t board, uint16_t axis, uint32_t* low_pps,
                                      uint32_t* high_pps, uint32_t* acc_ms) {
  ZeroOutputs(low_pps, high_pps, acc_ms);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(low_pps, high_pps, acc_ms)) {
    *low_pps = call.shadow().low_home_pps;
    *high_pps = call.shadow().high_home_pps;
    *acc_ms = call.shadow().home_acc_ms;
  }
  call.Log(" RV = %5d : RVX406A_GetHomeSpeed (%ld, %ld, %ld, %ld, %ld)", board, axis,
           Shown(low_pps), Shown(high_pps), Shown(acc_ms));
}

RVX406A_API void RVX406A_SetHomeOffset(uint16_t board, uint16_t axis, int32_t offset) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(offset >= -kMaxDistance && offset <= kMaxDistance)) {
    call.shadow().home_offset = offset;
  }
  call.Log(" RV = %5d : RVX406A_SetHomeOffset (%ld, %ld, %ld)", board, axis, offset);
}

RVX406A_API int32_t RVX406A_GetHomeOffset(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const i32 offset = call.ok() ? call.shadow().home_offset : 0;
  call.Log(" RV = %5d : RVX406A_GetHomeOffset (%ld, %ld, %ld)", board, axis, offset);
  return offset;
}

RVX406A_API void RVX406A_Home_Move(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kSetter);
  // A refused search must not leave an earlier success standing.
  if (call.ok()) call.shadow().home_ok = 0;
  if (call.ok() && CheckStartable(call, call.axis(), call.shadow())) {
    LoadHomeSearch(call.axis());
    call.axis().Command(cmd::kHomeSearch);
    RecordHomeSearch(call.axis(), board);
  }
  call.Log(" RV = %5d : RVX406A_Home_Move (%ld, %ld)", board, axis);
}

RVX406A_API void RVX406A_Multi_Home_Move(uint16_t board, uint16_t count, const uint16_t* axes) {
  BoardCall call(board, LogRule::kSetter);
  const u32 board_axes = BoardAxes(call);
  call.Check(CountAccepted(count, board_axes)) && call.CheckPointers(axes);
  for (u32 i = 0; i < count && call.ok(); ++i) {
    if (!call.Check(call.HasAxis(axes[i]), ERR_AXIS_NUM)) break;
    const Axis a = call.axis_at(axes[i]);
    a.block().home_ok = 0;
    CheckStartable(call, a, a.block());
  }
  if (call.ok()) {
    for (u32 i = 0; i < count; ++i) {
      const Axis a = call.axis_at(axes[i]);
      LoadHomeSearch(a);
      a.Command(cmd::kHold);
      a.Command(cmd::kHomeSearch);
      RecordHomeSearch(a, board);
    }
    call.io().Command(SelectMask(axes, count) | cmd::kRelease);
  }
  for (u32 i = 0; i < LineCount(count, board_axes); ++i) {
    call.Log(" RV = %5d : RVX406A_Multi_Home_Move (%ld, %ld)", board, Shown(axes, i));
  }
}

RVX406A_API uint16_t RVX406A_HomeIsBusy(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kLevel3);
  u16 busy = 0;
  if (call.ok()) {
    busy = AxisBusyConfirmed(call.axis()) ? 1 : 0;
    if (!busy) {
      // A stop at a limit does not fail a search.
      RecordHomeOutcome(call.axis().ReadSelected(chip::kRr2), call.shadow().home_ok,
                        HomeTableEntry(board, axis));
      MoveTableEntry(board, axis) = kNoMove;
    }
  }
  call.Log(" RV = %5d : RVX406A_HomeIsBusy (%ld, %ld, %ld)", board, axis, busy);
  return busy;
}

RVX406A_API void RVX406A_SetHomeSuccess(uint16_t board, uint16_t axis, uint16_t value) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(value <= 1)) call.shadow().home_ok = value;
  call.Log(" RV = %5d : RVX406A_SetHomeSuccess (%ld, %ld, %ld)", board, axis, value);
}

RVX406A_API uint16_t RVX406A_GetHomeSuccess(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 ok = call.ok() ? call.shadow().home_ok : 0;
  call.Log(" RV = %5d : RVX406A_GetHomeSuccess (%ld, %ld, %ld)", board, axis, ok);
  return ok;
}

}  // extern "C"

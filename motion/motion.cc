#include "motion/motion.h"

namespace rvx {
namespace {

// RR2 stop bits in reporting order, and their causes.
struct StopBit {
  u32 bit;
  i32 cause;
};
constexpr StopBit kStopBits[] = {
    {0, ERR_STOP_BY_SLPT}, {1, ERR_STOP_BY_SLMT}, {2, ERR_STOP_BY_HLPT}, {3, ERR_STOP_BY_HLMT},
    {4, ERR_STOP_BY_ALM},  {5, ERR_STOP_BY_EMG},  {7, ERR_STOP_BY_EZ},
};

}  // namespace

bool AxisBusyConfirmed(const AxisIo& axis) { return axis.Driving() || axis.Driving(); }

bool InManualPulserMode(const AxisBlock& shadow) { return AllSet(shadow.wr3, 0x18); }

i32 StopCause(const AxisIo& axis) {
  const u16 rr2 = axis.ReadSelected(chip::kRr2);
  for (const StopBit& s : kStopBits) {
    if (Bit(rr2, s.bit)) return s.cause;
  }
  return ERR_SUCCESS;
}

void PrepareMoveMode(const Axis& axis, MoveShape shape) {
  const AxisBlock& shadow = axis.block();
  const bool s_curve = Bit(shadow.wr3, 2);
  u16 wr3 = Bits(shadow.wr3, {{0, 0}});
  u16 em6 = Bits(shadow.em6, {{7, s_curve}});
  if (shape == MoveShape::kFixedPulse) {
    // Trapezoids decelerate by the separately loaded D; S-curves by the chip.
    wr3 = Bits(wr3, {{1, !s_curve}});
    em6 = Bits(em6, {{3, 1}});
  } else {
    wr3 = Bits(wr3, {{1, 0}});
    em6 = Bits(em6, {{3, 0}});
  }
  axis.WriteMode(chip::kWr3, wr3);
  axis.WriteExtension(em6, shadow.em7);
}

Positions ReadPositions(const AxisIo& axis) {
  Positions at;
  at.logical = axis.LogicalPosition();
  at.real = axis.RealPosition();
  return at;
}

bool IsSCurve(const AxisBlock& shadow) { return Bit(shadow.wr3, 2) != 0; }

SpeedProfile PositioningProfile(const AxisBlock& b) {
  return ComputeProfile(ProfileKind::kPositioning, IsSCurve(b),
                        {b.pos_start_pps, b.pos_drive_pps, b.pos_acc_ms, b.pos_dec_ms}, b.range,
                        b.fixed_range);
}

SpeedProfile JogProfile(const AxisBlock& b) {
  return ComputeProfile(ProfileKind::kContinuous, IsSCurve(b),
                        {b.jog_start_pps, b.jog_drive_pps, b.jog_acc_ms, b.jog_acc_ms}, b.range,
                        b.fixed_range);
}

bool WaitUntilIdle(const AxisIo& axis, bool pump_messages) {
  for (;;) {
    const bool busy = AxisBusyConfirmed(axis);
    if (pump_messages && !PumpMessage()) return false;
    if (!busy) return true;
  }
}

bool PumpMessage() {
  os::Message msg;
  if (!os::PeekMessage(&msg)) return true;
  if (msg.message == os::kWmQuit) {
    os::PostQuitMessage(0);
    return false;
  }
  os::DispatchMessage(msg);
  return true;
}

void RecordHomeOutcome(u16 rr2, u16& home_ok, u16& home_pending) {
  constexpr u16 kHomeFailBits = (1u << 4) | (1u << 5) | (1u << 7);
  if ((rr2 & kHomeFailBits) != 0) {
    home_pending = 0;
    home_ok = 0;
  } else if (home_ok == 0 && home_pending == 1) {
    home_pending = 0;
    home_ok = 1;
  }
}

u32& MoveTableEntry(u32 board, u32 axis) { return process().move_table[board][axis]; }
u16& HomeTableEntry(u32 board, u32 axis) { return process().home_table[board][axis]; }

}  // namespace rvx

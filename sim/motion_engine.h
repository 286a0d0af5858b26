// The motion of one simulated axis in stepped time: the chip's speed model
// (multiplier 8,000,000 / R, acceleration A x 125 x M, jerk 62,500,000 / K x M)
// run as trapezoid or S-curve, with whole output pulses.
//
// Within a tick the profile is followed exactly, piece by piece (constant
// jerk or constant acceleration), so the tick only sets how often the outside
// world can look, and a run can end on the very pulse something must act on; the fraction of the
// next pulse is carried over, so no rounding accumulates however long an axis drives. A fixed-pulse
// drive starts its deceleration at the moment the pulses left equal those it needs to stop, found
// within the tick, and outputs exactly its count.
//
// The state is plain data so that it can live in the simulator's shared
// section beside the chip registers it runs from.
#ifndef RVX_SIM_MOTION_ENGINE_H_
#define RVX_SIM_MOTION_ENGINE_H_

#include <cstdint>
#include <type_traits>

namespace rvx::sim {

// 100 us: finer than the shortest ramp the library sets (1 ms), so a poller
// sees every ramp take shape, yet coarse enough that a second of motion costs
// only 10,000 steps.
constexpr uint32_t kTickMicros = 100;
constexpr double kTickSeconds = kTickMicros * 1e-6;

// The chip registers a drive runs from, as loaded (out-of-range values are
// taken at the nearest limit of the chip's range).
struct MotionParams {
  uint32_t range;       // R, command 0x00
  uint16_t initial;     // initial speed parameter, 0x04
  uint16_t drive;       // drive speed parameter, 0x05
  uint16_t acc;         // A, 0x02
  uint16_t dec;         // D, 0x03
  uint16_t acc_jerk;    // K, 0x01
  uint16_t dec_jerk;    // L, 0x0E
  bool s_curve;         // WR3 bit 2
  bool separate_decel;  // D and L shape the down ramp, else A and K
};

enum class DriveKind : uint8_t { kNone, kFixed, kContinuous };
enum class DrivePhase : uint8_t {
  kIdle,
  kRunning,   // towards the drive speed
  kEnding,    // a fixed-pulse drive slowing to end on its count
  kStopping,  // a decelerating stop: ends at the initial speed
};

struct AxisMotion {
  MotionParams params;
  DriveKind kind;
  DrivePhase phase;
  int8_t direction;      // +1 or -1
  bool busy;             // RR0 drive bit
  uint16_t speed;        // current speed as command 0x12 reads it (PPS / M)
  uint32_t pulse_count;  // of a fixed-pulse drive
  uint32_t output;       // pulses output since the drive started
  int32_t position;      // logical position
  double elapsed;        // seconds since the drive started
  double velocity;       // PPS
  double accel;          // PPS per second
  double fraction;       // of the next pulse already travelled
};
static_assert(std::is_trivially_copyable_v<AxisMotion>, "axes live in shared memory");

// The chip's effective multiplier 8,000,000 / R.
double EffectiveMultiplier(const MotionParams& params);

// Drive starts; false (and nothing changes) while the axis drives.
// `direction` > 0 drives towards +, else towards -.
bool StartFixedDrive(AxisMotion* axis, const MotionParams& params, uint32_t count, int direction);
bool StartContinuousDrive(AxisMotion* axis, const MotionParams& params, int direction);

void DecelerateStop(AxisMotion* axis);
void SuddenStop(AxisMotion* axis);

// A new drive speed parameter for the running drive.
void OverrideDriveSpeed(AxisMotion* axis, uint16_t drive);
// A new total count for a fixed-pulse drive, counted from its start. A count
// already reached turns the drive into a decelerating stop.
void OverridePulseCount(AxisMotion* axis, uint32_t count);

// Lets up to `seconds` pass. With `pulses` > 0 the run ends early, the
// moment the drive outputs the `pulses`-th pulse from now, so that whatever
// that pulse sets off (a sensor, a limit) acts on it. Returns the time that
// passed and adds the signed pulses output to *moved.
double Run(AxisMotion* axis, double seconds, uint32_t pulses, int64_t* moved);

// Lets `ticks` ticks pass; returns the signed pulses output, by which the
// logical position has moved.
int64_t Advance(AxisMotion* axis, uint64_t ticks);

}  // namespace rvx::sim

#endif  // RVX_SIM_MOTION_ENGINE_H_

// The cross-process shared section: one header, then one block per board of
// four axis blocks. Every process maps the same bytes, so the layout is fixed
// to the byte (little-endian) and checked at compile time below.
#ifndef RVX_CORE_SHARED_STATE_H_
#define RVX_CORE_SHARED_STATE_H_

#include <cstddef>

#include "core/types.h"

namespace rvx {

// One interpolation map entry: the group's axes in ascending order and their count.
struct MapEntry {
  u8 axis[3];
  u8 reserved;
  u8 count;
};

// Settings and register shadows of one axis. The fields up to offset 71 and the
// DI filter pair are board-wide and live only in axis 0's block. Shadow and
// setting names follow their parameter-file keys.
struct AxisBlock {
  // Board identification (axis 0 only), rewritten by every loader.
  u64 driver_handle;  // 0
  u32 board_kind;     // 8
  u32 reserved12;
  u32 axis_count;  // 16
  u32 first_axis;  // 20
  u32 di_count;    // 24
  u32 di_base;     // 28
  u32 do_count;    // 32
  u32 do_base;     // 36
  u8 reserved40[12];
  MapEntry map[4];  // 52, axis 0 only

  u16 wr1;  // 72  MCX_WR1
  u16 wr2;  // 74  MCX_WR2
  u16 wr3;  // 76  MCX_WR3
  u16 wr4;  // 78  MCX_WR4; axis 0 holds the board's WR4 outputs
  u16 wr5;  // 80  MCX_WR5; the block of axis m holds the word of map m
  u16 reserved82;
  u16 em6;    // 84  MCX_EM6
  u16 em7;    // 86  MCX_EM7
  u16 sm6;    // 88  MCX_SM6
  u16 sm7;    // 90  MCX_SM7
  u16 range;  // 92  RANGE
  u16 reserved94;
  u32 multiple;     // 96  MULTIPLE
  u16 fixed_range;  // 100 FIXED_RANGE
  u16 reserved102;

  // Positioning profile: computed chip parameters, then the caller's values.
  u32 pos_acc;       // 104 POS_ACC
  u32 pos_dec;       // 108 POS_DEC
  u32 pos_start;     // 112 POS_START
  u32 pos_drive;     // 116 POS_DRIVE
  u32 pos_acc_jerk;  // 120
  u32 reserved124;
  u32 pos_dec_jerk;   // 128
  u32 pos_acc_ms;     // 132 POS_ACC[ms]
  u32 pos_dec_ms;     // 136 POS_DEC[ms]
  u32 pos_start_pps;  // 140 POS_START[PPS]
  u32 pos_drive_pps;  // 144 POS_DRIVE[PPS]

  // Jog profile.
  u32 jog_acc;        // 148 JOG_ACC
  u32 jog_start;      // 152 JOG_START
  u32 jog_drive;      // 156 JOG_DRIVE
  u32 jog_jerk;       // 160
  u32 jog_acc_ms;     // 164 JOG_ACC[ms]
  u32 jog_start_pps;  // 168 JOG_START[PPS]
  u32 jog_drive_pps;  // 172 JOG_DRIVE[PPS]

  // Interpolation profile.
  u32 int_acc;        // 176 INT_ACC
  u32 int_dec;        // 180 INT_DEC
  u32 int_start;      // 184 INT_START
  u32 int_drive;      // 188 INT_DRIVE
  u32 int_acc_jerk;   // 192
  u32 int_dec_jerk;   // 196
  u32 int_acc_ms;     // 200 INT_ACC[ms]
  u32 int_dec_ms;     // 204 INT_DEC[ms]
  u32 int_start_pps;  // 208 INT_START[PPS]
  u32 int_drive_pps;  // 212 INT_DRIVE[PPS]

  i32 move_distance;   // 216
  i32 move_start;      // 220
  u16 di_filter;       // 224 DI_FILTER, axis 0 only
  u16 di_filter_time;  // 226 DI_FILTERTIME, axis 0 only
  u16 home_ok;         // 228 HOME_OK
  u16 reserved230;
  u32 comp_width;  // 232 COMP_WIDTH
  u32 reserved236[4];
  i32 move_target;  // 252
  u16 mpg_rate;     // 256 MPG_RATE
  u16 reserved258;
  i32 acc_offset;  // 260 ACC_OFFSET
  u32 motion_dir;  // 264

  // Homing.
  u16 home_mode;        // 268 HOMEMODE
  u16 home_dir;         // 270 HOMEDIR
  u32 home_acc;         // 272 HOME_ACC
  u32 home_jerk;        // 276
  u32 low_home_speed;   // 280 LOWHOMESPEED
  u32 high_home_speed;  // 284 HIGHHOMESPEED
  i32 home_offset;      // 288 HOMEOFFSET
  u32 home_acc_ms;      // 292 HOME_ACC[ms]
  u32 low_home_pps;     // 296 LOWHOMESPEED[PPS]
  u32 high_home_pps;    // 300 HIGHHOMESPEED[PPS]
  u8 reserved304[8];

  f64 minus_softlimit;  // 312 -SOFTLIMIT
  f64 plus_softlimit;   // 320 +SOFTLIMIT
  u8 reserved328[8];
  f64 ring_command;  // 336 RINGCOMMAND
  f64 ring_actual;   // 344 RINGACCTUAL

  u32 last_drive_speed;  // 352
  u8 reserved356[948];
};

struct BoardBlock {
  AxisBlock axis[kAxesPerBoard];
  // The board's chip lock (BoardIo): the process id of the thread inside a
  // chip register sequence, 0 while none is. Zero at rest, as reserved bytes.
  u32 chip_lock;  // 5216
  u8 reserved[68];
};

struct SharedSection {
  u8 reserved0[404];
  u32 log_level;   // 404
  u16 block_mode;  // 408
  u8 reserved410[406];
  BoardBlock board[kMaxBoards];  // 816
};

constexpr size_t kSharedSectionSize = 85424;

#define RVX_AT(type, field, offset) static_assert(offsetof(type, field) == (offset), #field)
RVX_AT(AxisBlock, driver_handle, 0);
RVX_AT(AxisBlock, board_kind, 8);
RVX_AT(AxisBlock, axis_count, 16);
RVX_AT(AxisBlock, first_axis, 20);
RVX_AT(AxisBlock, di_count, 24);
RVX_AT(AxisBlock, di_base, 28);
RVX_AT(AxisBlock, do_count, 32);
RVX_AT(AxisBlock, do_base, 36);
RVX_AT(AxisBlock, map, 52);
RVX_AT(AxisBlock, wr1, 72);
RVX_AT(AxisBlock, wr2, 74);
RVX_AT(AxisBlock, wr3, 76);
RVX_AT(AxisBlock, wr4, 78);
RVX_AT(AxisBlock, wr5, 80);
RVX_AT(AxisBlock, em6, 84);
RVX_AT(AxisBlock, em7, 86);
RVX_AT(AxisBlock, sm6, 88);
RVX_AT(AxisBlock, sm7, 90);
RVX_AT(AxisBlock, range, 92);
RVX_AT(AxisBlock, multiple, 96);
RVX_AT(AxisBlock, fixed_range, 100);
RVX_AT(AxisBlock, reserved102, 102);
RVX_AT(AxisBlock, pos_acc, 104);
RVX_AT(AxisBlock, pos_dec, 108);
RVX_AT(AxisBlock, pos_start, 112);
RVX_AT(AxisBlock, pos_drive, 116);
RVX_AT(AxisBlock, pos_acc_jerk, 120);
RVX_AT(AxisBlock, reserved124, 124);
RVX_AT(AxisBlock, pos_dec_jerk, 128);
RVX_AT(AxisBlock, pos_acc_ms, 132);
RVX_AT(AxisBlock, pos_dec_ms, 136);
RVX_AT(AxisBlock, pos_start_pps, 140);
RVX_AT(AxisBlock, pos_drive_pps, 144);
RVX_AT(AxisBlock, jog_acc, 148);
RVX_AT(AxisBlock, jog_start, 152);
RVX_AT(AxisBlock, jog_drive, 156);
RVX_AT(AxisBlock, jog_jerk, 160);
RVX_AT(AxisBlock, jog_acc_ms, 164);
RVX_AT(AxisBlock, jog_start_pps, 168);
RVX_AT(AxisBlock, jog_drive_pps, 172);
RVX_AT(AxisBlock, int_acc, 176);
RVX_AT(AxisBlock, int_dec, 180);
RVX_AT(AxisBlock, int_start, 184);
RVX_AT(AxisBlock, int_drive, 188);
RVX_AT(AxisBlock, int_acc_jerk, 192);
RVX_AT(AxisBlock, int_dec_jerk, 196);
RVX_AT(AxisBlock, int_acc_ms, 200);
RVX_AT(AxisBlock, int_dec_ms, 204);
RVX_AT(AxisBlock, int_start_pps, 208);
RVX_AT(AxisBlock, int_drive_pps, 212);
RVX_AT(AxisBlock, move_distance, 216);
RVX_AT(AxisBlock, move_start, 220);
RVX_AT(AxisBlock, di_filter, 224);
RVX_AT(AxisBlock, di_filter_time, 226);
RVX_AT(AxisBlock, home_ok, 228);
RVX_AT(AxisBlock, comp_width, 232);
RVX_AT(AxisBlock, reserved236, 236);
RVX_AT(AxisBlock, move_target, 252);
RVX_AT(AxisBlock, mpg_rate, 256);
RVX_AT(AxisBlock, acc_offset, 260);
RVX_AT(AxisBlock, motion_dir, 264);
RVX_AT(AxisBlock, home_mode, 268);
RVX_AT(AxisBlock, home_dir, 270);
RVX_AT(AxisBlock, home_acc, 272);
RVX_AT(AxisBlock, home_jerk, 276);
RVX_AT(AxisBlock, low_home_speed, 280);
RVX_AT(AxisBlock, high_home_speed, 284);
RVX_AT(AxisBlock, home_offset, 288);
RVX_AT(AxisBlock, home_acc_ms, 292);
RVX_AT(AxisBlock, low_home_pps, 296);
RVX_AT(AxisBlock, high_home_pps, 300);
RVX_AT(AxisBlock, minus_softlimit, 312);
RVX_AT(AxisBlock, plus_softlimit, 320);
RVX_AT(AxisBlock, ring_command, 336);
RVX_AT(AxisBlock, ring_actual, 344);
RVX_AT(AxisBlock, last_drive_speed, 352);
RVX_AT(BoardBlock, chip_lock, 5216);
RVX_AT(BoardBlock, reserved, 5220);
RVX_AT(SharedSection, log_level, 404);
RVX_AT(SharedSection, block_mode, 408);
RVX_AT(SharedSection, board, 816);
#undef RVX_AT
static_assert(sizeof(MapEntry) == 5);
static_assert(sizeof(AxisBlock) == 1304);
static_assert(sizeof(BoardBlock) == 5288);
static_assert(sizeof(SharedSection) == kSharedSectionSize);
static_assert(offsetof(SharedSection, board) + 15 * sizeof(BoardBlock) + sizeof(BoardBlock) ==
              kSharedSectionSize);

}  // namespace rvx

#endif  // RVX_CORE_SHARED_STATE_H_

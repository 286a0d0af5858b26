/**
 * @file rvx406a.h
 * @brief Programming interface of the RVX406A family of PCI pulse-train
 * motion-control boards (library rvxMApiBrd).
 *
 * Every function is exported with C linkage and an undecorated name. Setters,
 * commands, moves and stops return nothing: their outcome is the result code
 * read afterwards with RVX406A_GetErrorCode(). Getters of one value return it
 * (0 when the call fails) and also leave the result code. Getters with output
 * pointers set every output to 0 before they run and fill them on success.
 * A null pointer where a function would read or write (an output, an array
 * of axes or values, a file name) is refused with ERR_INVALID_PARAMETER:
 * nothing is read, written or sent to the board, and the call is logged as
 * any failed call. A null event handler target is no error: it stops the
 * notifications of that kind.
 *
 * Boards are numbered 0..15 in the order the driver offers them, axes 0..3,
 * interpolation maps 0..3. Distances and positions are pulses, speeds pulses
 * per second (PPS), times milliseconds.
 *
 * @par Call frame
 * Every function that takes a board (and most that take none) runs in one
 * frame: it waits for the library mutex, which is shared by all threads and
 * all processes and held for the whole call; checks, in this order, that
 * boards are loaded (ERR_DEVICE_LOAD), the board number is below the board
 * count (ERR_BOARD_NUMBER), the board still has its driver handle
 * (ERR_INVALID_HANDLE, after RVX406A_UnloadDevice()) and, for functions
 * with an axis, that the axis is 0..3 (ERR_AXIS_NUM); then checks its own
 * arguments (ERR_INVALID_PARAMETER unless a function names another code).
 * A call refused by these checks writes nothing. The mutex is re-entrant for
 * its owning thread, so a window procedure run inside a message-pumping
 * call may call the library; every other caller blocks until the call ends.
 *
 * @par Last result
 * One per process, shared by all its threads: every call that runs the frame
 * replaces it, so read it right after the call it belongs to. Functions
 * documented as running no frame leave it untouched.
 *
 * @par Logging
 * Every framed call formats one log line (" RV = " result " : " name and
 * arguments, getters with the value read) and appends it to the day's file
 * logfile_YYYYMMDD.log in the Debug folder of the install directory when the
 * log level (RVX406A_LogCheck(), shared by all processes) and the function's
 * rule allow. Rules by level 1 / 2 / 3 / above 3 (level 0 logs nothing but
 * RVX406A_LogCheck()); "all" means every call, "err" only failed calls:
 * - setter rule: all / err / all / err
 * - narrow setter rule: all / err / all / none
 * - lifecycle rule: all / all / all / none
 * - wait rule: all / err / err / none
 * - getter rule: none / err / err / err
 * - level-3 rule: none / err / all / err
 *
 * @par Shared and per-process state
 * Register shadows and settings (speeds, homing, interpolation maps, the log
 * level) live in a shared section, so configuration written by one process
 * is seen by all and RVX406A_SaveFile() stores it. The record of which moves
 * this process started (read by the completion tests and the overrides), the
 * compare and continuous tables and the event target are per process.
 */
#ifndef RVX406A_H_
#define RVX406A_H_

#include <stdint.h>

#if defined(_WIN32)
#if defined(RVX406A_BUILDING)
#define RVX406A_API __declspec(dllexport)
#else
#define RVX406A_API __declspec(dllimport)
#endif
#else
#define RVX406A_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Result codes. 0 is success, negative values are errors. RVX406A_GetErrorString()
 * gives each listed code its name as text; the codes marked "no text", and the
 * -201 of the digital I/O functions, have none.
 */
enum {
  ERR_SUCCESS = 0,
  ERR_DEVICE_LOAD = -1,
  ERR_PRM_LOAD = -2,
  ERR_DEVICE_EXIST = -3,
  ERR_DEVICE_PCI_BUS = -4,
  ERR_UPBOARD_LOAD = -5,
  ERR_CPLD_VER = -6,
  ERR_HW_TYPE = -7,
  ERR_SUPPORT_PROCESS = -10,
  ERR_INVALID_HANDLE = -100,
  ERR_CREATE_KERNEL_DRIVER_FAIL = -101,
  ERR_CREATE_MEM_FAIL = -102,
  ERR_INVALID_CHANNEL = -200,
  ERR_INVALID_PARAMETER = -300,
  ERR_INVALID_BOARD_ID = -400,
  ERR_BOARD_NUMBER = -410, /* no text */
  ERR_FILE_CREATE = -500,
  ERR_EVENT_CREATE = -510,
  ERR_MIN_STARTV = -512,
  ERR_THREAD_CREATE = -520,
  ERR_MAX_STARTV = -533,
  ERR_MIN_WORKV = -534,
  ERR_MAX_WORKV = -535,
  ERR_MIN_ACC = -536,
  ERR_MAX_ACC = -537,
  ERR_MIN_DEC = -538,
  ERR_MAX_DEC = -539,
  ERR_AXIS_NUM = -540,
  ERR_MAX_DISTANCE = -541,
  ERR_ALLOCATE_BUF = -542,
  ERR_FREE_BUF = -543,
  ERR_BUF_DATA_NOT_ENOUGH = -544,
  ERR_BUF_DATA_OVERFLOW = -545,
  ERR_AXIS_DRV_BUSY = -546,
  ERR_AXIS_HOME_BUSY = -547,
  ERR_AXIS_STEADY = -548,
  ERR_OVERRIDE_TYPE = -549,
  ERR_MPG_MODE = -550,
  ERR_COUNTER_MODE = -551,
  ERR_COMP_MODE = -552,
  ERR_STOP_BY_SLPT = -600,
  ERR_STOP_BY_SLMT = -610,
  ERR_STOP_BY_HLPT = -620,
  ERR_STOP_BY_HLMT = -630,
  ERR_STOP_BY_ALM = -640,
  ERR_STOP_BY_EMG = -650,
  ERR_STOP_BY_EZ = -660,
  ERR_STOP_BY_ERR_LIMIT = -700,
  ERR_STOP_BY_COMPARE_NO = -701,
  ERR_STOP_BY_HUNTING_NO = -702,
  ERR_IP_MAP_NUMBER = -1120, /* no text */
  ERR_IP_MAP_AXES = -1121,   /* no text */
  ERR_UNKNOWN = -9999
};
/* A digital I/O byte, word or double-word index beyond the four-module limit
 * gives -201, which has neither name nor text. */

/** Event notification callback: board number, kind 0 = motion, 1 = digital input.
 * It runs on the board's watcher thread. */
typedef void (*RVX406A_EVENT_CALLBACK)(uint32_t board, uint32_t kind);

/** One segment of a continuous interpolation table (20 bytes). */
typedef struct RVX406A_CONTI_SEGMENT {
  int32_t end1;    /**< end position of the first group axis */
  int32_t end2;    /**< end position of the second group axis */
  int32_t center1; /**< arc centre, first group axis */
  int32_t center2; /**< arc centre, second group axis */
  uint16_t type;   /**< 0 line, 1 arc (0x32), 2 arc (0x33); above 2 taken as 2 */
  uint16_t reserved;
} RVX406A_CONTI_SEGMENT;

/**
 * @defgroup loading Loading, results and housekeeping
 * Opening and closing the boards, the result of the last call, resets,
 * board information, the parameter file and the log level.
 * RVX406A_LoadDevice() must come first; every other framed call fails with
 * ERR_DEVICE_LOAD until a board is loaded. The board functions here take no
 * axis. The empty entry points run no frame and leave the last result alone.
 * @{
 */

/**
 * Opens every board the driver offers: devices 0, 1, 2, ... up to the first
 * one missing, at most 16. The first process to load (the one that creates
 * the library mutex) also runs the bus test, programs each board from its
 * parameter file (defaults when the file is missing), reads the log level and
 * switches the servo-run output on; later processes join that state.
 * Who loads the files: a process that has never joined and finds no other
 * process loaded does the first load. A second process, loading while another
 * holds the boards, joins (no bus test, no files) and stays a joiner for its
 * whole life: when it loads again after every other process has unloaded, it
 * still joins what the shared state holds. A process that finds the mutex held
 * by a first loader that died during its load takes over and does the first
 * load itself, unless it had joined before. Starts
 * one event watcher thread per board when at most 8 boards are loaded (none
 * with more). May be called again: the board table is rebuilt.
 * @return the highest board number (board count - 1) on success, else a
 * negative result code: ERR_CREATE_KERNEL_DRIVER_FAIL (no mutex),
 * ERR_SUPPORT_PROCESS (32-bit x86 system), ERR_CREATE_MEM_FAIL (no shared
 * section), ERR_DEVICE_LOAD (no board), ERR_DEVICE_PCI_BUS, ERR_HW_TYPE,
 * ERR_UPBOARD_LOAD (expansion modules not stacked from module 2 up) or
 * ERR_PRM_LOAD; a failure leaves no board loaded. The same code is the last
 * result. Lifecycle rule; blocks other callers while the files load.
 */
RVX406A_API int32_t RVX406A_LoadDevice(void);
/**
 * Closes this process's boards: stops the watcher threads (up to 5 s each,
 * then forcibly, plus 300 ms), disables and closes the board events, closes
 * the driver handles, then dispatches the calling thread's window messages
 * for 5 ms. The board count is kept, so later board calls fail with
 * ERR_INVALID_HANDLE. Other processes keep the boards and the shared state.
 * Result: 0, or ERR_DEVICE_LOAD when no board was loaded. Lifecycle rule.
 */
RVX406A_API void RVX406A_UnloadDevice(void);
/**
 * Not supported. Runs no frame.
 * @return always ERR_CREATE_KERNEL_DRIVER_FAIL.
 */
RVX406A_API int32_t RVX406A_LoadDeviceEx(uint16_t board);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_UnloadDeviceEx(uint16_t board);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_PutINSTB(uint16_t board);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_PutOTSTB(uint16_t board);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_SetINSTB(uint16_t board);
/**
 * The last result of this process: the code left by the most recent call
 * that ran the frame, from any thread. Takes no lock and writes no log.
 * @return 0 (ERR_SUCCESS) or a negative result code.
 */
RVX406A_API int32_t RVX406A_GetErrorCode(void);
/**
 * The name of a result code as text ("ERR_AXIS_DRV_BUSY" for -546).
 * @return a per-process buffer of 260 characters that every call overwrites;
 * do not free it. For a code without text (ERR_BOARD_NUMBER, -201,
 * ERR_IP_MAP_NUMBER, ERR_IP_MAP_AXES, any unknown value) the buffer is
 * returned unchanged: empty, or the text of an earlier call. Takes no lock,
 * writes no log and keeps the last result; not safe from two threads at once.
 */
RVX406A_API char* RVX406A_GetErrorString(int32_t code);
/**
 * Returns the whole board to factory defaults without waiting for motion:
 * resets the chip (both position counters of every axis 0), every register
 * shadow and axis setting of the board (speeds, homing, limits, ranges), all
 * outputs of the expansion modules off, DI filter on with time 10. Affects
 * every process that uses the board. Lifecycle rule.
 */
RVX406A_API void RVX406A_Reset(uint16_t board);
/**
 * Returns one idle axis to its defaults (mode words, speeds, homing, limits,
 * ring values, acceleration offset) and reprograms the DI filter (on, time 10)
 * of every module; outputs stay. Also clears the axis's limit-as-home field,
 * the board's emergency/compare register (PLD 5) and origin select register,
 * and the interpolation word of map 0. ERR_AXIS_DRV_BUSY while the axis
 * drives: nothing is written. Narrow setter rule.
 */
RVX406A_API void RVX406A_SetSystemDefault(uint16_t board, uint16_t axis);
/**
 * Board identity and capacity. Getter rule.
 * @param type board type number, 196 on every supported board
 * @param version logic version (PLD register 14) on boards of type code 3,
 * 80 on others
 * @param axes axis count (4)
 * @param di digital input count: 0, 16, 32, 48 or 64
 * @param do_count digital output count, as @p di
 */
RVX406A_API void RVX406A_BoardInfo(uint16_t board, uint32_t* type, uint32_t* version,
                                   uint32_t* axes, uint32_t* di, uint32_t* do_count);
/** @return the board ID byte (PLD register 2), read from the board at each call. Getter rule. */
RVX406A_API uint16_t RVX406A_GetBoardID(uint16_t board);
/**
 * @return the axis count (4); 0 with ERR_HW_TYPE when the board reports an
 * unsupported type code. Getter rule.
 */
RVX406A_API uint16_t RVX406A_GetAxisNum(uint16_t board);
/** @return the digital input count: 0, 16, 32, 48 or 64 (16 per module). Getter rule. */
RVX406A_API uint16_t RVX406A_GetDiNum(uint16_t board);
/** @return the digital output count: 0, 16, 32, 48 or 64 (16 per module). Getter rule. */
RVX406A_API uint16_t RVX406A_GetDoNum(uint16_t board);
/**
 * Stores the block mode flag (0 or 1), one value for all boards and processes.
 * No function of the library acts on it; it is kept for the application.
 * ERR_INVALID_PARAMETER above 1, ERR_DEVICE_LOAD without loaded boards.
 * Level-3 rule.
 */
RVX406A_API void RVX406A_SetBlockMode(uint16_t mode);
/**
 * @return the block mode flag; 0 with ERR_DEVICE_LOAD when no board is loaded.
 * Getter rule.
 */
RVX406A_API uint16_t RVX406A_GetBlockMode(void);
/**
 * Version number of a module file from its FileVersion string (Korean,
 * Unicode string table), "a, b, c, d" giving a*1000000 + b*10000 + c*100 + d.
 * Missing or non-numeric pieces count as 0. Needs loaded boards.
 * @param path the file, as the platform's file functions take it
 * @return the version; 0 with result 0 when the file has no version
 * information; 0 with ERR_DEVICE_LOAD when no board is loaded. Getter rule.
 */
RVX406A_API uint32_t RVX406A_GetDllVersion(const char* path);
/**
 * Writes the board's settings (every axis's shadows and settings, PLD bank,
 * DI filter) to its parameter file RVXPRMn.DAT in the Parameter folder, and
 * the log level to DbgLevel.ini; the file is left read-only. A file that
 * cannot be written is not reported: the result is 0 after the board checks.
 * Logged at levels 2 and 3 only, whatever the result.
 */
RVX406A_API void RVX406A_SaveFile(uint16_t board);
/**
 * Sets the log level, 0 (off) to 3, for every process; it is saved with
 * RVX406A_SaveFile(). ERR_INVALID_PARAMETER above 3 (level unchanged),
 * ERR_DEVICE_LOAD without loaded boards. Its own line is always logged, also
 * at level 0.
 */
RVX406A_API void RVX406A_LogCheck(uint16_t level);

/** @} */

/**
 * @defgroup status Status and positions
 * Raw status words and the position counters of one axis. Every function
 * takes board and axis and runs the full frame (ERR_AXIS_NUM for an axis
 * above 3). Getters return their value, 0 when the call fails, and follow the
 * getter rule; setters follow the setter rule. Status bits are read from the
 * chip at each call.
 * @{
 */

/**
 * Composite status of the axis. Bits: 0 home input, 1 Z-phase input,
 * 2 emergency stop (RR2 bit 5), 3 in-position, 4 alarm (these four inputs
 * corrected by their logic settings), 5 + limit and 6 - limit input (flipped
 * while RR2 reports a stop at that limit), * 8 axis driving, 9 chip status RR0 bit 4 + axis, 11
 * home success (RVX406A_GetHomeSuccess()), 12 interpolation driving, 13 output bit 2 of the axis,
 * 14 servo-on output, 15 alarm-reset output.
 */
RVX406A_API uint16_t RVX406A_GetCardStatus(uint16_t board, uint16_t axis);
/**
 * Chip main status RR0 masked to this axis: bit axis = driving, bit 4 + axis,
 * and bits 8..14 (bit 8 = an interpolation drives).
 */
RVX406A_API uint16_t RVX406A_GetMainStatus(uint16_t board, uint16_t axis);
/** Chip drive status RR1 of the axis, as read. */
RVX406A_API uint16_t RVX406A_GetDrvStatus(uint16_t board, uint16_t axis);
/**
 * Chip error status RR2 of the axis, as read: bit 0 + soft limit, 1 - soft
 * limit, 2 + hard limit, 3 - hard limit, 4 alarm, 5 emergency, 7 Z-phase;
 * the stop cause of the last drive.
 */
RVX406A_API uint16_t RVX406A_GetErrStatus(uint16_t board, uint16_t axis);
/**
 * The axis's input signals (RR4 or RR5) inverted, so that 1 means active:
 * bits 1..7 of the low byte for axes 0 and 2, of the high byte for axes 1
 * and 3 (not shifted down).
 */
RVX406A_API uint16_t RVX406A_GetInputStatus(uint16_t board, uint16_t axis);
/** Low byte of the chip's interrupt status RR3 of the axis. */
RVX406A_API uint16_t RVX406A_GetEventStatus(uint16_t board, uint16_t axis);
/** @return the logical (command) position counter, pulses. */
RVX406A_API int32_t RVX406A_GetCommandPos(uint16_t board, uint16_t axis);
/** @return the real (encoder) position counter, pulses. */
RVX406A_API int32_t RVX406A_GetActualPos(uint16_t board, uint16_t axis);
/**
 * @return the current drive speed, PPS (0 at rest): the chip's speed
 * reading times the axis's multiplier, which is the range setting with
 * RVX406A_SetFixedRange() 1, else rebuilt from the drive speed of the last
 * move started on the axis.
 */
RVX406A_API int32_t RVX406A_GetCommandSpeed(uint16_t board, uint16_t axis);
/**
 * Loads the logical position counter, pulses; no busy test. -2147483648 is
 * refused with ERR_INVALID_PARAMETER.
 */
RVX406A_API void RVX406A_SetCommandPos(uint16_t board, uint16_t axis, int32_t position);
/** Loads the real (encoder) position counter, as RVX406A_SetCommandPos(). */
RVX406A_API void RVX406A_SetActualPos(uint16_t board, uint16_t axis, int32_t position);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_SetEnableEvent(uint16_t board, uint16_t axis, uint16_t value);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_SetIpExtPulse(uint16_t board, uint16_t map, uint16_t value);

/** @} */

/**
 * @defgroup signals Servo and sensor signals
 * The signals between an axis and its drive and sensors. Every function
 * takes board and axis (except RVX406A_SetEmergency() and
 * RVX406A_GetEmergency(), which take the board only) and runs the full frame.
 * On/off, enable, logic and mode arguments are 0 or 1 (1 sets the bit; which
 * electrical level is active is the board's), else ERR_INVALID_PARAMETER and
 * nothing is written. Setters write the chip register at once and keep a
 * shadow in the shared section, from which the getters answer; they follow
 * the setter rule, the getters the getter rule. None makes a busy test.
 * @{
 */

/**
 * Servo-on output of the axis (1 on). Writes the board's shared output word
 * WR4; the other axes' outputs keep their state.
 */
RVX406A_API void RVX406A_PutSvOn(uint16_t board, uint16_t axis, uint16_t on);
/** @return the servo-on output as last written (1 on), from the shadow. */
RVX406A_API uint16_t RVX406A_GetSvOn(uint16_t board, uint16_t axis);
/** Alarm-reset output of the axis (1 on); WR4 as RVX406A_PutSvOn(). */
RVX406A_API void RVX406A_PutSvAlmRst(uint16_t board, uint16_t axis, uint16_t on);
/** @return the alarm-reset output as last written, from the shadow. */
RVX406A_API uint16_t RVX406A_GetSvAlmRst(uint16_t board, uint16_t axis);
/**
 * Servo alarm input: @p enable makes an active alarm stop the axis (WR2 bit
 * 13), @p logic its active level (WR2 bit 12).
 */
RVX406A_API void RVX406A_SetSvAlm(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic);
/** Alarm input enable and logic as set, from the shadow. */
RVX406A_API void RVX406A_GetSvAlm(uint16_t board, uint16_t axis, uint16_t* enable, uint16_t* logic);
/** In-position input: enable (WR2 bit 15) and logic (WR2 bit 14). */
RVX406A_API void RVX406A_SetSvInpos(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic);
/** In-position input enable and logic as set, from the shadow. */
RVX406A_API void RVX406A_GetSvInpos(uint16_t board, uint16_t axis, uint16_t* enable,
                                    uint16_t* logic);
/**
 * Hardware limit inputs: @p mode the stop mode at a limit (WR2 bit 2),
 * @p logic the active level of both limits (WR2 bits 3 and 4). While the
 * home mode searches on a limit (modes 4..7) the home input logic follows.
 */
RVX406A_API void RVX406A_SetHlmt(uint16_t board, uint16_t axis, uint16_t mode, uint16_t logic);
/** Limit mode and logic; logic reads 1 only when both limit logic bits are set. */
RVX406A_API void RVX406A_GetHlmt(uint16_t board, uint16_t axis, uint16_t* mode, uint16_t* logic);
/**
 * Home (origin) input logic (WR1 bits 0 and 2). While the home mode searches
 * on a limit (modes 4..7) the limit logic is applied instead of @p logic.
 */
RVX406A_API void RVX406A_SetOrg(uint16_t board, uint16_t axis, uint16_t logic);
/** @return the home input logic, 1 only when both its bits are set. */
RVX406A_API uint16_t RVX406A_GetOrg(uint16_t board, uint16_t axis);
/** Encoder Z-phase input logic (WR1 bit 4). */
RVX406A_API void RVX406A_SetEncoderZ(uint16_t board, uint16_t axis, uint16_t logic);
/** @return the Z-phase input logic. */
RVX406A_API uint16_t RVX406A_GetEncoderZ(uint16_t board, uint16_t axis);
/**
 * Deviation counter clear output: @p logic its active level. @p enable is
 * checked (0 or 1) but the output is always enabled, and logged as 1.
 * Extension mode write (EM7 bits 11 and 12).
 */
RVX406A_API void RVX406A_SetSvCClr(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic);
/** Deviation counter clear enable (always 1 once set) and logic, from the shadow. */
RVX406A_API void RVX406A_GetSvCClr(uint16_t board, uint16_t axis, uint16_t* enable,
                                   uint16_t* logic);
/** Deviation counter clear pulse width, chip code 0..7 (EM7 bits 13..15). */
RVX406A_API void RVX406A_SetSvCClrTime(uint16_t board, uint16_t axis, uint16_t time);
/** @return the deviation counter clear width code 0..7. */
RVX406A_API uint16_t RVX406A_GetSvCClrTime(uint16_t board, uint16_t axis);
/** Issues one deviation counter clear pulse on the axis (chip command 0x63). */
RVX406A_API void RVX406A_PutSvCClrCmd(uint16_t board, uint16_t axis);
/**
 * Board emergency input setting, 0 or 1: bit 0 of PLD register 5, written
 * back with the compare trigger bits unchanged. No axis.
 */
RVX406A_API void RVX406A_SetEmergency(uint16_t board, uint16_t mode);
/** @return the emergency setting, read from the board. No axis. */
RVX406A_API uint16_t RVX406A_GetEmergency(uint16_t board);
/**
 * Board-wide servo-run output (1 on; active-low bit 8 of local register 80).
 * @p axis is logged but neither checked nor used. Level-3 rule.
 */
RVX406A_API void RVX406A_PutSvRun(uint16_t board, uint16_t axis, uint16_t on);
/** @return 1 while the board's servo-run output is on; @p axis is not used. */
RVX406A_API uint16_t RVX406A_GetSvRun(uint16_t board, uint16_t axis);
/**
 * Why the axis stopped, decoded from RR2: one of ERR_STOP_BY_SLPT, _SLMT,
 * _HLPT, _HLMT, _ALM, _EMG, _EZ; ERR_UNKNOWN when several causes are set;
 * 0 for none. Also settles a home search this process started: no alarm,
 * emergency or Z-phase error sets the home success flag, one clears it; this
 * runs even while the search still drives, so check that the axis is idle first.
 * @return the decoded code; the last result is the frame's result (0), not
 * the code, and 0 is returned when the frame fails. Logged only at level 3
 * on a frame error.
 */
RVX406A_API int32_t RVX406A_GetMotionErrCod(uint16_t board, uint16_t axis);

/** @} */

/**
 * @defgroup pulse Pulse output, encoder input and limits
 * How an axis emits pulses and counts its encoder, its speed range, and the
 * two uses of the chip's two compare registers: software limits and ring
 * counters (enabling one disables the other). Full frame with axis; setters
 * follow the setter rule, getters the getter rule and answer from the shared
 * settings. None makes a busy test.
 * @{
 */

/**
 * Speed range 1..500: the largest speed multiplier M the speed arithmetic
 * may use (the highest speed is 8000 * M PPS, the speed resolution M PPS).
 * With RVX406A_SetFixedRange() 1, M is this value. Stored only; takes effect
 * at the next move. ERR_INVALID_PARAMETER for 0 or above 500.
 */
RVX406A_API void RVX406A_SetRangeMode(uint16_t board, uint16_t axis, uint16_t range);
/** @return the speed range setting 1..500. */
RVX406A_API uint16_t RVX406A_GetRangeMode(uint16_t board, uint16_t axis);
/** Pulse output mode 0..5 (chip pulse/direction forms, WR2 bits 6..8). */
RVX406A_API void RVX406A_SetPulseMode(uint16_t board, uint16_t axis, uint16_t mode);
/** @return the pulse output mode 0..5 (a bit pattern that is no mode reads 0). */
RVX406A_API uint16_t RVX406A_GetPulseMode(uint16_t board, uint16_t axis);
/**
 * Pulse direction reversal, 0 or 1 (EM6 bit 2): with 1 the + drive commands
 * move the axis physically in the - direction; the home search allows for it.
 */
RVX406A_API void RVX406A_SetPulseDir(uint16_t board, uint16_t axis, uint16_t dir);
/** @return the pulse direction reversal, 0 or 1. */
RVX406A_API uint16_t RVX406A_GetPulseDir(uint16_t board, uint16_t axis);
/** Encoder input mode 0..3 (chip counting forms, WR2 bits 9..11). */
RVX406A_API void RVX406A_SetEncoderMode(uint16_t board, uint16_t axis, uint16_t mode);
/** @return the encoder input mode 0..3 (a bit pattern that is no mode reads 0). */
RVX406A_API uint16_t RVX406A_GetEncoderMode(uint16_t board, uint16_t axis);
/** Encoder count direction reversal, 0 or 1 (EM6 bit 1). */
RVX406A_API void RVX406A_SetEncoderDir(uint16_t board, uint16_t axis, uint16_t dir);
/** @return the encoder direction reversal, 0 or 1. */
RVX406A_API uint16_t RVX406A_GetEncoderDir(uint16_t board, uint16_t axis);
/**
 * Software limits, pulses, each -1073741824..1073741823 (@p plus need not
 * exceed @p minus); @p enable 0 or 1. Enabling loads the compare registers
 * and switches the ring counter off; disabling writes no compare register.
 * The values are stored either way and come back when the ring counter is
 * disabled. ERR_INVALID_PARAMETER; ERR_COMP_MODE while the compare trigger is
 * in mode 1 (it owns the compare registers): nothing is changed.
 */
RVX406A_API void RVX406A_SetSlmt(uint16_t board, uint16_t axis, int32_t plus, int32_t minus,
                                 uint16_t enable);
/** Software limits as last set, and whether they are enabled. */
RVX406A_API void RVX406A_GetSlmt(uint16_t board, uint16_t axis, int32_t* plus, int32_t* minus,
                                 uint16_t* enable);
/**
 * Ring counters: the logical counter wraps after @p command pulses, the real
 * counter after @p actual, each 1..1073741823; @p enable 0 or 1. Enabling
 * switches the software limits off; disabling reloads the compare registers
 * with the stored software limits. The sizes are stored either way.
 * ERR_INVALID_PARAMETER; ERR_COMP_MODE while the compare trigger is in mode 1.
 */
RVX406A_API void RVX406A_SetCounterRing(uint16_t board, uint16_t axis, uint32_t command,
                                        uint32_t actual, uint16_t enable);
/** Ring sizes as last set, and whether the ring counter is enabled. */
RVX406A_API void RVX406A_GetCounterRing(uint16_t board, uint16_t axis, uint32_t* command,
                                        uint32_t* actual, uint16_t* enable);

/** @} */

/**
 * @defgroup filters Input filters and counter modes
 * The chip's digital noise filters of one axis's input groups, their common
 * filter time, and the compare counter mode. Full frame with axis; each
 * setter rewrites the whole extension mode word (or WR2) from its shadow with
 * one field changed, ERR_INVALID_PARAMETER for a value out of range (0 or 1
 * for the switches). Setter rule; getters answer from the shadow with the
 * getter rule, except RVX406A_GetFilterStop().
 * @{
 */

/** Filter time code 0..7 common to the axis's filters (EM6 bits 13..15; default 3). */
RVX406A_API void RVX406A_SetFilterTime(uint16_t board, uint16_t axis, uint16_t time);
/** @return the filter time code 0..7. */
RVX406A_API uint16_t RVX406A_GetFilterTime(uint16_t board, uint16_t axis);
/** Filter of the sensor inputs on (1) or off (EM6 bit 8; default on). */
RVX406A_API void RVX406A_SetFilterSensor(uint16_t board, uint16_t axis, uint16_t on);
/** @return 1 while the sensor input filter is on. */
RVX406A_API uint16_t RVX406A_GetFilterSensor(uint16_t board, uint16_t axis);
/** Filter of the encoder Z-phase input (EM6 bit 9; default off). */
RVX406A_API void RVX406A_SetFilterEncoderZ(uint16_t board, uint16_t axis, uint16_t on);
/** @return 1 while the Z-phase input filter is on. */
RVX406A_API uint16_t RVX406A_GetFilterEncoderZ(uint16_t board, uint16_t axis);
/** Filter of the servo interface inputs (EM6 bit 10; default on). */
RVX406A_API void RVX406A_SetFilterSvIF(uint16_t board, uint16_t axis, uint16_t on);
/** @return 1 while the servo interface input filter is on. */
RVX406A_API uint16_t RVX406A_GetFilterSvIF(uint16_t board, uint16_t axis);
/** Filter of the stop inputs (EM6 bit 12; default off). */
RVX406A_API void RVX406A_SetFilterStop(uint16_t board, uint16_t axis, uint16_t on);
/**
 * @return 1 while the stop input filter is on. Level-3 rule; its log line
 * shows board and axis only.
 */
RVX406A_API uint16_t RVX406A_GetFilterStop(uint16_t board, uint16_t axis);
/** Filter of the external inputs (EM6 bit 11; default off). */
RVX406A_API void RVX406A_SetFilterExt(uint16_t board, uint16_t axis, uint16_t on);
/** @return 1 while the external input filter is on. */
RVX406A_API uint16_t RVX406A_GetFilterExt(uint16_t board, uint16_t axis);
/** Compare counter mode, 0 or 1 (WR2 bit 5). */
RVX406A_API void RVX406A_SetCompCountMode(uint16_t board, uint16_t axis, uint16_t mode);
/** @return the compare counter mode, 0 or 1. */
RVX406A_API uint16_t RVX406A_GetCompCountMode(uint16_t board, uint16_t axis);

/** @} */

/**
 * @defgroup dio Digital I/O
 * The inputs and outputs of the expansion modules (16 + 16 per module, up to
 * four): channel n (0..63) is bit n % 8 of byte n / 8; words and double words
 * are built little-endian from bytes. Board frame, no axis. Limits are those
 * of four modules whatever is fitted: a channel above 63 gives
 * ERR_INVALID_CHANNEL, a byte above 7, word above 3 or double word above 1
 * gives -201 (no name). Channels of modules not fitted are no error: writes
 * skip them, reads give 0. Inputs read 1 when active (the module register is
 * inverted); outputs are read back from the modules, nothing is shadowed.
 * Put functions follow the level-3 rule, Get functions the getter rule.
 * @{
 */

/**
 * Switches one output, @p value 0 or 1 (else ERR_INVALID_PARAMETER). The
 * other outputs of its byte keep the state read back from the module, under
 * the library mutex, so no other process's change is lost.
 */
RVX406A_API void RVX406A_PutDOBit(uint16_t board, uint16_t channel, uint16_t value);
/** @return the state of one output, read back from the module. */
RVX406A_API uint16_t RVX406A_GetDOBit(uint16_t board, uint16_t channel);
/** Writes outputs 8 * index .. 8 * index + 7 (index 0..7). */
RVX406A_API void RVX406A_PutDOByte(uint16_t board, uint16_t index, uint8_t value);
/** Reads back outputs byte @p index (0..7). */
RVX406A_API void RVX406A_GetDOByte(uint16_t board, uint16_t index, uint8_t* value);
/** Writes outputs 16 * index .. 16 * index + 15 (index 0..3), low byte first. */
RVX406A_API void RVX406A_PutDOWord(uint16_t board, uint16_t index, uint16_t value);
/** Reads back outputs word @p index (0..3). */
RVX406A_API void RVX406A_GetDOWord(uint16_t board, uint16_t index, uint16_t* value);
/** Writes outputs 32 * index .. 32 * index + 31 (index 0..1), low byte first. */
RVX406A_API void RVX406A_PutDODWord(uint16_t board, uint16_t index, uint32_t value);
/** Reads back outputs double word @p index (0..1). */
RVX406A_API void RVX406A_GetDODWord(uint16_t board, uint16_t index, uint32_t* value);
/** @return one input, 1 when active. */
RVX406A_API uint16_t RVX406A_GetDIBit(uint16_t board, uint16_t channel);
/** Reads inputs byte @p index (0..7), 1 = active. */
RVX406A_API void RVX406A_GetDIByte(uint16_t board, uint16_t index, uint8_t* value);
/** Reads inputs word @p index (0..3), 1 = active. */
RVX406A_API void RVX406A_GetDIWord(uint16_t board, uint16_t index, uint16_t* value);
/** Reads inputs double word @p index (0..1), 1 = active. */
RVX406A_API void RVX406A_GetDIDWord(uint16_t board, uint16_t index, uint32_t* value);
/**
 * Input filter of every fitted module on (1) or off (0; else
 * ERR_INVALID_PARAMETER); stored for RVX406A_SaveFile(). Level-3 rule.
 */
RVX406A_API void RVX406A_SetDiFilter(uint16_t board, uint16_t on);
/** @return the input filter setting as stored (default 1). */
RVX406A_API uint16_t RVX406A_GetDiFilter(uint16_t board);
/**
 * Input filter time code 0..15 of every fitted module (else
 * ERR_INVALID_PARAMETER); stored for RVX406A_SaveFile(). Level-3 rule.
 */
RVX406A_API void RVX406A_SetDiFilterTime(uint16_t board, uint16_t time);
/** @return the input filter time code as stored (default 10). */
RVX406A_API uint16_t RVX406A_GetDiFilterTime(uint16_t board);
/** Does nothing; runs no frame. Use RVX406A_PutDODWord(). */
RVX406A_API void RVX406A_PutDO(uint16_t board, uint32_t value);
/** Runs no frame. @return always 0; use RVX406A_GetDIDWord(). */
RVX406A_API uint32_t RVX406A_GetDI(uint16_t board);
/** Runs no frame. @return always 0; use RVX406A_GetDODWord(). */
RVX406A_API uint32_t RVX406A_GetDO(uint16_t board);
/** Runs no frame. @return always 0; use RVX406A_GetDiFilter(). */
RVX406A_API uint16_t RVX406A_GetFilterDI(uint16_t board);
/** Does nothing; runs no frame. Use RVX406A_SetDiFilter(). */
RVX406A_API void RVX406A_SetFilterDI(uint16_t board, uint16_t value);

/** @} */

/**
 * @defgroup speed Speed settings
 * The stored speed profiles of one axis: positioning (fixed-pulse moves) and
 * jog (continuous moves), the profile shape and the acceleration offset.
 * Speeds in PPS up to 4,000,000, times in ms up to 64,000; 0 is accepted and
 * computed as 1, a start speed not below the drive speed gives a constant-speed
 * move. Checks come in argument order; the first failing one names the code
 * (ERR_MAX_STARTV, ERR_MAX_WORKV, ERR_MAX_ACC, ERR_MAX_DEC) and nothing is
 * stored. Profiles are stored only and apply to moves started afterwards.
 * Full frame with axis; setter rule, getters the getter rule (they return the
 * values as given).
 * @{
 */

/**
 * Profile shape of every later move of the axis: 0 trapezoid, 1 S-curve
 * (WR3 bit 2, written at once). Home searches and arcs always run trapezoid.
 */
RVX406A_API void RVX406A_SetSpeedMode(uint16_t board, uint16_t axis, uint16_t mode);
/** @return the profile shape, 0 trapezoid or 1 S-curve. */
RVX406A_API uint16_t RVX406A_GetSpeedMode(uint16_t board, uint16_t axis);
/**
 * Positioning profile used by RVX406A_Inc_Move(), RVX406A_Abs_Move() and
 * their multi-axis forms: start and drive speed (PPS), acceleration and
 * deceleration time (ms; in S-curve mode the times set the jerk).
 */
RVX406A_API void RVX406A_SetPosSpeed(uint16_t board, uint16_t axis, uint32_t start_pps,
                                     uint32_t drive_pps, uint32_t acc_ms, uint32_t dec_ms);
/** The positioning profile as given. */
RVX406A_API void RVX406A_GetPosSpeed(uint16_t board, uint16_t axis, uint32_t* start_pps,
                                     uint32_t* drive_pps, uint32_t* acc_ms, uint32_t* dec_ms);
/**
 * Jog profile used by RVX406A_Jog_Move() and RVX406A_Multi_Jog_Move(): start
 * and drive speed (PPS) and one time (ms) for both ramps.
 */
RVX406A_API void RVX406A_SetJogSpeed(uint16_t board, uint16_t axis, uint32_t start_pps,
                                     uint32_t drive_pps, uint32_t acc_ms);
/** The jog profile as given. */
RVX406A_API void RVX406A_GetJogSpeed(uint16_t board, uint16_t axis, uint32_t* start_pps,
                                     uint32_t* drive_pps, uint32_t* acc_ms);
/**
 * Acceleration counter offset, -32768..32767 pulses (else
 * ERR_INVALID_PARAMETER); written to the chip at once (command 0x0D).
 */
RVX406A_API void RVX406A_SetAccOffset(uint16_t board, uint16_t axis, int32_t offset);
/** @return the acceleration counter offset as stored. */
RVX406A_API int32_t RVX406A_GetAccOffset(uint16_t board, uint16_t axis);

/** @} */

/**
 * @defgroup single Single-axis motion
 * Start, test and stop one axis. Moves check their argument, then refuse a
 * driving axis (ERR_AXIS_DRV_BUSY) and an axis in manual-pulser mode
 * (ERR_MPG_MODE, RVX406A_SetExtMode()), load the axis's mode words, range and
 * stored profile, issue the drive command and return at once; the chip then
 * drives on its own. This process records each move it starts, so that the
 * completion test that first sees the axis idle logs it once and the
 * overrides know what runs. Full frame with axis; moves and stops follow the
 * setter rule, RVX406A_Done() and RVX406A_Wait() the wait rule (and log only
 * the first completion of a move this process started).
 * @{
 */

/**
 * Relative fixed-pulse move by @p distance pulses, -268435455..268435455
 * (else ERR_INVALID_PARAMETER), with the positioning profile.
 */
RVX406A_API void RVX406A_Inc_Move(uint16_t board, uint16_t axis, int32_t distance);
/**
 * Absolute fixed-pulse move to @p position (any value but -2147483648) with
 * the positioning profile. ERR_MAX_DISTANCE when the target lies more than
 * 268435455 pulses from the logical position; the range and profile are then
 * loaded already, but nothing moves.
 */
RVX406A_API void RVX406A_Abs_Move(uint16_t board, uint16_t axis, int32_t position);
/**
 * Continuous move with the jog profile until stopped (by a stop call, a limit,
 * an alarm or the emergency input): @p direction 1 positive, 0 negative
 * (else ERR_INVALID_PARAMETER).
 */
RVX406A_API void RVX406A_Jog_Move(uint16_t board, uint16_t axis, uint16_t direction);
/**
 * Completion test; does not block.
 * @return 1 while the axis still drives, 0 once it is idle (idle is confirmed
 * by a second read). The last result is 0 while it drives, then the stop
 * cause: 0 for a normal end, else the first of ERR_STOP_BY_SLPT, _SLMT, _HLPT,
 * _HLMT, _ALM, _EMG, _EZ that the chip reports. 0 is returned too when the
 * frame fails. Does not judge a home search (see RVX406A_HomeIsBusy()).
 */
RVX406A_API uint16_t RVX406A_Done(uint16_t board, uint16_t axis);
/**
 * Blocks until the axis is idle, polling the chip without pause or time-out
 * and holding the library mutex throughout: every other caller, in every
 * process, waits too (poll RVX406A_Done() with a pause instead where others
 * must go on). The last result is the stop cause, as RVX406A_Done().
 * @param mode 0 plain wait; 1 also dispatches the calling thread's window
 * messages (their procedures may call the library, e.g. a stop); a quit
 * message ends the wait at once, is posted again, and leaves the last result
 * and the move record as they were. Other values: ERR_INVALID_PARAMETER,
 * no wait.
 */
RVX406A_API void RVX406A_Wait(uint16_t board, uint16_t axis, uint16_t mode);
/**
 * Decelerating stop (chip command 0x26); returns at once, no busy test. A
 * stopped home search never counts as successful.
 */
RVX406A_API void RVX406A_Decel_Stop(uint16_t board, uint16_t axis);
/** Immediate stop (chip command 0x27), as RVX406A_Decel_Stop(). */
RVX406A_API void RVX406A_Sudden_Stop(uint16_t board, uint16_t axis);

/** @} */

/**
 * @defgroup multi Multi-axis motion
 * Several axes of one board in one call, each with its own profile; moves
 * start together (drive start hold, then one release) and stops act in one
 * chip clock. @p count is 2..4 (else ERR_INVALID_PARAMETER); @p axes lists
 * the axes in the order they are checked and handled, and the value arrays
 * hold one entry per listed axis. Every axis is checked before anything is
 * written (ERR_AXIS_NUM, the per-axis argument, ERR_AXIS_DRV_BUSY,
 * ERR_MPG_MODE, ERR_MAX_DISTANCE): the first failure in list order is the
 * result and starts no axis. Board frame; one log line per listed axis with
 * the one result. Moves and stops follow the setter rule, the completion
 * tests the narrow setter rule.
 * @{
 */

/** Relative fixed-pulse moves, each distance as RVX406A_Inc_Move(). */
RVX406A_API void RVX406A_Multi_Inc_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const int32_t* distances);
/** Absolute fixed-pulse moves, each target as RVX406A_Abs_Move(). */
RVX406A_API void RVX406A_Multi_Abs_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const int32_t* positions);
/** Jog moves, directions 1 positive or 0 negative, as RVX406A_Jog_Move(). */
RVX406A_API void RVX406A_Multi_Jog_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const uint16_t* directions);
/**
 * Completion test of the listed axes; does not block.
 * @return 1 as soon as a listed axis drives (last result 0, nothing logged);
 * 0 when all are idle, with the last result the stop cause of the first
 * listed axis that has one. Logs on every call that finds all idle.
 */
RVX406A_API uint16_t RVX406A_Multi_Done(uint16_t board, uint16_t count, const uint16_t* axes);
/**
 * Blocks until every listed axis is idle, as RVX406A_Wait() (mutex held, no
 * time-out, @p mode 0 or 1 with message dispatch and quit handling); the last
 * result is the stop cause as RVX406A_Multi_Done(). While it polls, every
 * other call of every thread and process waits for the mutex; poll
 * RVX406A_Multi_Done() instead where another program must go on meanwhile.
 */
RVX406A_API void RVX406A_Multi_Wait(uint16_t board, uint16_t count, const uint16_t* axes,
                                    uint16_t mode);
/** Decelerating stop of the listed axes in one command; no busy test. */
RVX406A_API void RVX406A_Multi_Decel_Stop(uint16_t board, uint16_t count, const uint16_t* axes);
/** Immediate stop of the listed axes in one command; no busy test. */
RVX406A_API void RVX406A_Multi_Sudden_Stop(uint16_t board, uint16_t count, const uint16_t* axes);

/** @} */

/**
 * @defgroup homing Homing
 * The chip's automatic home search: up to four steps (high-speed search for
 * the near-home input, low-speed search for the home input, low-speed search
 * for the Z-phase, offset drive) chosen by the home mode, then the home
 * success flag. Settings are shared by all processes and saved by
 * RVX406A_SaveFile(); the search's verdict is judged only in the process that
 * started it. Full frame with axis; setters and the searches follow the
 * setter rule, getters the getter rule.
 * @{
 */

/**
 * Search direction: 0 +, 1 - (chip direction; pulse reversal is allowed
 * for). Rewrites the home search word and the limit-as-home field at once.
 */
RVX406A_API void RVX406A_SetHomeDir(uint16_t board, uint16_t axis, uint16_t direction);
/** @return the search direction, 0 or 1 (default 1). */
RVX406A_API uint16_t RVX406A_GetHomeDir(uint16_t board, uint16_t axis);
/**
 * Home mode 0..9 (else ERR_INVALID_PARAMETER; default 2): 0 home input;
 * 1 home input, then Z-phase back; 2 near-home, then home input; 3 as 2, then
 * Z-phase back; 4..7 as 0..3 with a limit input as the home input (its logic
 * follows the limit logic); 8 Z-phase only; 9 offset drive only. Every mode
 * ends with the offset drive when an offset is set. Written at once.
 */
RVX406A_API void RVX406A_SetHomeMode(uint16_t board, uint16_t axis, uint16_t mode);
/** @return the home mode 0..9. */
RVX406A_API uint16_t RVX406A_GetHomeMode(uint16_t board, uint16_t axis);
/**
 * Search speeds (PPS, up to 4,000,000: ERR_MAX_STARTV for the low,
 * ERR_MAX_WORKV for the high speed) and one ramp time (ms, up to 64,000:
 * ERR_MAX_ACC). A low speed not below the high one runs at the high one.
 * Always trapezoid. Stored only.
 */
RVX406A_API void RVX406A_SetHomeSpeed(uint16_t board, uint16_t axis, uint32_t low_pps,
                                      uint32_t high_pps, uint32_t acc_ms);
/** The search speeds and time as given. */
RVX406A_API void RVX406A_GetHomeSpeed(uint16_t board, uint16_t axis, uint32_t* low_pps,
                                      uint32_t* high_pps, uint32_t* acc_ms);
/**
 * Offset drive after the search, pulses, -268435455..268435455 (else
 * ERR_INVALID_PARAMETER); 0 means none. Stored only.
 */
RVX406A_API void RVX406A_SetHomeOffset(uint16_t board, uint16_t axis, int32_t offset);
/** @return the home offset, pulses. */
RVX406A_API int32_t RVX406A_GetHomeOffset(uint16_t board, uint16_t axis);
/**
 * Starts the home search and returns; poll RVX406A_HomeIsBusy(). Clears the
 * home success flag first, also when refused (ERR_AXIS_DRV_BUSY,
 * ERR_MPG_MODE). Software limits are off in the chip during the search and
 * stay off until a later call writes WR2 again. In mode 8, when the Z-phase is
 * already active, it first drives 1000 pulses in + and waits for them holding
 * the library mutex. A search that ends (after its offset drive, if any)
 * sets the origin: both position counters then read 0 where the axis stands,
 * which is the offset away from the sensor's edge, not the edge itself.
 */
RVX406A_API void RVX406A_Home_Move(uint16_t board, uint16_t axis);
/**
 * Starts the home searches of @p count (2..4, else ERR_INVALID_PARAMETER)
 * listed axes together, as RVX406A_Home_Move(). All axes are checked first
 * (ERR_AXIS_NUM, ERR_AXIS_DRV_BUSY, ERR_MPG_MODE); a failure starts none.
 * One log line per listed axis.
 */
RVX406A_API void RVX406A_Multi_Home_Move(uint16_t board, uint16_t count, const uint16_t* axes);
/**
 * Completion test of a home search; does not block.
 * @return 1 while the axis drives, 0 when idle. When idle it judges a search
 * this process started: success (home success flag 1) unless the chip reports
 * alarm, emergency or a Z-phase error (then 0); a stop at a limit still counts
 * as success, a stop call never does. Level-3 rule.
 */
RVX406A_API uint16_t RVX406A_HomeIsBusy(uint16_t board, uint16_t axis);
/** Sets the home success flag, 0 or 1 (else ERR_INVALID_PARAMETER). */
RVX406A_API void RVX406A_SetHomeSuccess(uint16_t board, uint16_t axis, uint16_t value);
/**
 * @return the home success flag: 1 after a search judged successful, 0 from
 * the start of a search (and after RVX406A_LoadDevice() in the first process).
 * A search that a limit ended is judged successful too: to know the axis is
 * homed, also check that RVX406A_GetMotionErrCod() gives no stop cause.
 */
RVX406A_API uint16_t RVX406A_GetHomeSuccess(uint16_t board, uint16_t axis);

/** @} */

/**
 * @defgroup override Speed and position override
 * Change a running drive; never start one. Full frame with axis, setter
 * rule, checks in the order given; a refused call writes nothing.
 * @{
 */

/**
 * New drive speed of any running drive of the axis, PPS (0 taken as 1; above
 * 4,000,000 ERR_MAX_WORKV, checked first). ERR_AXIS_STEADY when the axis is
 * idle. The speed is converted with the axis's range setting as multiplier,
 * so it is exact when the move was started with that multiplier (always with
 * RVX406A_SetFixedRange() 1).
 */
RVX406A_API void RVX406A_OverrideSpeed(uint16_t board, uint16_t axis, uint32_t drive_pps);
/**
 * New total length, pulses from the move's start (-268435455..268435455,
 * else ERR_INVALID_PARAMETER), of a relative move this process started and
 * has not yet seen finish (else ERR_OVERRIDE_TYPE); ERR_AXIS_STEADY when the
 * axis is idle. Only the magnitude is loaded: the direction does not change.
 */
RVX406A_API void RVX406A_Inc_OverrideMove(uint16_t board, uint16_t axis, int32_t distance);
/**
 * New target of an absolute move this process started and has not yet seen
 * finish (else ERR_OVERRIDE_TYPE); -2147483648 gives ERR_INVALID_PARAMETER,
 * ERR_AXIS_STEADY when idle, ERR_MAX_DISTANCE when the target lies more than
 * 268435455 pulses from the move's start. The direction does not change.
 */
RVX406A_API void RVX406A_Abs_OverrideMove(uint16_t board, uint16_t axis, int32_t position);

/** @} */

/**
 * @defgroup interp Interpolation
 * Two- or three-axis linear and two-axis circular interpolation run by the
 * chip. The second argument is a map number 0..3 (ERR_IP_MAP_NUMBER above
 * 3), naming a group of axes shared by all processes; a group of the wrong
 * size gives ERR_IP_MAP_AXES. The path speed comes from the group's
 * interpolation profile and is programmed on the group's first axis. Moves
 * check each group axis in turn (argument, ERR_AXIS_DRV_BUSY when it or any
 * interpolation drives, ERR_MAX_DISTANCE) and stop at the first failure with
 * the axes before it loaded but nothing started; they return at once. Poll
 * RVX406A_IPDone() for the end. Board frame; setter rule, except
 * RVX406A_GetIPPosSpeed() (getter rule) and RVX406A_IPDone() (narrow setter
 * rule).
 * @{
 */

/**
 * Defines the group of map @p map: bit n of @p axis_mask is axis n (mask up
 * to 15). Axes are ordered by number: mask 0x0A gives first axis 1, second 3.
 * Two or three axes, else ERR_IP_MAP_AXES and the map stays unusable until a
 * valid mask is set. Written to the chip at once.
 */
RVX406A_API void RVX406A_SetIPMapAxes(uint16_t board, uint16_t map, uint16_t axis_mask);
/**
 * Interpolation profile of the group (given to every group axis): start and
 * drive speed (PPS, up to 4,000,000: ERR_MAX_STARTV, ERR_MAX_WORKV),
 * acceleration and deceleration time (ms, up to 64,000: ERR_MAX_ACC,
 * ERR_MAX_DEC); the group must be defined first (ERR_IP_MAP_AXES). Stored only.
 */
RVX406A_API void RVX406A_SetIPPosSpeed(uint16_t board, uint16_t map, uint32_t start_pps,
                                       uint32_t drive_pps, uint32_t acc_ms, uint32_t dec_ms);
/** The group's interpolation profile as given (from its first axis). */
RVX406A_API void RVX406A_GetIPPosSpeed(uint16_t board, uint16_t map, uint32_t* start_pps,
                                       uint32_t* drive_pps, uint32_t* acc_ms, uint32_t* dec_ms);
/**
 * Relative linear interpolation: one distance per group axis in group order,
 * each -268435455..268435455 (else ERR_INVALID_PARAMETER). S-curve when the
 * group's last axis is set to S-curve. One log line per group axis. The axis
 * with the longest distance runs the profile and the others follow in
 * proportion, so the speed along the path is the drive speed times path
 * length / longest distance: a 45-degree diagonal of two axes runs about 1.41
 * times as fast. Set the drive speed lower by that factor to hold a path speed.
 */
RVX406A_API void RVX406A_Inc_Line(uint16_t board, uint16_t map, const int32_t* distances);
/**
 * Absolute linear interpolation: one target per group axis (any value but
 * -2147483648), each at most 268435455 pulses from its logical position
 * (ERR_MAX_DISTANCE); path speed as RVX406A_Inc_Line().
 */
RVX406A_API void RVX406A_Abs_Line(uint16_t board, uint16_t map, const int32_t* positions);
/**
 * Completion test of the group's interpolation; does not block.
 * @return 1 while the group's first axis drives, 0 once it is idle, with the
 * last result the stop cause of the first axis (as RVX406A_Done()). Clears
 * no move record: RVX406A_Done() on the axes still reports them.
 */
RVX406A_API int16_t RVX406A_IPDone(uint16_t board, uint16_t map);
/**
 * Decelerating stop of the group's interpolation; blocks until it has stopped,
 * holding the library mutex, while dispatching the calling thread's window
 * messages (a quit message ends the wait early and is posted again): every
 * other call of every thread and process waits for the length of the
 * deceleration. ERR_AXIS_NUM when the map names no valid first axis.
 */
RVX406A_API void RVX406A_IPDecel_Stop(uint16_t board, uint16_t map);
/**
 * Immediate stop of the group's interpolation; blocks as RVX406A_IPDecel_Stop(),
 * holding the library mutex until the group stands.
 */
RVX406A_API void RVX406A_IPSudden_Stop(uint16_t board, uint16_t map);
/**
 * Relative circular interpolation on a two-axis group (ERR_IP_MAP_AXES
 * otherwise): centre and end point relative to the current logical position,
 * each -268435455..268435455; @p direction 0 or 1 selects the chip's arc
 * direction (start command 0x32 or 0x33); else ERR_INVALID_PARAMETER. With the
 * group's first axis as x and its second as y, direction 1 runs
 * counter-clockwise and 0 clockwise. Always trapezoid, at constant path speed.
 */
RVX406A_API void RVX406A_Inc_Arc(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                 int32_t end1, int32_t end2, uint16_t direction);
/**
 * Absolute circular interpolation: centre and end as absolute positions (any
 * value but -2147483648), each at most 268435455 pulses from the logical
 * position (ERR_MAX_DISTANCE); otherwise as RVX406A_Inc_Arc().
 */
RVX406A_API void RVX406A_Abs_Arc(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                 int32_t end1, int32_t end2, uint16_t direction);
/**
 * Arc by angle on a two-axis group: centre relative to the current logical
 * position (-268435455..268435455), @p angle in whole degrees -360..360
 * (else ERR_INVALID_PARAMETER), positive for direction 1 (counter-clockwise),
 * negative for 0; 0 and 360 run a full circle. The end point is computed on
 * the circle and rounded to whole pulses; then as RVX406A_Inc_Arc(). The
 * start angle (where the axes stand, seen from the centre) is truncated to
 * whole degrees before @p angle is added, so for other angles the end point
 * lies up to one degree of arc (radius x 0.0175 pulses) short of the exact
 * one when the start angle is not whole: centre (-1000, -1000) and 45 start at
 * 44.99998 degrees and end at (-975, 414), not (-1000, 414).
 */
RVX406A_API void RVX406A_Inc_Theta(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                   int32_t angle);
/**
 * Arc by angle with an absolute centre (any value but -2147483648);
 * ERR_MAX_DISTANCE when the centre or end lies more than 268435455 pulses
 * away. Otherwise as RVX406A_Inc_Theta().
 */
RVX406A_API void RVX406A_Abs_Theta(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                   int32_t angle);

/** @} */

/**
 * @defgroup conti Continuous interpolation tables
 * One table per process of up to 255 two-axis segments with absolute end
 * points, kept relative to the previous end point. Only the first segment is
 * ever handed to the chip, by RVX406A_Conti_Move(), to follow a running
 * interpolation. Setter rule where a function logs.
 * @{
 */

/**
 * Creates this process's table, empty, replacing any table.
 * @return always 1; the last result is 0 or ERR_ALLOCATE_BUF (no table),
 * ERR_DEVICE_LOAD when no board is loaded.
 */
RVX406A_API int32_t RVX406A_SetInitContiTable(void);
/** Frees the table. @return always 1; the last result is 0 or ERR_DEVICE_LOAD. */
RVX406A_API int32_t RVX406A_SetFreeContiTable(void);
/**
 * Fills the table from @p count segments (0..255, else ERR_BUF_DATA_OVERFLOW);
 * segment 0 starts from axis 0's logical position, for both coordinates. A
 * segment type above 2 is stored as 2 and written back into the caller's
 * array. ERR_ALLOCATE_BUF when no table exists.
 * @return always 1; the outcome is the last result.
 */
RVX406A_API int32_t RVX406A_SetContiDataTable(uint16_t board, uint32_t count,
                                              RVX406A_CONTI_SEGMENT* segments);
/**
 * @return the table's segment count once RVX406A_Conti_Move() has handed its
 * first segment to the chip; 0 before, or without a table. No lock, no log,
 * last result unchanged.
 */
RVX406A_API uint16_t RVX406A_GetCurContiNum(void);
/**
 * Hands the table's first segment to the chip on the group of map @p map, to
 * run when the running interpolation ends; does nothing more when no
 * interpolation runs on the group's first axis. Takes the mutex but writes no
 * log and leaves the last result: a refusal (bad board or map, no table) is
 * silent.
 */
RVX406A_API void RVX406A_Conti_Move(uint16_t board, uint16_t map);
/** Checks the board under the mutex and does nothing else; no log, no last result. */
RVX406A_API void RVX406A_Const_Move(uint16_t board, uint16_t map);

/** @} */

/**
 * @defgroup compare Position compare trigger
 * A trigger output fired when an axis passes given positions: the axis's two
 * compare registers hold a window around the next position, and on each
 * compare event the board's watcher thread loads the next position of this
 * process's table (cycling back to the first after the last). Usual order:
 * width, mode, RVX406A_SetInitCompTrg(), a table, the motion,
 * RVX406A_SetFreeCompTrg(). The compare registers also serve the software
 * limits and ring counter: while those are on, loading positions gives
 * ERR_COUNTER_MODE. Board frame (with axis where one is taken); setter rule,
 * the two getters the getter rule.
 * @{
 */

/**
 * Trigger width, pulses, 1..2147483647 (else ERR_INVALID_PARAMETER): a
 * position p uses the window p - 1 .. p + width + 1. Stored only.
 */
RVX406A_API void RVX406A_SetCompTrgWidth(uint16_t board, uint16_t axis, uint32_t width);
/** @return the trigger width, pulses. */
RVX406A_API uint32_t RVX406A_GetCompTrgWidth(uint16_t board, uint16_t axis);
/**
 * Trigger output @p level 0 or 1 and @p mode 0..5 (0 off), written to the
 * board's emergency/compare register (PLD 5) at once, keeping the emergency
 * setting. Mode 1 takes the compare registers from the software limits and
 * ring counter (their setters then give ERR_COMP_MODE). What the library
 * does is select: mode 0 selects no trigger source, so the output never
 * fires; modes 1..5 each select one of the board's five trigger sources
 * (register bits 2, 4, 5, 6, 7) and level goes to bit 1. How a source shapes
 * the output pin (pulse or level, its polarity) is the board's circuit, given
 * in its hardware manual, not the library's.
 */
RVX406A_API void RVX406A_SetCompTrgMode(uint16_t board, uint16_t level, uint16_t mode);
/** Trigger level and mode, read from the board. */
RVX406A_API void RVX406A_GetCompTrgMode(uint16_t board, uint16_t* level, uint16_t* mode);
/**
 * Loads one trigger position, -1073741824..1073741823 (else
 * ERR_INVALID_PARAMETER), freeing any table; ERR_MAX_DISTANCE when position +
 * width exceeds 1073741823; ERR_COUNTER_MODE while both software limits or
 * the ring counter are on.
 */
RVX406A_API void RVX406A_SetCompTrgOneData(uint16_t board, uint16_t axis, int32_t position);
/**
 * Arms the trigger: frees any table, enables the compare interrupts and raises
 * the board's watcher thread to above-normal priority; ERR_THREAD_CREATE when
 * the board has no watcher thread (more than 8 boards loaded), the interrupts
 * stay enabled.
 */
RVX406A_API void RVX406A_SetInitCompTrg(uint16_t board);
/** Disarms the trigger: compare interrupts off, table freed, thread priority normal. */
RVX406A_API void RVX406A_SetFreeCompTrg(uint16_t board);
/**
 * Replaces the board's table with @p count positions (1..255, else
 * ERR_INVALID_PARAMETER) for @p axis, which becomes the compare axis, and
 * loads the first. ERR_COUNTER_MODE while either software limit or the ring
 * counter is on. A position of -2147483648 ends the call with
 * ERR_INVALID_PARAMETER, keeping the positions before it but loading none.
 */
RVX406A_API void RVX406A_SetCompTrgTable(uint16_t board, uint16_t axis, uint16_t count,
                                         const int32_t* positions);
/**
 * As RVX406A_SetCompTrgTable() with the positions start + k * interval,
 * k = 0..count - 1: start -1073741824..1073741823, interval 1..1073741824
 * (else ERR_INVALID_PARAMETER); positions beyond the 32-bit range wrap.
 */
RVX406A_API void RVX406A_SetCompTrgContTable(uint16_t board, uint16_t axis, uint16_t count,
                                             int32_t start, int32_t interval);

/** @} */

/**
 * @defgroup events Events
 * Board interrupts (motion events of the chip, watched digital inputs) reach
 * the application through the board's watcher thread, which exists only when
 * at most 8 boards are loaded: it posts a window message or calls a callback,
 * once for a motion event and once more for input events, without taking the
 * library mutex. The notification target is one per process for all boards.
 * The status functions read and clear the latched events. Board frame;
 * setter rule, getters the getter rule, RVX406A_SetDiEventMask() the level-3
 * rule.
 * @{
 */

/**
 * Interrupts of the board on (1: the chip and every fitted input module) or
 * off (0), clearing the latched events; else ERR_INVALID_PARAMETER.
 */
RVX406A_API void RVX406A_SetEventEnable(uint16_t board, uint16_t enable);
/**
 * Sets this process's notification target for every board (@p board is only
 * checked). Mode 0: @p target is a window handle, posted @p message with
 * wParam = board, lParam = 0; mode 1: @p target is an RVX406A_EVENT_CALLBACK,
 * called on the watcher thread with kind 0 (motion) or 1 (inputs). Either
 * replaces the other; mode above 1: ERR_INVALID_PARAMETER.
 */
RVX406A_API void RVX406A_SetEventHandler(uint16_t board, uint16_t mode, void* target,
                                         uint32_t message);
/** Motion events that interrupt, a chip mask 0..7 (WR1 bits 13..15), written at once. */
RVX406A_API void RVX406A_SetMotEventMask(uint16_t board, uint16_t axis, uint16_t mask);
/**
 * Reads and clears the board's latched motion event bits; the same for every
 * valid @p axis. A second call reads 0 until a new event. The bits are the
 * board's, not the axis's: they do not say which axis raised the event, and a
 * read by any thread or program clears them for all.
 */
RVX406A_API void RVX406A_GetMotEventStatus(uint16_t board, uint16_t axis, uint16_t* status);
/**
 * Inputs that interrupt, one bit per input: @p mask_low inputs 0..31,
 * @p mask_high 32..63; modules not fitted are skipped.
 */
RVX406A_API void RVX406A_SetDiEventMask(uint16_t board, uint32_t mask_low, uint32_t mask_high);
/** Reads and clears the latched input events, inputs 0..31 and 32..63. */
RVX406A_API void RVX406A_GetDiEventStatus(uint16_t board, uint32_t* status_low,
                                          uint32_t* status_high);
/** Runs no frame. @return always 0. */
RVX406A_API int32_t RVX406A_GetEnableEvent(uint16_t board, uint16_t value);

/** @} */

/**
 * @defgroup sync Synchronous and external-pulse modes
 * Settings that tie an axis to other axes or to external pulses, the fixed
 * multiplier switch, and entry points without behaviour. Full frame with
 * axis; setter rule, getters the getter rule.
 * @{
 */

/**
 * Synchronous action of @p axis: @p sm6 (low 10 bits used) is written to the
 * axis, @p sm7 to the axes of @p axis_mask (0..15, else
 * ERR_INVALID_PARAMETER) in one command. The chip's meaning of the bits
 * applies.
 */
RVX406A_API void RVX406A_SetSyncMode(uint16_t board, uint16_t axis, uint16_t axis_mask,
                                     uint16_t sm6, uint16_t sm7);
/** Takes and releases the mutex, nothing else. @return always 1. */
RVX406A_API int16_t RVX406A_GetSyncMode(uint16_t board, uint16_t axis);
/**
 * Fixed multiplier, 0 or 1: with 1 every speed computation of the axis uses
 * its range setting (RVX406A_SetRangeMode()) as multiplier; with 0 the
 * multiplier follows the drive speed, limited by it. Stored only.
 */
RVX406A_API void RVX406A_SetFixedRange(uint16_t board, uint16_t axis, uint16_t value);
/** @return the fixed multiplier switch, 0 or 1. */
RVX406A_API int16_t RVX406A_GetFixedRange(uint16_t board, uint16_t axis);
/**
 * Manual-pulser (external pulse) mode: @p mode 1 on, 0 off; @p rate
 * 1..10000 pulses, stored in both modes. ERR_INVALID_PARAMETER;
 * ERR_AXIS_DRV_BUSY while the axis drives. While on, every move of the axis
 * gives ERR_MPG_MODE.
 */
RVX406A_API void RVX406A_SetExtMode(uint16_t board, uint16_t axis, uint16_t mode, uint16_t rate);
/** Manual-pulser mode (1 on) and rate. */
RVX406A_API void RVX406A_GetExtMode(uint16_t board, uint16_t axis, uint16_t* mode, uint16_t* rate);
/** @return 0: nothing sets a motion direction. */
RVX406A_API uint32_t RVX406A_GetMotionDir(uint16_t board, uint16_t axis);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_Ext_Abs_Move(uint16_t board, uint16_t axis, int32_t value);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_Ext_Inc_Move(uint16_t board, uint16_t axis, int32_t value);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_Ext_Jog_Move(uint16_t board, uint16_t value);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_Mpg_Abs_Move(uint16_t board, uint16_t axis, int32_t value);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_Mpg_Inc_Move(uint16_t board, uint16_t axis, int32_t value);
/** Does nothing; runs no frame. */
RVX406A_API void RVX406A_Mpg_Jog_Move(uint16_t board, uint16_t value);

/** @} */

#if !defined(_WIN32)
/**
 * @defgroup messages Window messages on POSIX systems
 * Windows applications use their own windows and message loop. Elsewhere a
 * "window" is a message target owned by the thread that created it: messages
 * posted to it (by RVX406A_SetEventHandler() notifications or
 * rvx_post_message()) queue on that thread, and the message-pumping waits
 * (RVX406A_Wait() and RVX406A_Multi_Wait() in mode 1, the interpolation
 * stops, RVX406A_UnloadDevice()) dispatch them to its procedure. A waiting
 * call that takes RVX_WM_QUIT stops waiting and posts the quit message again,
 * so that the caller's own loop sees it too. These functions run no frame.
 *
 * Receiving board events as messages:
 * @code
 *   void* hwnd = rvx_create_window(on_message);   // this thread owns it
 *   RVX406A_SetEventHandler(board, 0, hwnd, 0x8001);
 *   RVX406A_SetEventEnable(board, 1);
 *   RVX_MSG m;
 *   while (running) {
 *     if (!rvx_get_message(&m, 100)) continue;     // none within 100 ms
 *     if (m.message == RVX_WM_QUIT) break;
 *     rvx_dispatch_message(&m);                    // on_message(hwnd, 0x8001, board, 0)
 *   }
 * @endcode
 *
 * Messages still queued for a window that is destroyed are dropped; a window
 * goes with the thread that created it.
 * @{
 */
/** The quit message, posted by rvx_post_quit_message(). */
#define RVX_WM_QUIT 0x0012u
/** One message as taken from the calling thread's queue. */
typedef struct RVX_MSG {
  void* hwnd; /**< NULL for thread messages such as RVX_WM_QUIT */
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
} RVX_MSG;
/** A window procedure, run by rvx_dispatch_message() on the owning thread. */
typedef void (*RVX_WNDPROC)(void* hwnd, uint32_t message, uintptr_t wparam, intptr_t lparam);
/** Creates a window owned by the calling thread. @return its handle, NULL for a NULL @p proc. */
RVX406A_API void* rvx_create_window(RVX_WNDPROC proc);
/** Destroys a window; its queued messages are dropped. */
RVX406A_API void rvx_destroy_window(void* hwnd);
/** Queues a message for @p hwnd's thread. @return 1 when queued, else 0. */
RVX406A_API int rvx_post_message(void* hwnd, uint32_t message, uintptr_t wparam, intptr_t lparam);
/** Queues RVX_WM_QUIT for the calling thread. */
RVX406A_API void rvx_post_quit_message(int exit_code);
/**
 * Takes the calling thread's next message, waiting at most @p timeout_ms.
 * @return 0 when none arrives in time.
 */
RVX406A_API int rvx_get_message(RVX_MSG* msg, uint32_t timeout_ms);
/** Runs the procedure of the message's window on the calling thread. */
RVX406A_API void rvx_dispatch_message(const RVX_MSG* msg);
/** @} */
#endif

#ifdef __cplusplus
}
#endif

#endif /* RVX406A_H_ */

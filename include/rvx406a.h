/*
 * rvx406a.h - programming interface of the RVX406A family of PCI pulse-train
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
 * per second, times milliseconds.
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

/* Result codes. 0 is success, negative values are errors. */
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

/* Event notification callback: board number, kind 0 = motion, 1 = digital input.
 * It runs on the board's watcher thread. */
typedef void (*RVX406A_EVENT_CALLBACK)(uint32_t board, uint32_t kind);

/* One segment of a continuous interpolation table (20 bytes). */
typedef struct RVX406A_CONTI_SEGMENT {
  int32_t end1;    /* end position of the first group axis */
  int32_t end2;    /* end position of the second group axis */
  int32_t center1; /* arc centre, first group axis */
  int32_t center2; /* arc centre, second group axis */
  uint16_t type;   /* 0 line, 1 arc (0x32), 2 arc (0x33); above 2 taken as 2 */
  uint16_t reserved;
} RVX406A_CONTI_SEGMENT;

/* ---- Loading, results and housekeeping ---- */
RVX406A_API int32_t RVX406A_LoadDevice(void);
RVX406A_API void RVX406A_UnloadDevice(void);
RVX406A_API int32_t RVX406A_LoadDeviceEx(uint16_t board);
RVX406A_API void RVX406A_UnloadDeviceEx(uint16_t board);
RVX406A_API void RVX406A_PutINSTB(uint16_t board);
RVX406A_API void RVX406A_PutOTSTB(uint16_t board);
RVX406A_API void RVX406A_SetINSTB(uint16_t board);
RVX406A_API int32_t RVX406A_GetErrorCode(void);
RVX406A_API char* RVX406A_GetErrorString(int32_t code);
RVX406A_API void RVX406A_Reset(uint16_t board);
RVX406A_API void RVX406A_SetSystemDefault(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_BoardInfo(uint16_t board, uint32_t* type, uint32_t* version,
                                   uint32_t* axes, uint32_t* di, uint32_t* do_count);
RVX406A_API uint16_t RVX406A_GetBoardID(uint16_t board);
RVX406A_API uint16_t RVX406A_GetAxisNum(uint16_t board);
RVX406A_API uint16_t RVX406A_GetDiNum(uint16_t board);
RVX406A_API uint16_t RVX406A_GetDoNum(uint16_t board);
RVX406A_API void RVX406A_SetBlockMode(uint16_t mode);
RVX406A_API uint16_t RVX406A_GetBlockMode(void);
RVX406A_API uint32_t RVX406A_GetDllVersion(const char* path);
RVX406A_API void RVX406A_SaveFile(uint16_t board);
RVX406A_API void RVX406A_LogCheck(uint16_t level);

/* ---- Status and positions ---- */
RVX406A_API uint16_t RVX406A_GetCardStatus(uint16_t board, uint16_t axis);
RVX406A_API uint16_t RVX406A_GetMainStatus(uint16_t board, uint16_t axis);
RVX406A_API uint16_t RVX406A_GetDrvStatus(uint16_t board, uint16_t axis);
RVX406A_API uint16_t RVX406A_GetErrStatus(uint16_t board, uint16_t axis);
RVX406A_API uint16_t RVX406A_GetInputStatus(uint16_t board, uint16_t axis);
RVX406A_API uint16_t RVX406A_GetEventStatus(uint16_t board, uint16_t axis);
RVX406A_API int32_t RVX406A_GetCommandPos(uint16_t board, uint16_t axis);
RVX406A_API int32_t RVX406A_GetActualPos(uint16_t board, uint16_t axis);
RVX406A_API int32_t RVX406A_GetCommandSpeed(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetCommandPos(uint16_t board, uint16_t axis, int32_t position);
RVX406A_API void RVX406A_SetActualPos(uint16_t board, uint16_t axis, int32_t position);
RVX406A_API void RVX406A_SetEnableEvent(uint16_t board, uint16_t axis, uint16_t value);
RVX406A_API void RVX406A_SetIpExtPulse(uint16_t board, uint16_t map, uint16_t value);

/* ---- Servo and sensor signals ---- */
RVX406A_API void RVX406A_PutSvOn(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetSvOn(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_PutSvAlmRst(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetSvAlmRst(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetSvAlm(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic);
RVX406A_API void RVX406A_GetSvAlm(uint16_t board, uint16_t axis, uint16_t* enable, uint16_t* logic);
RVX406A_API void RVX406A_SetSvInpos(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic);
RVX406A_API void RVX406A_GetSvInpos(uint16_t board, uint16_t axis, uint16_t* enable,
                                    uint16_t* logic);
RVX406A_API void RVX406A_SetHlmt(uint16_t board, uint16_t axis, uint16_t mode, uint16_t logic);
RVX406A_API void RVX406A_GetHlmt(uint16_t board, uint16_t axis, uint16_t* mode, uint16_t* logic);
RVX406A_API void RVX406A_SetOrg(uint16_t board, uint16_t axis, uint16_t logic);
RVX406A_API uint16_t RVX406A_GetOrg(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetEncoderZ(uint16_t board, uint16_t axis, uint16_t logic);
RVX406A_API uint16_t RVX406A_GetEncoderZ(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetSvCClr(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic);
RVX406A_API void RVX406A_GetSvCClr(uint16_t board, uint16_t axis, uint16_t* enable,
                                   uint16_t* logic);
RVX406A_API void RVX406A_SetSvCClrTime(uint16_t board, uint16_t axis, uint16_t time);
RVX406A_API uint16_t RVX406A_GetSvCClrTime(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_PutSvCClrCmd(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetEmergency(uint16_t board, uint16_t mode);
RVX406A_API uint16_t RVX406A_GetEmergency(uint16_t board);
RVX406A_API void RVX406A_PutSvRun(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetSvRun(uint16_t board, uint16_t axis);
RVX406A_API int32_t RVX406A_GetMotionErrCod(uint16_t board, uint16_t axis);

/* ---- Pulse output, encoder input and limits ---- */
RVX406A_API void RVX406A_SetRangeMode(uint16_t board, uint16_t axis, uint16_t range);
RVX406A_API uint16_t RVX406A_GetRangeMode(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetPulseMode(uint16_t board, uint16_t axis, uint16_t mode);
RVX406A_API uint16_t RVX406A_GetPulseMode(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetPulseDir(uint16_t board, uint16_t axis, uint16_t dir);
RVX406A_API uint16_t RVX406A_GetPulseDir(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetEncoderMode(uint16_t board, uint16_t axis, uint16_t mode);
RVX406A_API uint16_t RVX406A_GetEncoderMode(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetEncoderDir(uint16_t board, uint16_t axis, uint16_t dir);
RVX406A_API uint16_t RVX406A_GetEncoderDir(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetSlmt(uint16_t board, uint16_t axis, int32_t plus, int32_t minus,
                                 uint16_t enable);
RVX406A_API void RVX406A_GetSlmt(uint16_t board, uint16_t axis, int32_t* plus, int32_t* minus,
                                 uint16_t* enable);
RVX406A_API void RVX406A_SetCounterRing(uint16_t board, uint16_t axis, uint32_t command,
                                        uint32_t actual, uint16_t enable);
RVX406A_API void RVX406A_GetCounterRing(uint16_t board, uint16_t axis, uint32_t* command,
                                        uint32_t* actual, uint16_t* enable);

/* ---- Input filters and counter modes ---- */
RVX406A_API void RVX406A_SetFilterTime(uint16_t board, uint16_t axis, uint16_t time);
RVX406A_API uint16_t RVX406A_GetFilterTime(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetFilterSensor(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetFilterSensor(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetFilterEncoderZ(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetFilterEncoderZ(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetFilterSvIF(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetFilterSvIF(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetFilterStop(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetFilterStop(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetFilterExt(uint16_t board, uint16_t axis, uint16_t on);
RVX406A_API uint16_t RVX406A_GetFilterExt(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetCompCountMode(uint16_t board, uint16_t axis, uint16_t mode);
RVX406A_API uint16_t RVX406A_GetCompCountMode(uint16_t board, uint16_t axis);

/* ---- Digital I/O ---- */
RVX406A_API void RVX406A_PutDOBit(uint16_t board, uint16_t channel, uint16_t value);
RVX406A_API uint16_t RVX406A_GetDOBit(uint16_t board, uint16_t channel);
RVX406A_API void RVX406A_PutDOByte(uint16_t board, uint16_t index, uint8_t value);
RVX406A_API void RVX406A_GetDOByte(uint16_t board, uint16_t index, uint8_t* value);
RVX406A_API void RVX406A_PutDOWord(uint16_t board, uint16_t index, uint16_t value);
RVX406A_API void RVX406A_GetDOWord(uint16_t board, uint16_t index, uint16_t* value);
RVX406A_API void RVX406A_PutDODWord(uint16_t board, uint16_t index, uint32_t value);
RVX406A_API void RVX406A_GetDODWord(uint16_t board, uint16_t index, uint32_t* value);
RVX406A_API uint16_t RVX406A_GetDIBit(uint16_t board, uint16_t channel);
RVX406A_API void RVX406A_GetDIByte(uint16_t board, uint16_t index, uint8_t* value);
RVX406A_API void RVX406A_GetDIWord(uint16_t board, uint16_t index, uint16_t* value);
RVX406A_API void RVX406A_GetDIDWord(uint16_t board, uint16_t index, uint32_t* value);
RVX406A_API void RVX406A_SetDiFilter(uint16_t board, uint16_t on);
RVX406A_API uint16_t RVX406A_GetDiFilter(uint16_t board);
RVX406A_API void RVX406A_SetDiFilterTime(uint16_t board, uint16_t time);
RVX406A_API uint16_t RVX406A_GetDiFilterTime(uint16_t board);
RVX406A_API void RVX406A_PutDO(uint16_t board, uint32_t value);
RVX406A_API uint32_t RVX406A_GetDI(uint16_t board);
RVX406A_API uint32_t RVX406A_GetDO(uint16_t board);
RVX406A_API uint16_t RVX406A_GetFilterDI(uint16_t board);
RVX406A_API void RVX406A_SetFilterDI(uint16_t board, uint16_t value);

/* ---- Speed settings ---- */
RVX406A_API void RVX406A_SetSpeedMode(uint16_t board, uint16_t axis, uint16_t mode);
RVX406A_API uint16_t RVX406A_GetSpeedMode(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetPosSpeed(uint16_t board, uint16_t axis, uint32_t start_pps,
                                     uint32_t drive_pps, uint32_t acc_ms, uint32_t dec_ms);
RVX406A_API void RVX406A_GetPosSpeed(uint16_t board, uint16_t axis, uint32_t* start_pps,
                                     uint32_t* drive_pps, uint32_t* acc_ms, uint32_t* dec_ms);
RVX406A_API void RVX406A_SetJogSpeed(uint16_t board, uint16_t axis, uint32_t start_pps,
                                     uint32_t drive_pps, uint32_t acc_ms);
RVX406A_API void RVX406A_GetJogSpeed(uint16_t board, uint16_t axis, uint32_t* start_pps,
                                     uint32_t* drive_pps, uint32_t* acc_ms);
RVX406A_API void RVX406A_SetAccOffset(uint16_t board, uint16_t axis, int32_t offset);
RVX406A_API int32_t RVX406A_GetAccOffset(uint16_t board, uint16_t axis);

/* ---- Single-axis motion ---- */
RVX406A_API void RVX406A_Inc_Move(uint16_t board, uint16_t axis, int32_t distance);
RVX406A_API void RVX406A_Abs_Move(uint16_t board, uint16_t axis, int32_t position);
RVX406A_API void RVX406A_Jog_Move(uint16_t board, uint16_t axis, uint16_t direction);
RVX406A_API uint16_t RVX406A_Done(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_Wait(uint16_t board, uint16_t axis, uint16_t mode);
RVX406A_API void RVX406A_Decel_Stop(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_Sudden_Stop(uint16_t board, uint16_t axis);

/* ---- Multi-axis motion ---- */
RVX406A_API void RVX406A_Multi_Inc_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const int32_t* distances);
RVX406A_API void RVX406A_Multi_Abs_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const int32_t* positions);
RVX406A_API void RVX406A_Multi_Jog_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const uint16_t* directions);
RVX406A_API uint16_t RVX406A_Multi_Done(uint16_t board, uint16_t count, const uint16_t* axes);
RVX406A_API void RVX406A_Multi_Wait(uint16_t board, uint16_t count, const uint16_t* axes,
                                    uint16_t mode);
RVX406A_API void RVX406A_Multi_Decel_Stop(uint16_t board, uint16_t count, const uint16_t* axes);
RVX406A_API void RVX406A_Multi_Sudden_Stop(uint16_t board, uint16_t count, const uint16_t* axes);

/* ---- Homing ---- */
RVX406A_API void RVX406A_SetHomeDir(uint16_t board, uint16_t axis, uint16_t direction);
RVX406A_API uint16_t RVX406A_GetHomeDir(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetHomeMode(uint16_t board, uint16_t axis, uint16_t mode);
RVX406A_API uint16_t RVX406A_GetHomeMode(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetHomeSpeed(uint16_t board, uint16_t axis, uint32_t low_pps,
                                      uint32_t high_pps, uint32_t acc_ms);
RVX406A_API void RVX406A_GetHomeSpeed(uint16_t board, uint16_t axis, uint32_t* low_pps,
                                      uint32_t* high_pps, uint32_t* acc_ms);
RVX406A_API void RVX406A_SetHomeOffset(uint16_t board, uint16_t axis, int32_t offset);
RVX406A_API int32_t RVX406A_GetHomeOffset(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_Home_Move(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_Multi_Home_Move(uint16_t board, uint16_t count, const uint16_t* axes);
RVX406A_API uint16_t RVX406A_HomeIsBusy(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetHomeSuccess(uint16_t board, uint16_t axis, uint16_t value);
RVX406A_API uint16_t RVX406A_GetHomeSuccess(uint16_t board, uint16_t axis);

/* ---- Speed and position override ---- */
RVX406A_API void RVX406A_OverrideSpeed(uint16_t board, uint16_t axis, uint32_t drive_pps);
RVX406A_API void RVX406A_Inc_OverrideMove(uint16_t board, uint16_t axis, int32_t distance);
RVX406A_API void RVX406A_Abs_OverrideMove(uint16_t board, uint16_t axis, int32_t position);

/* ---- Interpolation ---- */
RVX406A_API void RVX406A_SetIPMapAxes(uint16_t board, uint16_t map, uint16_t axis_mask);
RVX406A_API void RVX406A_SetIPPosSpeed(uint16_t board, uint16_t map, uint32_t start_pps,
                                       uint32_t drive_pps, uint32_t acc_ms, uint32_t dec_ms);
RVX406A_API void RVX406A_GetIPPosSpeed(uint16_t board, uint16_t map, uint32_t* start_pps,
                                       uint32_t* drive_pps, uint32_t* acc_ms, uint32_t* dec_ms);
RVX406A_API void RVX406A_Inc_Line(uint16_t board, uint16_t map, const int32_t* distances);
RVX406A_API void RVX406A_Abs_Line(uint16_t board, uint16_t map, const int32_t* positions);
RVX406A_API int16_t RVX406A_IPDone(uint16_t board, uint16_t map);
RVX406A_API void RVX406A_IPDecel_Stop(uint16_t board, uint16_t map);
RVX406A_API void RVX406A_IPSudden_Stop(uint16_t board, uint16_t map);
RVX406A_API void RVX406A_Inc_Arc(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                 int32_t end1, int32_t end2, uint16_t direction);
RVX406A_API void RVX406A_Abs_Arc(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                 int32_t end1, int32_t end2, uint16_t direction);
RVX406A_API void RVX406A_Inc_Theta(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                   int32_t angle);
RVX406A_API void RVX406A_Abs_Theta(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                   int32_t angle);

/* ---- Continuous interpolation tables ---- */
RVX406A_API int32_t RVX406A_SetInitContiTable(void);
RVX406A_API int32_t RVX406A_SetFreeContiTable(void);
RVX406A_API int32_t RVX406A_SetContiDataTable(uint16_t board, uint32_t count,
                                              RVX406A_CONTI_SEGMENT* segments);
RVX406A_API uint16_t RVX406A_GetCurContiNum(void);
RVX406A_API void RVX406A_Conti_Move(uint16_t board, uint16_t map);
RVX406A_API void RVX406A_Const_Move(uint16_t board, uint16_t map);

/* ---- Position compare trigger ---- */
RVX406A_API void RVX406A_SetCompTrgWidth(uint16_t board, uint16_t axis, uint32_t width);
RVX406A_API uint32_t RVX406A_GetCompTrgWidth(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetCompTrgMode(uint16_t board, uint16_t level, uint16_t mode);
RVX406A_API void RVX406A_GetCompTrgMode(uint16_t board, uint16_t* level, uint16_t* mode);
RVX406A_API void RVX406A_SetCompTrgOneData(uint16_t board, uint16_t axis, int32_t position);
RVX406A_API void RVX406A_SetInitCompTrg(uint16_t board);
RVX406A_API void RVX406A_SetFreeCompTrg(uint16_t board);
RVX406A_API void RVX406A_SetCompTrgTable(uint16_t board, uint16_t axis, uint16_t count,
                                         const int32_t* positions);
RVX406A_API void RVX406A_SetCompTrgContTable(uint16_t board, uint16_t axis, uint16_t count,
                                             int32_t start, int32_t interval);

/* ---- Events ---- */
RVX406A_API void RVX406A_SetEventEnable(uint16_t board, uint16_t enable);
/* mode 0: target is a window handle and message the message number posted
 * (wParam = board, lParam = 0); mode 1: target is an RVX406A_EVENT_CALLBACK. */
RVX406A_API void RVX406A_SetEventHandler(uint16_t board, uint16_t mode, void* target,
                                         uint32_t message);
RVX406A_API void RVX406A_SetMotEventMask(uint16_t board, uint16_t axis, uint16_t mask);
RVX406A_API void RVX406A_GetMotEventStatus(uint16_t board, uint16_t axis, uint16_t* status);
RVX406A_API void RVX406A_SetDiEventMask(uint16_t board, uint32_t mask_low, uint32_t mask_high);
RVX406A_API void RVX406A_GetDiEventStatus(uint16_t board, uint32_t* status_low,
                                          uint32_t* status_high);
RVX406A_API int32_t RVX406A_GetEnableEvent(uint16_t board, uint16_t value);

/* ---- Synchronous and external-pulse modes ---- */
RVX406A_API void RVX406A_SetSyncMode(uint16_t board, uint16_t axis, uint16_t axis_mask,
                                     uint16_t sm6, uint16_t sm7);
RVX406A_API int16_t RVX406A_GetSyncMode(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetFixedRange(uint16_t board, uint16_t axis, uint16_t value);
RVX406A_API int16_t RVX406A_GetFixedRange(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_SetExtMode(uint16_t board, uint16_t axis, uint16_t mode, uint16_t rate);
RVX406A_API void RVX406A_GetExtMode(uint16_t board, uint16_t axis, uint16_t* mode, uint16_t* rate);
RVX406A_API uint32_t RVX406A_GetMotionDir(uint16_t board, uint16_t axis);
RVX406A_API void RVX406A_Ext_Abs_Move(uint16_t board, uint16_t axis, int32_t value);
RVX406A_API void RVX406A_Ext_Inc_Move(uint16_t board, uint16_t axis, int32_t value);
RVX406A_API void RVX406A_Ext_Jog_Move(uint16_t board, uint16_t value);
RVX406A_API void RVX406A_Mpg_Abs_Move(uint16_t board, uint16_t axis, int32_t value);
RVX406A_API void RVX406A_Mpg_Inc_Move(uint16_t board, uint16_t axis, int32_t value);
RVX406A_API void RVX406A_Mpg_Jog_Move(uint16_t board, uint16_t value);

#if !defined(_WIN32)
/*
 * Window messages on POSIX systems. Windows applications use their own windows
 * and message loop. Elsewhere a "window" is a message target owned by the
 * thread that created it: messages posted to it (by RVX406A_SetEventHandler
 * notifications or rvx_post_message) queue on that thread, and the
 * message-pumping waits (RVX406A_Wait and RVX406A_Multi_Wait in mode 1, the
 * interpolation stops, RVX406A_UnloadDevice) dispatch them to its procedure.
 * A waiting call that takes RVX_WM_QUIT stops waiting and posts the quit
 * message again, so that the caller's own loop sees it too.
 *
 * Receiving board events as messages:
 *
 *   void* hwnd = rvx_create_window(on_message);   // this thread owns it
 *   RVX406A_SetEventHandler(board, 0, hwnd, 0x8001);
 *   RVX406A_SetEventEnable(board, 1);
 *   RVX_MSG m;
 *   while (running) {
 *     if (!rvx_get_message(&m, 100)) continue;     // none within 100 ms
 *     if (m.message == RVX_WM_QUIT) break;
 *     rvx_dispatch_message(&m);                    // on_message(hwnd, 0x8001, board, 0)
 *   }
 *
 * Messages still queued for a window that is destroyed are dropped; a window
 * goes with the thread that created it.
 */
#define RVX_WM_QUIT 0x0012u
typedef struct RVX_MSG {
  void* hwnd; /* NULL for thread messages such as RVX_WM_QUIT */
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
} RVX_MSG;
typedef void (*RVX_WNDPROC)(void* hwnd, uint32_t message, uintptr_t wparam, intptr_t lparam);
RVX406A_API void* rvx_create_window(RVX_WNDPROC proc);
RVX406A_API void rvx_destroy_window(void* hwnd);
RVX406A_API int rvx_post_message(void* hwnd, uint32_t message, uintptr_t wparam, intptr_t lparam);
RVX406A_API void rvx_post_quit_message(int exit_code);
/* Takes the calling thread's next message; 0 when none arrives within timeout_ms. */
RVX406A_API int rvx_get_message(RVX_MSG* msg, uint32_t timeout_ms);
RVX406A_API void rvx_dispatch_message(const RVX_MSG* msg);
#endif

#ifdef __cplusplus
}
#endif

#endif /* RVX406A_H_ */

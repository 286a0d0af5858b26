#include "tools/result_texts.h"

#include "include/rvx406a.h"

namespace rvxctl {
namespace {

struct Text {
  int32_t code;
  const char* text;
};

// Kept in step with python/rvx406a/errors.py, which has the same table.
constexpr Text kTexts[] = {
    {ERR_DEVICE_LOAD, "no board is loaded: the driver offered no board"},
    {ERR_PRM_LOAD, "a board's parameter file could not be loaded"},
    {ERR_DEVICE_EXIST, "the board is already in use"},
    {ERR_DEVICE_PCI_BUS, "the board failed its bus test: check that it is seated in its slot"},
    {ERR_UPBOARD_LOAD, "the expansion modules are not stacked from module 2 upward without a gap"},
    {ERR_CPLD_VER, "the board's logic version is not supported"},
    {ERR_HW_TYPE, "the board reports a type this library does not support"},
    {ERR_SUPPORT_PROCESS, "this library does not run on a 32-bit x86 system"},
    {ERR_INVALID_HANDLE, "the board is not open in this program (it was unloaded)"},
    {ERR_CREATE_KERNEL_DRIVER_FAIL, "the library's lock between programs could not be made"},
    {ERR_CREATE_MEM_FAIL, "the memory the programs share could not be made"},
    {ERR_INVALID_CHANNEL, "no such input or output channel on this board"},
    {-201, "no such output word or byte on this board"},
    {ERR_INVALID_PARAMETER, "a value is out of the range the function takes"},
    {ERR_INVALID_BOARD_ID, "the board ID is not valid"},
    {ERR_BOARD_NUMBER, "no board with that number was found"},
    {ERR_FILE_CREATE, "a file could not be created"},
    {ERR_EVENT_CREATE, "an event could not be created"},
    {ERR_MIN_STARTV, "the start speed is too low"},
    {ERR_THREAD_CREATE, "a thread could not be started"},
    {ERR_MAX_STARTV, "the start (or low) speed is above 4,000,000 PPS"},
    {ERR_MIN_WORKV, "the drive speed is too low"},
    {ERR_MAX_WORKV, "the drive (or high) speed is above 4,000,000 PPS"},
    {ERR_MIN_ACC, "the acceleration time is too short"},
    {ERR_MAX_ACC, "the acceleration time is above 64,000 ms"},
    {ERR_MIN_DEC, "the deceleration time is too short"},
    {ERR_MAX_DEC, "the deceleration time is above 64,000 ms"},
    {ERR_AXIS_NUM, "no such axis on this board (axes are 0 to 3)"},
    {ERR_MAX_DISTANCE, "the target lies more than 268,435,455 pulses away"},
    {ERR_ALLOCATE_BUF, "memory for a table could not be had"},
    {ERR_FREE_BUF, "a table could not be freed"},
    {ERR_BUF_DATA_NOT_ENOUGH, "the table holds too few entries"},
    {ERR_BUF_DATA_OVERFLOW, "the table holds too many entries"},
    {ERR_AXIS_DRV_BUSY, "the axis is still moving: stop it or wait for it first"},
    {ERR_AXIS_HOME_BUSY, "the axis is still searching for home"},
    {ERR_AXIS_STEADY, "the axis is not moving, so there is nothing to change"},
    {ERR_OVERRIDE_TYPE, "the running move is not of a kind that this change applies to"},
    {ERR_MPG_MODE, "the axis is in manual-pulser mode"},
    {ERR_COUNTER_MODE, "the counter mode does not allow this"},
    {ERR_COMP_MODE, "the position compare trigger owns the compare registers"},
    {ERR_STOP_BY_SLPT, "the axis was stopped by its + software limit"},
    {ERR_STOP_BY_SLMT, "the axis was stopped by its - software limit"},
    {ERR_STOP_BY_HLPT, "the axis was stopped by its + hardware limit"},
    {ERR_STOP_BY_HLMT, "the axis was stopped by its - hardware limit"},
    {ERR_STOP_BY_ALM, "the axis was stopped by its servo drive's alarm"},
    {ERR_STOP_BY_EMG, "the axis was stopped by the emergency input"},
    {ERR_STOP_BY_EZ, "the home search stopped on an encoder Z-phase error"},
    {ERR_STOP_BY_ERR_LIMIT, "the axis was stopped: position error beyond its limit"},
    {ERR_STOP_BY_COMPARE_NO, "the axis was stopped: no compare match"},
    {ERR_STOP_BY_HUNTING_NO, "the axis was stopped: the search found nothing"},
    {ERR_IP_MAP_NUMBER, "no such interpolation map (maps are 0 to 3)"},
    {ERR_IP_MAP_AXES, "the interpolation group does not have the axes this needs"},
    {ERR_UNKNOWN, "the axis was stopped by several causes at once"},
};

}  // namespace

const char* PlainText(int32_t code) {
  for (const Text& t : kTexts) {
    if (t.code == code) return t.text;
  }
  return nullptr;
}

// Codes without a text leave the library's text buffer as it was, which is
// how they are told apart.
std::string ResultName(int32_t code) {
  const std::string success = RVX406A_GetErrorString(ERR_SUCCESS);
  const std::string text = RVX406A_GetErrorString(code);
  if (code != ERR_SUCCESS && text == success) return std::to_string(code) + " (no name)";
  return text + " (" + std::to_string(code) + ")";
}

}  // namespace rvxctl

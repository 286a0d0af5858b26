// Result reporting: the last result and the texts of the named result codes.
#include <cstdio>

#include "core/process.h"
#include "include/rvx406a.h"

namespace rvx {
namespace {

struct ResultName {
  i32 code;
  const char* name;
};

#define RVX_NAME(code) \
  { code, #code }
constexpr ResultName kResultNames[] = {
    RVX_NAME(ERR_SUCCESS),
    RVX_NAME(ERR_DEVICE_LOAD),
    RVX_NAME(ERR_PRM_LOAD),
    RVX_NAME(ERR_DEVICE_EXIST),
    RVX_NAME(ERR_DEVICE_PCI_BUS),
    RVX_NAME(ERR_UPBOARD_LOAD),
    RVX_NAME(ERR_CPLD_VER),
    RVX_NAME(ERR_HW_TYPE),
    RVX_NAME(ERR_SUPPORT_PROCESS),
    RVX_NAME(ERR_INVALID_HANDLE),
    RVX_NAME(ERR_CREATE_KERNEL_DRIVER_FAIL),
    RVX_NAME(ERR_CREATE_MEM_FAIL),
    RVX_NAME(ERR_INVALID_CHANNEL),
    RVX_NAME(ERR_INVALID_PARAMETER),
    RVX_NAME(ERR_INVALID_BOARD_ID),
    RVX_NAME(ERR_FILE_CREATE),
    RVX_NAME(ERR_EVENT_CREATE),
    RVX_NAME(ERR_MIN_STARTV),
    RVX_NAME(ERR_THREAD_CREATE),
    RVX_NAME(ERR_MAX_STARTV),
    RVX_NAME(ERR_MIN_WORKV),
    RVX_NAME(ERR_MAX_WORKV),
    RVX_NAME(ERR_MIN_ACC),
    RVX_NAME(ERR_MAX_ACC),
    RVX_NAME(ERR_MIN_DEC),
    RVX_NAME(ERR_MAX_DEC),
    RVX_NAME(ERR_AXIS_NUM),
    RVX_NAME(ERR_MAX_DISTANCE),
    RVX_NAME(ERR_ALLOCATE_BUF),
    RVX_NAME(ERR_FREE_BUF),
    RVX_NAME(ERR_BUF_DATA_NOT_ENOUGH),
    RVX_NAME(ERR_BUF_DATA_OVERFLOW),
    RVX_NAME(ERR_AXIS_DRV_BUSY),
    RVX_NAME(ERR_AXIS_HOME_BUSY),
    RVX_NAME(ERR_AXIS_STEADY),
    RVX_NAME(ERR_OVERRIDE_TYPE),
    RVX_NAME(ERR_MPG_MODE),
    RVX_NAME(ERR_COUNTER_MODE),
    RVX_NAME(ERR_COMP_MODE),
    RVX_NAME(ERR_STOP_BY_SLPT),
    RVX_NAME(ERR_STOP_BY_SLMT),
    RVX_NAME(ERR_STOP_BY_HLPT),
    RVX_NAME(ERR_STOP_BY_HLMT),
    RVX_NAME(ERR_STOP_BY_ALM),
    RVX_NAME(ERR_STOP_BY_EMG),
    RVX_NAME(ERR_STOP_BY_EZ),
    RVX_NAME(ERR_STOP_BY_ERR_LIMIT),
    RVX_NAME(ERR_STOP_BY_COMPARE_NO),
    RVX_NAME(ERR_STOP_BY_HUNTING_NO),
    RVX_NAME(ERR_UNKNOWN),
};
#undef RVX_NAME

}  // namespace

}  // namespace rvx

using rvx::process;

extern "C" {

RVX406A_API int32_t RVX406A_GetErrorCode(void) { return process().last_result; }

RVX406A_API char* RVX406A_GetErrorString(int32_t code) {
  char* text = process().error_text;
  for (const rvx::ResultName& entry : rvx::kResultNames) {
    if (entry.code == code) snprintf(text, sizeof process().error_text, "%s", entry.name);
  }
  return text;
}

}  // extern "C"

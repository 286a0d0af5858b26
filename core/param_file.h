// Loading and saving a board's parameter file and the log level file.
#ifndef RVX_CORE_PARAM_FILE_H_
#define RVX_CORE_PARAM_FILE_H_

#include "core/types.h"

namespace rvx {

// Programs the chip and the board's shared block from RVXPRM<board>.DAT, or
// from the factory defaults when the file cannot be opened; then the log
// level from DbgLevel.ini. False when the board is not open or not four-axis.
bool LoadParameterFile(u32 board);
// Writes the board's shared settings and the log level back.
bool SaveParameterFile(u32 board);

}  // namespace rvx

#endif  // RVX_CORE_PARAM_FILE_H_

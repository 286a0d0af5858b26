// What each result code means to the person at the machine, in plain words.
// The library's own texts (RVX406A_GetErrorString) are the code names; these
// say what happened and, where it helps, what to do.
#ifndef RVX_TOOLS_RESULT_TEXTS_H_
#define RVX_TOOLS_RESULT_TEXTS_H_

#include <cstdint>
#include <string>

namespace rvxctl {

// The plain text of a result code; nullptr for success and unknown codes.
const char* PlainText(int32_t code);

// "ERR_HW_TYPE (-7)": the name of a result code, with its value.
std::string ResultName(int32_t code);

}  // namespace rvxctl

#endif  // RVX_TOOLS_RESULT_TEXTS_H_

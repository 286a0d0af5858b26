// The C example in C++: the boards stay loaded for the life of a Boards
// object, and a failed call throws with the library's name for its result.
// Against the simulated board: RVX_DRIVER=sim ./move_cpp
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "rvx406a.h"

namespace {

struct Error : std::runtime_error {
  Error(const std::string& what, int32_t code)
      : std::runtime_error(what + ": " + RVX406A_GetErrorString(code) + " (" +
                           std::to_string(code) + ")") {}
};

// Setters and moves return nothing: their outcome is the last result, which
// the next call replaces, so each call is checked on its own.
void Check(const char* what) {
  if (const int32_t code = RVX406A_GetErrorCode(); code != ERR_SUCCESS) throw Error(what, code);
}

class Boards {
 public:
  Boards() : highest_(RVX406A_LoadDevice()) {
    if (highest_ < 0) throw Error("LoadDevice", highest_);
  }
  ~Boards() { RVX406A_UnloadDevice(); }
  Boards(const Boards&) = delete;
  Boards& operator=(const Boards&) = delete;
  int count() const { return highest_ + 1; }

 private:
  int32_t highest_;
};

}  // namespace

int main() try {
  const uint16_t board = 0, axis = 0;
  const Boards boards;
  std::printf("boards: %d; board 0: %u axes\n", boards.count(), RVX406A_GetAxisNum(board));

  RVX406A_SetPulseMode(board, axis, 0);
  Check("SetPulseMode");
  RVX406A_PutSvOn(board, axis, 1);
  Check("PutSvOn");
  RVX406A_SetPosSpeed(board, axis, 1000, 20000, 20, 20);
  Check("SetPosSpeed");

  RVX406A_Inc_Move(board, axis, -3000);
  Check("Inc_Move");
  while (RVX406A_Done(board, axis)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Check("move");  // the stop cause, e.g. a limit
  std::printf("moved: command %d, actual %d\n", RVX406A_GetCommandPos(board, axis),
              RVX406A_GetActualPos(board, axis));

  RVX406A_PutDOBit(board, 1, 1);
  Check("PutDOBit");
  const uint16_t input = RVX406A_GetDIBit(board, 1);
  Check("GetDIBit");
  std::printf("DO 1 = %u, DI 1 = %u\n", RVX406A_GetDOBit(board, 1), input);
  RVX406A_PutSvOn(board, axis, 0);
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "%s\n", e.what());
  return 1;
}

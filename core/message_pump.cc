#include "core/message_pump.h"

#include "platform/platform.h"

namespace rvx {

bool PumpOneMessage() {
  os::Message msg;
  if (!os::PeekMessage(&msg)) return true;
  if (msg.message == os::kWmQuit) {
    os::PostQuitMessage(0);
    return false;
  }
  os::DispatchMessage(msg);
  return true;
}

}  // namespace rvx

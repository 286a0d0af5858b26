// The message pump of calls that wait while holding the library: waits and
// unloading keep the calling thread's window messages flowing.
#ifndef RVX_CORE_MESSAGE_PUMP_H_
#define RVX_CORE_MESSAGE_PUMP_H_

namespace rvx {

// Dispatches the next message waiting for this thread, if there is one. A
// quit message is posted again, so that the application's own loop sees it,
// and ends the pumping: false.
bool PumpOneMessage();

}  // namespace rvx

#endif  // RVX_CORE_MESSAGE_PUMP_H_

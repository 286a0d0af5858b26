// Motion of single axes: moves, jog, stop and the home search.
#include <string>
#include <vector>

#include "include/rvx406a.h"
#include "platform/platform.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {
namespace {

// Waits for the axes by polling their status, not in Wait: Wait holds the
// library for its whole length, so nothing else (a scope sampling beside the
// command, say) could look at the board meanwhile. Moves that take a while
// show how far the first axis has come when stderr is a terminal.
void AwaitAxes(uint16_t board, const std::vector<uint16_t> &axes, const std::vector<int32_t> &from,
               const std::vector<int32_t> &distances, bool absolute) {
  constexpr uint32_t kProgressAfterMs = 500;
  const bool terminal = rvx::os::StderrIsTerminal();
  const uint32_t start = rvx::os::TickCount();
  const int32_t target = absolute ? distances[0] : from[0] + distances[0];
  bool shown = false;
  for (size_t i = 0; i < axes.size() && !interrupted; ++i) {
    while (!interrupted && AxisBusy(board, axes[i])) {
      rvx::os::Sleep(1);
      if (!terminal || rvx::os::TickCount() - start < kProgressAfterMs) continue;
      const int32_t at = RVX406A_GetCommandPos(board, axes[0]);
      const double span = static_cast<double>(target) - from[0];
      const double done = span == 0 ? 100 : 100 * (static_cast<double>(at) - from[0]) / span;
      fprintf(stderr, "\rboard %u axis %u: %d of %d (%3.0f%%)   ", board, axes[0], at, target,
              done);
      shown = true;
    }
  }
  if (shown) fprintf(stderr, "\r%60s\r", "");
}

}  // namespace

int Move(const Args &args) {
  uint16_t board = 0;
  std::vector<uint16_t> axes;
  std::vector<int32_t> distances;
  if (!BoardArg(args, 0, &board) || !AxesArg(board, args[1], "AXES", 1, 4, &axes) ||
      !ValuesArg(args[2], "DISTANCES", axes.size(), &distances)) {
    return 2;
  }
  const bool absolute = args.Has("--abs");
  const uint16_t count = static_cast<uint16_t>(axes.size());
  const char *started = absolute ? "Abs_Move" : "Inc_Move";
  CatchInterrupt ctrl_c;
  std::vector<int32_t> from;
  for (uint16_t axis : axes) from.push_back(RVX406A_GetCommandPos(board, axis));
  const std::vector<int32_t> targets = Targets(board, axes, distances, absolute);
  if (count == 1) {
    (absolute ? RVX406A_Abs_Move : RVX406A_Inc_Move)(board, axes[0], distances[0]);
  } else {
    started = absolute ? "Multi_Abs_Move" : "Multi_Inc_Move";
    (absolute ? RVX406A_Multi_Abs_Move : RVX406A_Multi_Inc_Move)(board, count, axes.data(),
                                                                 distances.data());
  }
  if (!Succeeded(started)) return 1;
  AwaitAxes(board, axes, from, distances, absolute);
  if (interrupted) return StopInterrupted(board, axes);
  if (count == 1) {
    RVX406A_Wait(board, axes[0], 0);
  } else {
    RVX406A_Multi_Wait(board, count, axes.data(), 0);
  }
  int status = ReportStop(started);
  if (status == 0) status = ShortOfTarget(board, axes, targets);
  for (uint16_t axis : axes) PrintPositions(board, axis);
  return status;
}

int Jog(const Args &args) {
  uint16_t board = 0, axis = 0, direction = 0;
  if (!BoardAndAxis(args, &board, &axis) ||
      !Word(args[2], "DIRECTION", {{"+", 1}, {"-", 0}}, &direction)) {
    return 2;
  }
  RVX406A_Jog_Move(board, axis, direction);
  if (!Succeeded("Jog_Move")) return 1;
  if (RVX406A_Done(board, axis) == 1 && board_kind == BoardKind::kOwnSimulation) {
    printf(
        "board %u axis %u: jogging %s until this run ends, and its simulated board with it; "
        "rvxctl sim start keeps a board that jogs on\n",
        board, axis, args[2].c_str());
    return 0;
  }
  if (RVX406A_Done(board, axis) == 1) {
    printf("board %u axis %u: jogging %s; end it with: rvxctl%s stop %u %u\n", board, axis,
           args[2].c_str(), board_kind == BoardKind::kDriver ? "" : " --sim", board, axis);
    return 0;
  }
  return ReportStop("Jog_Move");
}

int Stop(const Args &args) {
  uint16_t board = 0, axis = 0;
  if (!BoardAndAxis(args, &board, &axis)) return 2;
  const bool sudden = args.Has("--sudden");
  (sudden ? RVX406A_Sudden_Stop : RVX406A_Decel_Stop)(board, axis);
  if (!Succeeded(sudden ? "Sudden_Stop" : "Decel_Stop")) return 1;
  while (AxisBusy(board, axis)) rvx::os::Sleep(1);
  RVX406A_Wait(board, axis, 0);
  const int status = ReportStop(sudden ? "Sudden_Stop" : "Decel_Stop");
  PrintPositions(board, axis);
  return status;
}

// HOME_OK counts a search that a limit ended as finished, so the tool asks
// for more before it calls the axis homed: no stop cause either.
int Home(const Args &args) {
  uint16_t board = 0, axis = 0;
  uint32_t timeout_s = 60;
  if (!BoardAndAxis(args, &board, &axis) ||
      (args.Has("--timeout") &&
       !Number(args.flags.at("--timeout"), "--timeout", 1, 86400, &timeout_s))) {
    return 2;
  }
  CatchInterrupt ctrl_c;
  RVX406A_Home_Move(board, axis);
  if (!Succeeded("Home_Move")) return 1;
  unsigned polls = 0;
  const uint32_t start = rvx::os::TickCount();
  bool timed_out = false;
  while (++polls, !interrupted && RVX406A_HomeIsBusy(board, axis) == 1) {
    timed_out = rvx::os::TickCount() - start >= timeout_s * 1000u;
    if (timed_out) break;
    rvx::os::Sleep(1);
  }
  if (interrupted) return StopInterrupted(board, {axis});
  if (timed_out) {
    RVX406A_Decel_Stop(board, axis);
    Succeeded("Decel_Stop");
    while (AxisBusy(board, axis)) rvx::os::Sleep(1);
    printf(
        "Home_Move gave up after %u s: no home sensor was found; the axis got a decelerating "
        "stop\n",
        timeout_s);
    PrintPositions(board, axis);
    printf(
        "check the home mode and direction (rvxctl speed shows the search speeds) and the "
        "sensors' wiring; on the simulated board, where the machine's sensors are (rvxctl "
        "--help); --timeout SECONDS waits longer\n");
    return 1;
  }
  if (!Succeeded("HomeIsBusy")) return 1;
  const uint16_t home_ok = RVX406A_GetHomeSuccess(board, axis);
  const int32_t cause = RVX406A_GetMotionErrCod(board, axis);
  printf("Home_Move ended: HOME_OK %u, %s; HomeIsBusy polls: %u\n", home_ok,
         Explained(cause).c_str(), polls);
  PrintPositions(board, axis);
  if (home_ok == 1 && cause == ERR_SUCCESS) return 0;
  printf("board %u axis %u is not homed: %s\n", board, axis,
         home_ok == 1 ? "the search ended on a stop cause before it found home"
                      : "the search was not judged successful");
  return 1;
}

std::vector<Command> MotionCommands() {
  return {
      {"move",
       "move BOARD AXIS[,AXIS...] DIST[,DIST...] [--abs]",
       "relative (or absolute) move of one or several axes, waits for the end",
       {kBoardWord, kAxesWord, {"DISTANCES", 1, 1, "pulses, one for each axis, comma-separated"}},
       {{"--abs", nullptr, "the distances are target positions"}},
       Move},
      {"jog",
       "jog BOARD AXIS +|-",
       "continuous move until stop",
       {kBoardWord, kAxisWord, {"DIRECTION", 1, 1, "+ or -"}},
       {},
       Jog},
      {"stop",
       "stop BOARD AXIS [--sudden]",
       "decelerating (or sudden) stop, waits for the end",
       {kBoardWord, kAxisWord},
       {{"--sudden", nullptr, "stop at once, without deceleration"}},
       Stop},
      {"home",
       "home BOARD AXIS [--timeout SECONDS]",
       "home search, waits for the end (at most 60 s), reports HOME_OK; homed only without "
       "a stop cause",
       {kBoardWord, kAxisWord},
       {{"--timeout", "SECONDS", "give up after this long, 1..86400 (default 60)"}},
       Home},
  };
}

}  // namespace rvxctl

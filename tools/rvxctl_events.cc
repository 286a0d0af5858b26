// Events and the scope: motion, input and compare events as they arrive,
// and a command run while positions and speeds are sampled.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "include/rvx406a.h"
#include "interp/events.h"
#include "platform/platform.h"
#include "tools/rvxctl_cli.h"
#include "tools/rvxctl_common.h"
#include "tools/scope_plot.h"

namespace rvxctl {
namespace {

// Notifications of the watcher thread, taken by the main thread.
std::atomic<unsigned> motion_wakes{0}, input_wakes{0};
void OnBoardEvent(uint32_t, uint32_t kind) { (kind == 0 ? motion_wakes : input_wakes)++; }

void Stamp() {
  const rvx::os::LocalTime t = rvx::os::GetLocalTime();
  printf("%02u:%02u:%02u.%03u ", t.hour, t.minute, t.second, t.millisecond);
}

// The motion event bits by the mask bits that enable them (bit 0: a drive
// ended); the chip's other two events have no names of their own.
std::string MotionEvents(uint16_t status) {
  std::string names;
  for (int bit = 0; bit < 16; ++bit) {
    if (!(status >> bit & 1)) continue;
    names += names.empty() ? "" : ", ";
    names += bit == 0 ? "a drive ended" : "event bit " + std::to_string(bit);
  }
  return names.empty() ? "none latched: another program read it first" : names;
}

}  // namespace

// Watches every motion event of every axis and every input of the board
// until interrupted; each event is printed when it arrives.
int Watch(const Args &args) {
  uint16_t board = 0;
  std::vector<int32_t> c;  // AXIS,START,INTERVAL,COUNT
  if (!BoardArg(args, 0, &board)) return 2;
  if (args.Has("--compare")) {
    uint16_t axis = 0, count = 0;
    const std::string &text = args.flags.at("--compare");
    if (!ValuesArg(text, "--compare AXIS,START,INTERVAL,COUNT", 4, &c) ||
        !AxisArg(board, std::to_string(c[0]), &axis) ||
        !Number(std::to_string(c[3]), "--compare COUNT", 0, 0xFFFF, &count)) {
      return 2;
    }
  }
  const uint16_t axes = RVX406A_GetAxisNum(board);
  if (!Succeeded("GetAxisNum")) return 1;
  for (uint16_t a = 0; a < axes; ++a) RVX406A_SetMotEventMask(board, a, 7);
  RVX406A_SetDiEventMask(board, 0xFFFFFFFF, 0xFFFFFFFF);
  RVX406A_SetEventHandler(board, 1, reinterpret_cast<void *>(&OnBoardEvent), 0);
  if (!Succeeded("SetEventHandler")) return 1;
  RVX406A_SetEventEnable(board, 1);
  if (!Succeeded("SetEventEnable")) return 1;
  if (args.Has("--compare")) {
    // The table lives in this process, so its compare events are served here.
    RVX406A_SetInitCompTrg(board);
    if (!Succeeded("SetInitCompTrg")) return 1;
    RVX406A_SetCompTrgContTable(board, static_cast<uint16_t>(c[0]), static_cast<uint16_t>(c[3]),
                                c[1], c[2]);
    if (!Succeeded("SetCompTrgContTable")) return 1;
  }
  CatchInterrupt ctrl_c;
  printf(
      "watching board %u (motion events of %u axes, all inputs, compare); "
      "Ctrl-C ends\n",
      board, axes);
  fflush(stdout);
  unsigned motion_seen = 0, inputs_seen = 0;
  uint32_t compares_seen = rvx::event_tables().compare_events[board].load();
  while (!interrupted) {
    rvx::os::Sleep(5);
    if (motion_wakes != motion_seen) {
      motion_seen = motion_wakes;
      uint16_t status = 0;
      RVX406A_GetMotEventStatus(board, 0, &status);
      Stamp();
      printf("motion  status 0x%04X (%s)\n", status, MotionEvents(status).c_str());
    }
    if (input_wakes != inputs_seen) {
      inputs_seen = input_wakes;
      uint32_t low = 0, high = 0;
      RVX406A_GetDiEventStatus(board, &low, &high);
      Stamp();
      printf("inputs  0-31 0x%08X  32-63 0x%08X\n", low, high);
    }
    const uint32_t compares = rvx::event_tables().compare_events[board].load();
    if (compares != compares_seen) {
      Stamp();
      printf("compare %u event(s), next window loaded\n", compares - compares_seen);
      compares_seen = compares;
    }
    fflush(stdout);
  }
  if (args.Has("--compare")) RVX406A_SetFreeCompTrg(board);
  RVX406A_SetEventEnable(board, 0);
  printf("stopped\n");
  return 0;
}

namespace {

// A command run beside the scope, on its own thread of this process.
struct ScopedRun {
  const Command *command;
  Args args;
  int status = 1;
  std::atomic<bool> done{false};
};
uint32_t RunScoped(void *p) {
  auto *run = static_cast<ScopedRun *>(p);
  run->status = run->command->run(run->args);
  fflush(stdout);
  run->done.store(true);
  return 0;
}

// Writes `text` to `path` (nothing, to see that it can be written); says
// why not with the system's reason.
bool WriteText(const std::string &path, const std::string &text) {
  errno = 0;
  FILE *file = fopen(path.c_str(), "wb");
  bool ok = file != nullptr && fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = (file == nullptr || fclose(file) == 0) && ok;
  if (!ok) {
    fflush(stdout);
    fprintf(stderr, "rvxctl: cannot write %s: %s\n", path.c_str(),
            errno != 0 ? strerror(errno) : "write failed");
  }
  return ok;
}

}  // namespace

// scope BOARD AXES [--for S] [--every MS] [--csv FILE] [--svg FILE] COMMAND...:
// the scope's own flags stand before the command, whose words are its own.
int Scope(const Args &raw) {
  const std::vector<std::string> &words = raw.positional;
  rvxctl::ScopeRecord record;
  if (words.size() < 2) {
    fprintf(stderr,
            "usage: rvxctl scope BOARD AXES [--for S] [--every MS] [--csv FILE] "
            "[--svg FILE] COMMAND...\n");
    return 2;
  }
  if (!BoardArg(raw, 0, &record.board) ||
      !AxesArg(record.board, words[1], "AXES", 1, 4, &record.axes)) {
    return 2;
  }
  double seconds = 60;
  long every = 10;
  const std::string csv = raw.Has("--csv") ? raw.flags.at("--csv") : "";
  const std::string svg = raw.Has("--svg") ? raw.flags.at("--svg") : "";
  if (raw.Has("--for")) {
    const std::string &value = raw.flags.at("--for");
    char *end = nullptr;
    seconds = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400) {
      return Refuse("--for", value, "' is not a number of seconds above 0, at most 86400"), 2;
    }
  }
  if (raw.Has("--every") && !Number(raw.flags.at("--every"), "--every", 1, 60000, &every,
                                    "milliseconds between samples")) {
    return 2;
  }
  if ((raw.Has("--csv") && csv.empty()) || (raw.Has("--svg") && svg.empty()) ||
      (words.size() > 2 && words[2].rfind("--", 0) == 0)) {
    fprintf(stderr, "rvxctl: scope takes --for, --every, --csv and --svg before the command\n");
    return 2;
  }
  const std::vector<std::string> inner(words.begin() + 2, words.end());
  const Command *command = nullptr;
  ScopedRun run;
  if (inner.empty()) {
    fprintf(stderr, "rvxctl: scope needs a command to run, e.g. move 0 0 10000\n");
    return 2;
  }
  const int refused = ParseCommandWords(inner, &command, &run.args);
  if (refused >= 0) return refused;
  if (command->runs_a_command || command->run == nullptr) {
    fprintf(stderr, "rvxctl: scope needs a command to run, e.g. move 0 0 10000\n");
    return 2;
  }
  run.command = command;
  // A file that cannot be written is found before the command moves anything.
  if ((!csv.empty() && !WriteText(csv, "")) || (!svg.empty() && !WriteText(svg, ""))) return 2;
  for (const std::string &w : inner) record.title += (record.title.empty() ? "" : " ") + w;
  for (uint16_t axis : record.axes) {
    RVX406A_GetCommandPos(record.board, axis);
    if (!Succeeded("GetCommandPos")) return 1;
  }
  rvx::os::Handle thread = rvx::os::CreateThread(RunScoped, &run);
  if (thread == nullptr) {
    fprintf(stderr, "rvxctl: cannot start the command's thread\n");
    return 1;
  }
  const uint64_t start = rvx::os::MonotonicMicros();
  const uint64_t limit = static_cast<uint64_t>(seconds * 1e6);
  for (uint64_t next = 0;; next += static_cast<uint64_t>(every) * 1000) {
    const uint64_t now = rvx::os::MonotonicMicros() - start;
    if (now < next) rvx::os::Sleep(static_cast<uint32_t>((next - now + 999) / 1000));
    // Taken before the sample, so the last sample shows where the command
    // ended.
    const bool ended = run.done.load();
    record.seconds.push_back(static_cast<double>(rvx::os::MonotonicMicros() - start) * 1e-6);
    std::vector<rvxctl::ScopeRecord::Point> row;
    for (uint16_t axis : record.axes) {
      row.push_back({RVX406A_GetCommandPos(record.board, axis),
                     RVX406A_GetActualPos(record.board, axis),
                     RVX406A_GetCommandSpeed(record.board, axis)});
    }
    record.points.push_back(row);
    if (ended) break;
    if (rvx::os::MonotonicMicros() - start >= limit) {
      fflush(stdout);
      fprintf(stderr, "rvxctl: scope: %g s passed, waiting for the command to end\n", seconds);
      break;
    }
  }
  while (!rvx::os::WaitThread(thread, 1000)) {
  }
  rvx::os::CloseThread(thread);
  printf("scope: %zu samples over %.3f s\n", record.seconds.size(), record.seconds.back());
  bool written = true;
  if (!csv.empty()) written &= WriteText(csv, rvxctl::ScopeCsv(record));
  if (!svg.empty()) written &= WriteText(svg, rvxctl::ScopeSvg(record));
  return written ? run.status : 1;
}

std::vector<Command> EventCommands() {
  return {
      {"watch",
       "watch BOARD [--compare AXIS,START,INTERVAL,COUNT]",
       "print motion, input and compare events as they arrive, until Ctrl-C; "
       "--compare arms a compare table",
       {kBoardWord},
       {{"--compare", "AXIS,START,INTERVAL,COUNT", "arm a compare table"}},
       Watch},
      {"scope",
       "scope BOARD AXES [--for SECONDS] [--every MS] [--csv FILE] [--svg FILE] COMMAND...",
       "run a command while sampling command and actual position and speed of the axes "
       "(default every 10 ms, at most 60 s); write them as CSV and as an SVG plot",
       {kBoardWord, kAxesWord},
       {{"--for", "SECONDS", "sample at most this long (default 60)"},
        {"--every", "MS", "sample every MS milliseconds, 1..60000 (default 10)"},
        {"--csv", "FILE", "write the samples as CSV"},
        {"--svg", "FILE", "write the samples as an SVG plot"}},
       Scope,
       true},
  };
}

}  // namespace rvxctl

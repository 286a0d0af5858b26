// Paths: linear and circular interpolation of a group, and segment tables.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "include/rvx406a.h"
#include "interp/interp.h"
#include "platform/platform.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {

// ---- Interpolation ----

// The group of an interpolation command: its map number (--map, default 0)
// and axes, defined with SetIPMapAxes; --speed START,DRIVE,ACC,DEC sets the
// IP speed first.
struct GroupArgs {
  uint16_t board = 0, map = 0;
  std::vector<uint16_t> axes;
  std::vector<uint32_t> speed;  // empty: the group's stored speed
};

bool DefineGroup(const Args &args, size_t min_axes, size_t max_axes, GroupArgs *g) {
  if (!BoardArg(args, 0, &g->board) ||
      !AxesArg(g->board, args[1], "AXES", min_axes, max_axes, &g->axes) ||
      (args.Has("--map") && !Number(args.flags.at("--map"), "--map", 0, 3, &g->map))) {
    return false;
  }
  return !args.Has("--speed") ||
         SpeedsArg(args.flags.at("--speed"), "--speed", "START,DRIVE,ACC,DEC", &g->speed);
}

// Defines the group, and its speed when given; only after every argument
// of the command was found good.
bool ApplyGroup(const GroupArgs &g) {
  uint16_t mask = 0;
  for (uint16_t axis : g.axes) mask = static_cast<uint16_t>(mask | 1u << axis);
  RVX406A_SetIPMapAxes(g.board, g.map, mask);
  if (!Succeeded("SetIPMapAxes")) return false;
  if (g.speed.empty()) return true;
  RVX406A_SetIPPosSpeed(g.board, g.map, g.speed[0], g.speed[1], g.speed[2], g.speed[3]);
  return Succeeded("SetIPPosSpeed");
}

// Two numbers "X,Y".
bool PairArg(const std::string &text, const char *name, int32_t *x, int32_t *y) {
  std::vector<int32_t> v;
  if (!ValuesArg(text, name, 2, &v)) return false;
  *x = v[0], *y = v[1];
  return true;
}

// Polls IPDone until the group's first axis stops; reports the cause and
// where the group axes ended.
int WaitGroup(const GroupArgs &g, const char *started, const std::vector<int32_t> &targets = {}) {
  CatchInterrupt ctrl_c;
  if (!Succeeded(started)) return 1;
  while (!interrupted && RVX406A_IPDone(g.board, g.map) == 1) rvx::os::Sleep(1);
  if (interrupted) {
    RVX406A_IPDecel_Stop(g.board, g.map);  // returns once the group stands
    Succeeded("IPDecel_Stop");
    return StopInterrupted(g.board, g.axes);
  }
  int status = ReportStop(started);
  if (status == 0) status = ShortOfTarget(g.board, g.axes, targets);
  for (uint16_t axis : g.axes) PrintPositions(g.board, axis);
  return status;
}

int Line(const Args &args) {
  GroupArgs g;
  std::vector<int32_t> values;
  if (!DefineGroup(args, 2, 3, &g) || !ValuesArg(args[2], "DISTANCES", g.axes.size(), &values)) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
  const bool absolute = args.Has("--abs");
  const std::vector<int32_t> targets = Targets(g.board, g.axes, values, absolute);
  (absolute ? RVX406A_Abs_Line : RVX406A_Inc_Line)(g.board, g.map, values.data());
  return WaitGroup(g, absolute ? "Abs_Line" : "Inc_Line", targets);
}

int Arc(const Args &args) {
  GroupArgs g;
  int32_t cx = 0, cy = 0, ex = 0, ey = 0;
  uint16_t direction = 0;
  if (!DefineGroup(args, 2, 2, &g) || !PairArg(args[2], "CX,CY", &cx, &cy) ||
      !PairArg(args[3], "EX,EY", &ex, &ey) || !Number(args[4], "DIRECTION", 0, 1, &direction)) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
  const bool absolute = args.Has("--abs");
  (absolute ? RVX406A_Abs_Arc : RVX406A_Inc_Arc)(g.board, g.map, cx, cy, ex, ey, direction);
  return WaitGroup(g, absolute ? "Abs_Arc" : "Inc_Arc");
}

int Theta(const Args &args) {
  GroupArgs g;
  int32_t cx = 0, cy = 0, angle = 0;
  if (!DefineGroup(args, 2, 2, &g) || !PairArg(args[2], "CX,CY", &cx, &cy) ||
      !Number(args[3], "ANGLE", INT32_MIN, INT32_MAX, &angle)) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
  const bool absolute = args.Has("--abs");
  (absolute ? RVX406A_Abs_Theta : RVX406A_Inc_Theta)(g.board, g.map, cx, cy, angle);
  return WaitGroup(g, absolute ? "Abs_Theta" : "Inc_Theta");
}

// A segment file: one segment a line, "line X Y" or "arc X Y CX CY 0|1"
// (absolute end and centre; the arc's direction as Inc_Arc takes it), its
// numbers as the command line takes them. '#' starts a comment; blank lines
// are skipped. Only a regular file is read, and no further than a full table
// (a device or a pipe could go on for ever).
bool ReadSegments(const std::string &path, std::vector<RVX406A_CONTI_SEGMENT> *segments) {
  std::error_code error;
  const std::filesystem::file_status kind = std::filesystem::status(path, error);
  if (error) {
    fprintf(stderr, "rvxctl: cannot read %s: %s\n", path.c_str(), error.message().c_str());
    return false;
  }
  if (!std::filesystem::is_regular_file(kind)) {
    fprintf(stderr, "rvxctl: %s is not a segment file: %s\n", path.c_str(),
            std::filesystem::is_directory(kind) ? "it is a folder" : "not a regular file");
    return false;
  }
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    fprintf(stderr, "rvxctl: cannot read %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  auto refuse = [&](int number, const std::string &why) {
    fprintf(stderr, "rvxctl: %s:%d: %s\n", path.c_str(), number, why.c_str());
    fclose(file);
    return false;
  };
  constexpr size_t kLongestLine = 256;
  const char *const form = "expected 'line X Y' or 'arc X Y CX CY 0|1'";
  std::string text;
  for (int number = 1;; ++number) {
    text.clear();
    int c = 0;
    while ((c = fgetc(file)) != EOF && c != '\n' && text.size() <= kLongestLine) {
      text += static_cast<char>(c);
    }
    if (text.size() > kLongestLine) {
      return refuse(number, "longer than " + std::to_string(kLongestLine) + " characters");
    }
    if (c == EOF && text.empty()) break;
    text = text.substr(0, text.find('#'));
    std::vector<std::string> words;
    for (size_t at = text.find_first_not_of(" \t\r"); at != std::string::npos;) {
      const size_t end = text.find_first_of(" \t\r", at);
      words.push_back(text.substr(at, end - at));
      at = end == std::string::npos ? end : text.find_first_not_of(" \t\r", end);
    }
    if (words.empty()) continue;
    RVX406A_CONTI_SEGMENT s{};
    int32_t *const fields[] = {&s.end1, &s.end2, &s.center1, &s.center2};
    const bool line = words[0] == "line" && words.size() == 3;
    const bool arc = words[0] == "arc" && words.size() == 6;
    if (!line && !arc) {
      const bool known = words[0] == "line" || words[0] == "arc";
      return refuse(number, known ? std::string(form) + ": " + std::to_string(words.size() - 1) +
                                        " values after '" + words[0] + "'"
                                  : std::string(form) + ", not '" + words[0] + "'");
    }
    for (size_t i = 1; i < words.size(); ++i) {
      int32_t v = 0;
      const bool direction = i == 5;
      if (!ParseI32(words[i], &v) || (direction && v != 0 && v != 1)) {
        long long any = 0;
        return refuse(number, "'" + words[i] + "' " +
                                  (!ParseInteger(words[i], &any) ? "is not a whole number"
                                   : direction                   ? "is not a direction 0 or 1"
                                                                 : "is out of range: "
                                                                   "-2147483648..2147483647"));
      }
      if (direction) {
        s.type = static_cast<uint16_t>(1 + v);
      } else {
        *fields[i - 1] = v;
      }
    }
    if (segments->size() == rvx::kContiEntries) {
      return refuse(number,
                    "a table holds at most " + std::to_string(rvx::kContiEntries) + " segments");
    }
    segments->push_back(s);
    if (c == EOF) break;
  }
  fclose(file);
  if (segments->empty()) {
    fprintf(stderr, "rvxctl: %s holds no segment (%s)\n", path.c_str(), form);
    return false;
  }
  return true;
}

// Loads the table and prints it as the library keeps it; with --lead it
// starts a linear lead-in of the group and hands segment 0 over while it runs.
int Conti(const Args &args) {
  GroupArgs g;
  std::vector<RVX406A_CONTI_SEGMENT> segments;
  int32_t lead[2] = {0, 0};
  if (!DefineGroup(args, 2, 2, &g) || !ReadSegments(args[2], &segments) ||
      (args.Has("--lead") && !PairArg(args.flags.at("--lead"), "--lead", &lead[0], &lead[1]))) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
  RVX406A_SetInitContiTable();
  if (!Succeeded("SetInitContiTable")) return 1;
  RVX406A_SetContiDataTable(g.board, static_cast<uint32_t>(segments.size()), segments.data());
  int status = Succeeded("SetContiDataTable") ? 0 : 1;
  const rvx::ContiEntry *table = rvx::process().conti_table;
  static const char *const kKinds[] = {"line", "arc 0x32", "arc 0x33"};
  for (size_t i = 0; status == 0 && i < segments.size(); ++i) {
    const rvx::ContiEntry &e = table[i];
    printf("segment %zu: %-8s end %+d,%+d", i, kKinds[e.type], e.end1, e.end2);
    if (e.type != 0) printf("  centre %+d,%+d", e.centre1, e.centre2);
    printf("\n");
  }
  if (status == 0 && !args.Has("--lead")) {
    printf(
        "table of %zu loaded, nothing run: --lead D1,D2 runs a lead-in line and hands "
        "segment 0 over\n",
        segments.size());
  }
  if (status == 0 && args.Has("--lead") && segments.size() > 1) {
    printf("only segment 0 runs: Conti_Move hands the chip the table's first segment alone\n");
  }
  if (status == 0 && args.Has("--lead")) {
    RVX406A_Inc_Line(g.board, g.map, lead);
    if (Succeeded("Inc_Line")) {
      RVX406A_Conti_Move(g.board, g.map);
      const uint16_t handed = RVX406A_GetCurContiNum();
      if (handed == 0) printf("segment 0 not handed over: the lead-in had ended\n");
      if (handed != 0) printf("segment 0 handed over (table of %u)\n", handed);
      status = WaitGroup(g, "Conti_Move");
    } else {
      status = 1;
    }
  }
  RVX406A_SetFreeContiTable();
  return status;
}

std::vector<Command> PathCommands() {
  return {
      {"line",
       "line BOARD A1,A2[,A3] D1,D2[,D3] [--abs] [--map N] [--speed S,V,ACC,DEC]",
       "linear interpolation of a group, waits for the end",
       {kBoardWord,
        {"AXES", 1, 1, "2 or 3 axes, comma-separated"},
        {"DISTANCES", 1, 1, "pulses, one for each axis"}},
       {{"--abs", nullptr, "the distances are target positions"},
        {"--map", "N", "the group's map number, 0..3 (default 0)"},
        {"--speed", "S,V,ACC,DEC", "the group's speed profile first (PPS, ms)"}},
       Line},
      {"arc",
       "arc BOARD A1,A2 CX,CY EX,EY 0|1 [--abs] [--map N] [--speed S,V,ACC,DEC]",
       "circular interpolation to an end point, waits for the end",
       {kBoardWord,
        {"AXES", 1, 1, "2 axes, comma-separated"},
        {"CENTRE", 1, 1, "CX,CY"},
        {"END", 1, 1, "EX,EY"},
        {"DIRECTION", 1, 1, "0 or 1"}},
       {{"--abs", nullptr, "centre and end are positions"},
        {"--map", "N", "the group's map number, 0..3 (default 0)"},
        {"--speed", "S,V,ACC,DEC", "the group's speed profile first (PPS, ms)"}},
       Arc},
      {"theta",
       "theta BOARD A1,A2 CX,CY ANGLE [--abs] [--map N] [--speed S,V,ACC,DEC]",
       "circular interpolation by a swept angle, waits for the end",
       {kBoardWord,
        {"AXES", 1, 1, "2 axes, comma-separated"},
        {"CENTRE", 1, 1, "CX,CY"},
        {"ANGLE", 1, 1, "the swept angle"}},
       {{"--abs", nullptr, "the centre is a position"},
        {"--map", "N", "the group's map number, 0..3 (default 0)"},
        {"--speed", "S,V,ACC,DEC", "the group's speed profile first (PPS, ms)"}},
       Theta},
      {"conti",
       "conti BOARD A1,A2 FILE [--lead D1,D2] [--map N] [--speed S,V,ACC,DEC]",
       "load a segment table; hand segment 0 over during a lead-in line",
       {kBoardWord,
        {"AXES", 1, 1, "2 axes, comma-separated"},
        {"FILE", 1, 1, "segments, one a line: line X Y or arc X Y CX CY 0|1"}},
       {{"--lead", "D1,D2", "run a lead-in line and hand segment 0 over"},
        {"--map", "N", "the group's map number, 0..3 (default 0)"},
        {"--speed", "S,V,ACC,DEC", "the group's speed profile first (PPS, ms)"}},
       Conti},
  };
}

}  // namespace rvxctl

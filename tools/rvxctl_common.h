// What the commands of rvxctl share: their arguments, the checks those pass
// before any call that changes the board, how results are reported, and how
// a drive stopped by a termination signal is ended.
#ifndef RVX_TOOLS_RVXCTL_COMMON_H_
#define RVX_TOOLS_RVXCTL_COMMON_H_

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/process.h"
#include "tools/result_texts.h"  // ResultName

namespace rvxctl {

// The words after the command name: positional arguments and --flags.
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> flags;  // "--abs" -> "", "--dll" -> path

  bool Has(const char *flag) const { return flags.count(flag) != 0; }
  size_t size() const { return positional.size(); }
  const std::string &operator[](size_t i) const { return positional[i]; }
};

// A command as it is declared: its words, its options and its work. The
// command line is parsed, and its help and completion made, from these.
struct Positional {
  const char *name;
  size_t min, max;  // how many words it takes
  const char *help;
};
struct Option {
  const char *name;   // with its dashes
  const char *value;  // the value's name; nullptr for a switch
  const char *help;
};
struct Command {
  const char *name;
  const char *synopsis;
  const char *summary;
  std::vector<Positional> positionals;
  std::vector<Option> options;
  int (*run)(const Args &args);  // nullptr: main runs it (sim, help)
  bool runs_a_command = false;   // the words after its own are another command's
};
// The words most commands start with.
inline constexpr Positional kBoardWord{"BOARD", 1, 1, "board number, 0 for the first"};
inline constexpr Positional kAxisWord{"AXIS", 1, 1, "axis of the board, 0..3"};
inline constexpr Positional kAxesWord{"AXES", 1, 1, "1 to 4 axes, comma-separated"};

// The commands of each family, in the order of the help.
std::vector<Command> BoardCommands();
std::vector<Command> MotionCommands();
std::vector<Command> SetupCommands();
std::vector<Command> PathCommands();
std::vector<Command> EventCommands();
std::vector<Command> SimCommands();
std::vector<Command> BridgeCommands();
std::vector<Command> ServeCommands();

// ---- Numbers and lists as the command line gives them ----

bool ParseInteger(const std::string &text, long long *value);
bool ParseLong(const std::string &text, long *value);
bool ParseI32(const std::string &text, int32_t *value);
bool ParseHex(std::string text, long *value);
std::vector<std::string> Split(const std::string &text, char separator);

// ---- Reporting ----

std::string Explained(int32_t code);
bool Succeeded(const char *call);
void PrintPositions(uint16_t board, uint16_t axis);
int ReportStop(const char *what);
std::string LogPath();
// The log file with a word when its folder is missing: the library then
// writes no log at all.
std::string LogFileNote();

// ---- Argument checks ----

// Arguments are checked in full, against what LoadDevice found, before any
// call that changes the board; a refusal names the argument and what it may
// be, and the command exits with 2.
bool Refuse(const char *name, const std::string &text, const char *why);

template <class T>
bool Number(const std::string &text, const char *name, long long lo, long long hi, T *out,
            const std::string &what = "") {
  long long v = 0;
  if (!ParseInteger(text, &v)) {
    return Refuse(name, text, text.empty() ? "" : "' is not a whole number");
  }
  if (v < lo || v > hi) {
    char why[160];
    snprintf(why, sizeof why, "' is out of range: %lld..%lld%s%s", lo, hi, what.empty() ? "" : ", ",
             what.c_str());
    return Refuse(name, text, why);
  }
  *out = static_cast<T>(v);
  return true;
}

bool Word(const std::string &text, const char *name,
          const std::vector<std::pair<const char *, uint16_t>> &words, uint16_t *out);
const rvx::BoardRecord &Record(uint16_t board);
bool BoardArg(const std::string &text, uint16_t *board);
bool BoardArg(const Args &args, size_t i, uint16_t *board);
bool AxisArg(uint16_t board, const std::string &text, uint16_t *axis);
bool BoardAndAxis(const Args &args, uint16_t *board, uint16_t *axis);
bool AxesArg(uint16_t board, const std::string &text, const char *name, size_t min, size_t max,
             std::vector<uint16_t> *axes);
bool ValuesArg(const std::string &text, const char *name, size_t count,
               std::vector<int32_t> *values);
bool SpeedsArg(const std::string &text, const char *name, const char *form,
               std::vector<uint32_t> *values);

// How this run meets its board: the driver's, a simulated board built for
// this run alone, or a simulated board another program holds (a keeper).
enum class BoardKind { kDriver, kOwnSimulation, kJoinedSimulation };
extern BoardKind board_kind;

// ---- Drives stopped by a termination signal ----

extern volatile std::sig_atomic_t interrupted;
struct CatchInterrupt {
  CatchInterrupt();
};
int InterruptedStatus();
std::string AxisList(const std::vector<uint16_t> &axes);
bool AxisBusy(uint16_t board, uint16_t axis);
int StopInterrupted(uint16_t board, const std::vector<uint16_t> &axes);
int ShortOfTarget(uint16_t board, const std::vector<uint16_t> &axes,
                  const std::vector<int32_t> &targets);
std::vector<int32_t> Targets(uint16_t board, const std::vector<uint16_t> &axes,
                             const std::vector<int32_t> &values, bool absolute);

// ---- The command families ----

int Load(const Args &args);
int Info(const Args &args);
int Status(const Args &args);
int Io(const Args &args);
int Move(const Args &args);
int Jog(const Args &args);
int Stop(const Args &args);
int Home(const Args &args);
int Servo(const Args &args);
int AlarmReset(const Args &args);
int Speed(const Args &args);
int Position(const Args &args);
int Pulse(const Args &args);
int Encoder(const Args &args);
int Param(const Args &args);
std::string InstallPath(const char *folder, const std::string &name);
std::string ParameterFile(uint16_t board);
int Log(const Args &args);
int Line(const Args &args);
int Arc(const Args &args);
int Theta(const Args &args);
int Conti(const Args &args);
int Watch(const Args &args);
int Scope(const Args &args);
int Bridge(const Args &args);

}  // namespace rvxctl

#endif  // RVX_TOOLS_RVXCTL_COMMON_H_

// Board facts and I/O: what LoadDevice found, identity and counts, the
// status of the axes and the digital channels; and what a failed load says.
#include "tools/rvxctl_board.h"

#include <cstring>
#include <string>

#include "include/rvx406a.h"
#include "platform/platform.h"
#include "tools/axis_state.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {
namespace {

std::string CardFlags(uint16_t status) {
  std::string names;
  for (const std::string &name : StatusFlags(status)) names += (names.empty() ? "" : " ") + name;
  return names.empty() ? "-" : names;
}

}  // namespace

int Load(const Args &) {
  const rvx::BoardTable &table = rvx::process().table;
  printf("boards: %u, axes: %u, DI: %u, DO: %u\n", table.count, table.total_axes, table.total_di,
         table.total_do);
  for (uint32_t n = 0; n < table.count; ++n) {
    const rvx::BoardRecord &r = table.board[n];
    std::string modules;
    for (int m = 0; m < 4; ++m) {
      if (r.module_present[m]) modules += (modules.empty() ? "" : ",") + std::to_string(m + 1);
    }
    printf("board %u: %u axes, %u DI, %u DO, modules %s\n", n, r.axis_count, r.di_count, r.do_count,
           modules.empty() ? "none" : modules.c_str());
  }
  printf("log: %s\n", LogFileNote().c_str());
  return 0;
}

int Info(const Args &args) {
  int status = 0;
  const rvx::BoardTable &table = rvx::process().table;
  for (uint16_t n = 0; n < table.count; ++n) {
    uint32_t type = 0, version = 0, axes = 0, di = 0, dout = 0;
    RVX406A_BoardInfo(n, &type, &version, &axes, &di, &dout);
    if (!Succeeded("BoardInfo")) {
      status = 1;
      continue;
    }
    const uint16_t id = RVX406A_GetBoardID(n);
    const uint16_t axis_num = RVX406A_GetAxisNum(n);
    if (!Succeeded("GetAxisNum")) status = 1;
    const uint16_t di_num = RVX406A_GetDiNum(n);
    const uint16_t do_num = RVX406A_GetDoNum(n);
    std::string modules;
    for (int m = 0; m < 4; ++m) {
      if (table.board[n].module_present[m]) {
        modules += (modules.empty() ? "" : ",") + std::to_string(m + 1);
      }
    }
    printf("board %u: type %u, version %u, ID 0x%02X, modules %s\n", n, type, version, id,
           modules.empty() ? "none" : modules.c_str());
    printf("  BoardInfo: %u axes, %u DI, %u DO\n", axes, di, dout);
    printf("  counts:    %u axes, %u DI, %u DO\n", axis_num, di_num, do_num);
  }
  if (args.Has("--dll")) {
    const std::string &path = args.flags.at("--dll");
    const uint32_t v = RVX406A_GetDllVersion(path.c_str());
    if (!Succeeded("GetDllVersion")) return 1;
    if (v == 0) {
      printf("%s: no version information\n", path.c_str());
    } else {
      printf("%s: version %u (%u.%u.%u.%u)\n", path.c_str(), v, v / 1000000, v / 10000 % 100,
             v / 100 % 100, v % 100);
    }
  }
  return status;
}

int StatusOfAxis(uint16_t board, uint16_t axis) {
  const uint16_t status = RVX406A_GetCardStatus(board, axis);
  if (!Succeeded("GetCardStatus")) return 1;
  const int32_t command = RVX406A_GetCommandPos(board, axis);
  const int32_t actual = RVX406A_GetActualPos(board, axis);
  const int32_t speed = RVX406A_GetCommandSpeed(board, axis);
  const int32_t error = RVX406A_GetMotionErrCod(board, axis);
  printf("%5u %4u  0x%04X %10d %10d %8d  %-24s %s\n", board, axis, status, command, actual, speed,
         ResultName(error).c_str(), CardFlags(status).c_str());
  return 0;
}

int Status(const Args &args) {
  uint16_t first = 0, board = 0, axis = 0;
  uint16_t last = static_cast<uint16_t>(rvx::process().table.count);
  if (args.size() >= 1) {
    if (!BoardArg(args, 0, &board)) return 2;
    first = board;
    last = static_cast<uint16_t>(board + 1);
  }
  if (args.size() == 2 && !AxisArg(board, args[1], &axis)) return 2;
  printf(
      "board axis  status    command     actual    speed  motion error      "
      "       flags\n");
  int status = 0;
  for (uint16_t b = first; b < last; ++b) {
    if (args.size() == 2) {
      status |= StatusOfAxis(b, axis);
      continue;
    }
    const uint16_t axes = RVX406A_GetAxisNum(b);
    if (!Succeeded("GetAxisNum")) {
      status = 1;
      continue;
    }
    for (uint16_t a = 0; a < axes; ++a) status |= StatusOfAxis(b, a);
  }
  return status;
}

int PrintIo(uint16_t board) {
  const uint16_t di = RVX406A_GetDiNum(board);
  if (!Succeeded("GetDiNum")) return 1;
  const uint16_t dout = RVX406A_GetDoNum(board);
  printf("board %u: %u DI, %u DO\n", board, di, dout);
  for (uint16_t w = 0; w < di / 16; ++w) {
    uint16_t value = 0;
    RVX406A_GetDIWord(board, w, &value);
    if (!Succeeded("GetDIWord")) return 1;
    printf("  DI word %u (channels %2u-%2u): 0x%04X\n", w, 16 * w, 16 * w + 15, value);
  }
  for (uint16_t w = 0; w < dout / 16; ++w) {
    uint16_t value = 0;
    RVX406A_GetDOWord(board, w, &value);
    if (!Succeeded("GetDOWord")) return 1;
    printf("  DO word %u (channels %2u-%2u): 0x%04X\n", w, 16 * w, 16 * w + 15, value);
  }
  return 0;
}

int Io(const Args &args) {
  uint16_t board = 0;
  if (!BoardArg(args, 0, &board)) return 2;
  if (args.size() == 1) return PrintIo(board);
  uint16_t index = 0, value = 0;
  const uint16_t outputs = Record(board).do_count;
  const std::string on_board = "the outputs of board " + std::to_string(board);
  if (args.size() != 4 || (args[1] != "set" && args[1] != "out")) {
    fprintf(stderr, "rvxctl: io BOARD set CHANNEL 0|1, or io BOARD out WORDINDEX VALUE\n");
    return 2;
  }
  if (outputs == 0) {
    fprintf(stderr, "rvxctl: board %u has no outputs (no expansion module)\n", board);
    return 2;
  }
  if (args[1] == "set" ? !Number(args[2], "CHANNEL", 0, outputs - 1, &index, on_board) ||
                             !Number(args[3], "VALUE", 0, 1, &value)
                       : !Number(args[2], "WORDINDEX", 0, outputs / 16 - 1, &index,
                                 "the output words of board " + std::to_string(board)) ||
                             !Number(args[3], "VALUE", 0, 0xFFFF, &value)) {
    return 2;
  }
  if (args[1] == "set") {
    RVX406A_PutDOBit(board, index, value);
    if (!Succeeded("PutDOBit")) return 1;
    printf("DO channel %u = %u\n", index, RVX406A_GetDOBit(board, index));
  } else {
    RVX406A_PutDOWord(board, index, value);
    if (!Succeeded("PutDOWord")) return 1;
    uint16_t back = 0;
    RVX406A_GetDOWord(board, index, &back);
    printf("DO word %u = 0x%04X\n", index, back);
  }
  return Succeeded("read back") ? 0 : 1;
}

// The line the library writes to the log when the system refuses one of its
// named objects: it names the object, the call and the reason.
namespace {
std::string LoggedObjectFailure() {
  FILE *file = fopen(LogPath().c_str(), "rb");
  if (file == nullptr) return "";
  std::string found;
  char line[512];
  constexpr char kMark[] = " RVX406A_LoadDevice: ";
  while (fgets(line, sizeof line, file) != nullptr) {
    const char *at = strstr(line, kMark);
    if (at != nullptr) found = at + strlen(kMark);
  }
  fclose(file);
  while (!found.empty() && (found.back() == '\n' || found.back() == '\r')) found.pop_back();
  return found;
}

}  // namespace

// After a failed LoadDevice: what was tried, why it failed where the system
// says so, and what to try next.
void ExplainLoadFailure(int32_t code) {
  fprintf(stderr, "rvxctl: LoadDevice: %s\n", Explained(code).c_str());
  const std::string driver = rvx::os::GetEnv("RVX_DRIVER");
  if (code == ERR_CREATE_KERNEL_DRIVER_FAIL || code == ERR_CREATE_MEM_FAIL) {
    const std::string why = LoggedObjectFailure();
    if (!why.empty()) fprintf(stderr, "rvxctl: %s\n", why.c_str());
    fprintf(stderr, "rvxctl: every program of one RVX_IPC_NAMESPACE must run as the same user\n");
    return;
  }
  if (code != ERR_DEVICE_LOAD) return;
  if (driver.empty()) {
    const std::string why = rvx::os::DeviceOpenFailure(0);
    fprintf(stderr, "rvxctl: tried the kernel driver's device %s (RVX_DRIVER is unset): %s\n",
            rvx::os::DevicePath(0).c_str(),
            why.empty() ? "it opens, but offered no board" : why.c_str());
    fprintf(
        stderr,
        "rvxctl: is the board fitted and its driver loaded? Without a board, try rvxctl --sim\n");
  } else if (driver != "sim") {
    std::string why = rvx::os::ModuleLoadFailure(driver.c_str());
    if (why.empty()) {
      const bool entry =
          rvx::os::ModuleSymbol(rvx::os::LoadModule(driver.c_str()), "rvx_driver_entry") != nullptr;
      why = entry ? "it loads, but its rvx_driver_entry gave no operations of ABI version 1, "
                    "or its device 0 did not open"
                  : "it loads, but exports no rvx_driver_entry";
    }
    fprintf(stderr, "rvxctl: tried the driver module RVX_DRIVER=%s: %s\n", driver.c_str(),
            why.c_str());
    fprintf(stderr, "rvxctl: unset RVX_DRIVER for the kernel driver, or try rvxctl --sim\n");
  }
}

// --version: the tool's own version, which is also that of the library code
// built into it; and, as GetDllVersion reads it, the version of the library
// file installed beside the tool.
void PrintVersions(bool loaded) {
  printf("rvxctl %s (rvxMApiBrd %s built in)\n", RVX_VERSION_STRING, RVX_VERSION_STRING);
  const std::string exe = rvx::os::ExecutablePath();
  const size_t cut = exe.find_last_of("/\\");
  const std::string dir = cut == std::string::npos ? "" : exe.substr(0, cut + 1);
  const char sep = rvx::os::PathSeparator();
  std::string path;
  for (const std::string &folder :
       {dir, dir + ".." + sep + "lib" + sep, dir + ".." + sep + "bin" + sep}) {
    const std::string candidate = folder + rvx::os::LibraryFileName();
    if (FILE *file = fopen(candidate.c_str(), "rb")) {
      fclose(file);
      path = candidate;
      break;
    }
  }
  if (path.empty()) {
    printf("%s: not found beside rvxctl\n", rvx::os::LibraryFileName());
  } else if (!loaded) {
    printf(
        "%s: version not read: GetDllVersion needs a loaded board (try rvxctl --sim "
        "--version)\n",
        path.c_str());
  } else {
    const uint32_t v = RVX406A_GetDllVersion(path.c_str());
    if (v == 0) {
      printf("%s: no version resource\n", path.c_str());
    } else {
      printf("%s: version %u.%u.%u.%u\n", path.c_str(), v / 1000000, v / 10000 % 100, v / 100 % 100,
             v % 100);
    }
  }
}

std::vector<Command> BoardCommands() {
  return {
      {"load", "load", "boards, axes and channels found (the default)", {}, {}, Load},
      {"info",
       "info [--dll PATH]",
       "board identity and counts; version of a library file",
       {},
       {{"--dll", "PATH", "also the version of this library file"}},
       Info},
      {"status",
       "status [BOARD [AXIS]]",
       "card status, positions, speed and motion error",
       {{"BOARD", 0, 1, "only this board"}, {"AXIS", 0, 1, "only this axis of it"}},
       {},
       Status},
      {"io",
       "io BOARD [set CHANNEL 0|1 | out WORDINDEX VALUE]",
       "read DI/DO, or set outputs",
       {kBoardWord,
        {"ACTION", 0, 3, "set CHANNEL 0|1 (one output) or out WORDINDEX VALUE (16 outputs)"}},
       {},
       Io},
  };
}

}  // namespace rvxctl

// What one exported call costs the library itself, against a driver module
// that answers every request at once and counts them: setters, getters,
// status reads, outputs, speeds and move starts at log levels that write
// nothing and at one that writes every line; a written line against a bare
// open/append/close of the same text; and several processes calling on one
// board at once.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "include/rvx406a.h"

namespace {

// One install folder and one namespace for the whole run, so that the
// benchmarks never meet another program's boards.
// Removed when the run ends (forked children leave with _exit and keep it).
struct TemporaryFolder {
  std::string path;
  ~TemporaryFolder() { (void)!system(("rm -rf '" + path + "'").c_str()); }
};

const std::string& InstallDir() {
  static const TemporaryFolder folder{[] {
    char pattern[] = "/tmp/rvx-cost-XXXXXX";
    const std::string made = mkdtemp(pattern);
    (void)!system(("mkdir -p " + made + "/Parameter " + made + "/Debug").c_str());
    setenv("RVX_INSTALL_DIR", made.c_str(), 1);
    setenv("RVX_DRIVER", RVX_COUNTING_MODULE, 1);
    setenv("RVX_IPC_NAMESPACE", ("rvx-cost-" + std::to_string(getpid()) + "-").c_str(), 1);
    return made;
  }()};
  return folder.path;
}

uint64_t Requests() {
  using Counter = uint64_t (*)();
  static const Counter counter = [] {
    void* module = dlopen(RVX_COUNTING_MODULE, RTLD_NOW);
    return module == nullptr ? nullptr
                             : reinterpret_cast<Counter>(dlsym(module, "rvx_counting_requests"));
  }();
  return counter == nullptr ? 0 : counter();
}

std::string LogFile() {
  const std::string debug = InstallDir() + "/Debug";
  std::string found;
  if (DIR* dir = opendir(debug.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.rfind("logfile_", 0) == 0) found = debug + "/" + name;
    }
    closedir(dir);
  }
  return found;
}

long FileSize(const std::string& path) {
  FILE* file = path.empty() ? nullptr : fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  fseek(file, 0, SEEK_END);
  const long size = ftell(file);
  fclose(file);
  return size;
}

// The boards loaded at one log level for the life of a benchmark.
class Loaded {
 public:
  explicit Loaded(int level) {
    const std::string ini = InstallDir() + "/DbgLevel.ini";
    if (FILE* file = fopen(ini.c_str(), "wb")) {
      fprintf(file, "[DEBUG_AD]\r\nLOG_LEVEL=%d\r\n", level);
      fclose(file);
    }
    result_ = RVX406A_LoadDevice();
  }
  ~Loaded() { RVX406A_UnloadDevice(); }
  bool ok(benchmark::State& state) const {
    if (result_ >= 0) return true;
    state.SkipWithError(("RVX406A_LoadDevice: " + std::to_string(result_)).c_str());
    return false;
  }

 private:
  int32_t result_;
};

enum Function { kSetSvAlm, kGetSvAlm, kGetMainStatus, kPutDOBit, kSetPosSpeed, kIncMove };
constexpr const char* kNames[] = {"SetSvAlm", "GetSvAlm",    "GetMainStatus",
                                  "PutDOBit", "SetPosSpeed", "Inc_Move"};

void CallOnce(Function f, uint16_t i) {
  uint16_t enable = 0, logic = 0;
  switch (f) {
    case kSetSvAlm:
      RVX406A_SetSvAlm(0, 0, i & 1, 0);
      break;
    case kGetSvAlm:
      RVX406A_GetSvAlm(0, 0, &enable, &logic);
      benchmark::DoNotOptimize(enable);
      break;
    case kGetMainStatus:
      benchmark::DoNotOptimize(RVX406A_GetMainStatus(0, 0));
      break;
    case kPutDOBit:
      RVX406A_PutDOBit(0, 0, i & 1);
      break;
    case kSetPosSpeed:
      RVX406A_SetPosSpeed(0, 0, 1000, 20000 + (i & 1), 20, 20);
      break;
    case kIncMove:
      RVX406A_Inc_Move(0, 0, (i & 1) ? 100 : -100);
      break;
  }
}

// Args: function, log level. Level 3 writes a line for every setter and move.
void BM_Call(benchmark::State& state) {
  const auto f = static_cast<Function>(state.range(0));
  const int level = static_cast<int>(state.range(1));
  state.SetLabel(std::string(kNames[f]) + " level " + std::to_string(level));
  const Loaded loaded(level);
  if (!loaded.ok(state)) return;
  const std::string log = LogFile();
  const long log_before = FileSize(log);
  const uint64_t before = Requests();
  uint16_t i = 0;
  for (auto _ : state) CallOnce(f, i++);
  const double calls = static_cast<double>(state.iterations());
  state.counters["requests"] = static_cast<double>(Requests() - before) / calls;
  state.counters["log_bytes"] = static_cast<double>(FileSize(LogFile()) - log_before) / calls;
}
BENCHMARK(BM_Call)->ArgNames({"fn", "level"})->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 2, 3}});

// The written line of a setter at level 3, against the same text appended
// with a bare open/append/close.
void BM_LoggedSetter(benchmark::State& state) {
  const Loaded loaded(3);
  if (!loaded.ok(state)) return;
  uint16_t i = 0;
  for (auto _ : state) RVX406A_SetSvAlm(0, 0, i++ & 1, 0);
}
BENCHMARK(BM_LoggedSetter);

void BM_BareAppend(benchmark::State& state) {
  std::string line = "[2026:01:01:00:00:00:000] RV =     0 : RVX406A_SetSvAlm (0, 0, 1, 0)\r\n";
  {
    const Loaded loaded(3);
    if (!loaded.ok(state)) return;
    RVX406A_SetSvAlm(0, 0, 1, 0);
  }
  if (FILE* file = fopen(LogFile().c_str(), "rb")) {  // the line the library wrote last
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    fclose(file);
    const size_t start = text.rfind('\n', text.size() - 2);
    if (start != std::string::npos) line = text.substr(start + 1);
  }
  const std::string path = InstallDir() + "/Debug/bare.log";
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "ab");
    if (file == nullptr) {
      state.SkipWithError("fopen");
      break;
    }
    fputs(line.c_str(), file);
    fclose(file);
  }
  state.counters["line_bytes"] = static_cast<double>(line.size());
}
BENCHMARK(BM_BareAppend);

// Arg: processes. Each child loads the boards once; at every start it makes a
// fixed number of setter calls. The time is from the start to the last
// child's end of calls, so aggregate calls per second compare directly.
// Children unload only after the last iteration: unloading holds the library
// mutex for the watchers' grace period, which the others' calls would wait out.
constexpr int kCallsPerProcess = 20000;

void RunCallingChild(int start, int ready, int done) {
  char byte = RVX406A_LoadDevice() >= 0 ? 1 : 0;
  (void)!write(ready, &byte, 1);
  while (read(start, &byte, 1) == 1 && byte == 'g') {
    for (int i = 0; i < kCallsPerProcess; ++i) RVX406A_SetSvAlm(0, 0, i & 1, 0);
    (void)!write(done, &byte, 1);
  }
  RVX406A_UnloadDevice();
  _exit(0);
}

void BM_Processes(benchmark::State& state) {
  const int processes = static_cast<int>(state.range(0));
  InstallDir();
  {
    const Loaded loaded(0);  // DbgLevel.ini at 0 for the children; a first load
    if (!loaded.ok(state)) return;
  }
  int ready[2], done[2];
  if (pipe(ready) != 0 || pipe(done) != 0) return state.SkipWithError("pipe");
  std::vector<pid_t> children;
  std::vector<int> starts;  // one per child, so that each takes one start
  bool all_loaded = true;
  for (int k = 0; k < processes; ++k) {
    int start[2];
    if (pipe(start) != 0) break;
    const pid_t pid = fork();
    if (pid == 0) {
      for (int fd : starts) close(fd);  // or the earlier children never see their end
      close(start[1]);
      RunCallingChild(start[0], ready[1], done[1]);
    }
    close(start[0]);
    children.push_back(pid);
    starts.push_back(start[1]);
    char byte = 0;
    all_loaded = read(ready[0], &byte, 1) == 1 && byte == 1 && all_loaded;
  }
  if (!all_loaded || static_cast<int>(children.size()) != processes) {
    state.SkipWithError("a child could not load the boards");
  }
  double seconds = 0;
  int64_t calls = 0;
  for (auto _ : state) {
    if (!all_loaded) break;
    const auto t0 = std::chrono::steady_clock::now();
    for (int fd : starts) (void)!write(fd, "g", 1);
    for (int k = 0; k < processes; ++k) {
      char byte = 0;
      (void)!read(done[0], &byte, 1);
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(elapsed);
    seconds += elapsed;
    calls += static_cast<int64_t>(processes) * kCallsPerProcess;
  }
  for (int fd : starts) close(fd);  // the children unload and leave
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  if (seconds > 0) state.counters["calls_per_s"] = static_cast<double>(calls) / seconds;
}
BENCHMARK(BM_Processes)->ArgName("processes")->Arg(1)->Arg(2)->Arg(4)->UseManualTime();

}  // namespace

#include "tests/support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace rvx::test {
namespace {

namespace fs = std::filesystem;

std::map<std::string, ChildMain>& Children() {
  static std::map<std::string, ChildMain> children;
  return children;
}

// By space: local, chip, PLD bank, then the event window; the chip's offsets count words.
std::string Render(const sim::Request& r) {
  static const char* const kWrite[] = {"L%u=%08X", "WR%u=%04X", "P%X=%02X", "E%u=%04X"};
  static const char* const kRead[] = {"RL%u", "RR%u", "RP%X", "RE%u"};
  const bool event = r.code == ioctl::kEventWriteByte || r.code == ioctl::kEventWriteWord ||
                     r.code == ioctl::kEventReadByte || r.code == ioctl::kEventReadWord;
  const u32 space = event ? 3 : r.space < 3 ? r.space : 0;
  const u32 offset = space == static_cast<u32>(Space::kChip) ? r.offset / 2 : r.offset;
  char text[64];
  if (r.op == sim::Op::kOther) {
    snprintf(text, sizeof text, "C:%08X", r.code);
  } else {
    snprintf(text, sizeof text, (r.op == sim::Op::kWrite ? kWrite : kRead)[space], offset, r.value);
  }
  return text;
}

void Put(std::string* s, size_t at, u32 value) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>(value >> 8 * i);
}

// A VS_VERSIONINFO node of type 1 (text): lengths, key and value in UTF-16, then the children.
std::string Node(const std::u16string& key, const std::u16string& text, const std::string& kids) {
  std::string node(6, '\0');
  for (const std::u16string& part : {key, text}) {
    for (char16_t c : part + u'\0') node += {static_cast<char>(c), static_cast<char>(c >> 8)};
    node.resize((node.size() + 3) & ~size_t{3}, '\0');
  }
  node += kids;
  Put(&node, 0, static_cast<u32>(node.size() | (text.size() + 1) << 16));
  node[4] = 1;
  return node;
}

}  // namespace

std::string MakeTempDir() {
  static int counter = 0;
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) return "";
  const std::string prefix = "rvx-test-" + std::to_string(CurrentProcessId()) + "-";
  for (;;) {
    const fs::path dir = base / (prefix + std::to_string(++counter));
    // false without an error: a leftover of an earlier process with this id.
    if (fs::create_directory(dir, error)) return dir.string() + os::PathSeparator();
    if (error) return "";
  }
}

void RemoveTree(const std::string& path) {
  std::error_code walk, ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (fs::recursive_directory_iterator it(path, walk), end; !walk && it != end;
       it.increment(walk)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path, ignored);
}

void LibraryTest::SetUp() {
  static int counter = 0;
  ns_ = "rvxt" + std::to_string(CurrentProcessId()) + "_" + std::to_string(++counter) + "_";
  install_dir_ = MakeTempDir();
  ASSERT_FALSE(install_dir_.empty()) << "no temporary directory";
  fs::create_directories(install_dir_ + "Parameter");
  fs::create_directories(install_dir_ + "Debug");
  os::SetEnv("RVX_IPC_NAMESPACE", ns_.c_str());
  os::SetEnv("RVX_INSTALL_DIR", install_dir_.c_str());
  os::SetEnv("RVX_DRIVER", "sim");
  // Each test starts as a fresh process would, even when several share one.
  Process& p = process();
  p.seams = ProcessSeams{};
  memset(&p.table, 0, sizeof p.table);
  memset(p.move_table, 0, sizeof p.move_table);
  memset(p.home_table, 0, sizeof p.home_table);
  p.first_loader = true;
  p.driver_chosen = false;  // SimTest points the simulator's signal at its own host
  p.last_result = 0;
  ResetBoards(Boards());
}

void ResetBoards(sim::Config config) {
  config.clock = sim::Clock::kStepped;
  config.polled_drives = true;
  sim::Reset(config);
}

void LibraryTest::TearDown() {
  RVX406A_UnloadDevice();
  sim::RemoveNamedObjects();
  for (const char* name :
       {"B83F0D57-2E6A-4C19-A4D8-51F7E902C3BA", "5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635",
        "5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635.loaded"}) {
    os::RemoveNamedObject((ns_ + name).c_str());
  }
  if (!install_dir_.empty()) RemoveTree(install_dir_);
}

void LibraryTest::LoadBoard(u8 identity) {
  RVX406A_UnloadDevice();
  ResetBoards(sim::Config{});
  sim::SetPld(0, pld::kIdentity, identity);
  Load();
}

std::vector<std::string> LibraryTest::LoggedCalls() const {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(install_dir_ + "Debug")) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> lines;
  for (const fs::path& file : files) {
    std::istringstream in(ReadFile(file.string()));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line.substr(line.find(']') + 1));  // npos + 1: the whole line
    }
  }
  return lines;
}

void LibraryTest::ClearLog() const {
  for (const auto& entry : fs::directory_iterator(install_dir_ + "Debug")) {
    fs::remove(entry.path());
  }
}

std::vector<std::string> Requests(const std::vector<sim::Request>& trace) {
  std::vector<std::string> out;
  for (const sim::Request& r : trace) out.push_back(Render(r));
  return out;
}

std::vector<std::string> TracedWrites() {
  std::vector<std::string> out;
  for (const sim::Request& r : sim::Trace()) {
    if (r.op == sim::Op::kWrite) out.push_back(Render(r));
  }
  return out;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One section maps the file at address 0; the resource tree at 0x100 leads
// through type 16 to the version information at 0x158.
std::string VersionedPe(const std::u16string& language,
                        const std::vector<std::pair<std::u16string, std::u16string>>& values) {
  std::string strings;
  for (const auto& [key, text] : values) strings += Node(key, text, "");
  const std::string info =
      Node(u"VS_VERSION_INFO", u"", Node(u"StringFileInfo", u"", Node(language, u"", strings)));
  const u32 size = static_cast<u32>(info.size());
  std::string pe(0x158, '\0');
  // clang-format off
  const std::pair<size_t, u32> fields[] = {
      {0, 0x5A4D}, {0x3C, 0x40}, {0x40, 0x4550}, {0x46, 1}, {0x54, 120},  // "MZ", "PE", 1 section
      {0x58, 0x10B}, {0xB4, 16}, {0xC8, 0x100}, {0xCC, 0x58},  // PE32, 16 directories, resources
      {0xE0, 0x158 + size},                                    // the section's raw size
      {0x10E, 1}, {0x110, 16}, {0x114, 0x80000018},            // type 16
      {0x126, 1}, {0x12C, 0x80000030}, {0x13E, 1}, {0x144, 0x48},  // a name, a language
      {0x148, 0x158}, {0x14C, size}};                          // the data: address and size
  // clang-format on
  for (const auto& [at, value] : fields) Put(&pe, at, value);
  return pe + info;
}

ChildRegistrar::ChildRegistrar(const char* name, ChildMain main) { Children()[name] = main; }

void RunChildFromCommandLine(int argc, char** argv) {
  if (argc < 2 || strncmp(argv[1], kChildFlag, strlen(kChildFlag)) != 0) return;
  const auto found = Children().find(argv[1] + strlen(kChildFlag));
  const std::vector<std::string> args(argv + 2, argv + argc);
  const int code = found == Children().end() ? 127 : found->second(args);
  // A child stands in for another process and may end holding what it took,
  // as a killed one would: no exit handlers (nor a leak report) run.
  fflush(nullptr);
  std::_Exit(code);
}

}  // namespace rvx::test

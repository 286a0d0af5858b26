// INI files read and written the way GetPrivateProfileIntA and
// WritePrivateProfileStringA do, and the read-only file attribute.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace rvx::os {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The file's lines without their LF or CR LF endings; false when it cannot
// be opened.
bool ReadLines(const char* path, std::vector<std::string>* lines) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(line);
  }
  return file.is_open();
}

// "[name]" gives name.
bool ParseSection(std::string_view line, std::string_view* name) {
  line = Trim(line);
  const size_t close = line.find(']');
  if (line.empty() || line.front() != '[' || close == std::string_view::npos) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

// "key=value" gives both, trimmed.
bool ParseKey(std::string_view line, std::string_view* key, std::string_view* value) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  *key = Trim(line.substr(0, equals));
  *value = Trim(line.substr(equals + 1));
  return true;
}

// Where a key is, or would go, in a file's lines. The first section and the
// first key of that name count.
struct Location {
  int section = -1;       // its header line
  int last_content = -1;  // last non-blank line of the section
  int key = -1;
  std::string_view key_name, value;
};

Location Find(const std::vector<std::string>& lines, std::string_view section,
              std::string_view key) {
  Location at;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::string_view name, k, v;
    if (ParseSection(lines[i], &name)) {
      if (at.section >= 0) break;
      if (EqualNoCase(name, section)) at.section = at.last_content = i;
    } else if (at.section >= 0) {
      if (!Trim(lines[i]).empty()) at.last_content = i;
      if (ParseKey(lines[i], &k, &v) && EqualNoCase(k, key)) {
        at.key = i;
        at.key_name = k;
        at.value = v;
        break;
      }
    }
  }
  return at;
}

// An optional sign then decimal digits, wrapping at 32 bits like the Windows
// conversion; anything else ends the number.
int32_t LeadingInteger(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}

bool WriteAll(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0 && done == text.size();
}

}  // namespace

int32_t ReadIniInt(const char* section, const char* key, int32_t default_value, const char* path) {
  if (section == nullptr || key == nullptr || path == nullptr) return default_value;
  std::vector<std::string> lines;
  ReadLines(path, &lines);  // a missing file has no keys
  const Location at = Find(lines, Trim(section), Trim(key));
  // An empty value reads as absent, as GetPrivateProfileIntA has it.
  if (at.key < 0 || at.value.empty()) return default_value;
  return LeadingInteger(at.value);
}

bool WriteIniString(const char* section, const char* key, const char* value, const char* path) {
  if (section == nullptr || key == nullptr || value == nullptr || path == nullptr) return false;
  std::vector<std::string> lines;
  struct stat st;
  if (stat(path, &st) == 0) {
    // Checked here rather than left to open(): a process running as root
    // could write a read-only file, which Windows refuses to anyone.
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return false;
    if (!ReadLines(path, &lines)) return false;  // never replace what could not be read
  }
  const Location at = Find(lines, Trim(section), Trim(key));
  if (at.key >= 0) {
    lines[at.key] = std::string(at.key_name) + "=" + value;
  } else if (at.section >= 0) {
    lines.insert(lines.begin() + at.last_content + 1, std::string(Trim(key)) + "=" + value);
  } else {
    lines.push_back("[" + std::string(Trim(section)) + "]");
    lines.push_back(std::string(Trim(key)) + "=" + value);
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return WriteAll(path, text);
}

bool SetFileAttributes(const char* path, uint32_t attributes) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return false;
  // Only read-only has a POSIX meaning: it is the absence of write permission.
  const mode_t mode = (attributes & kFileAttributeReadOnly) != 0
                          ? st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)
                          : st.st_mode | S_IWUSR;
  return chmod(path, mode & 07777) == 0;
}

uint32_t GetFileAttributes(const char* path) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return 0;
  return (st.st_mode & S_IWUSR) == 0 ? kFileAttributeReadOnly : kFileAttributeNormal;
}

}  // namespace rvx::os

// INI files read and written the way GetPrivateProfileIntA and
// WritePrivateProfileStringA do, and the read-only file attribute.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/ini_document.h"
#include "platform/platform.h"

namespace rvx::os {
namespace {

// The whole file, or false when it exists but cannot be read.
bool ReadText(const char* path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return !file.bad();
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
  std::string text;
  ReadText(path, &text);  // a missing file has no keys
  return IniDocument(text).Int(section, key, default_value);
}

bool WriteIniString(const char* section, const char* key, const char* value, const char* path) {
  if (section == nullptr || key == nullptr || value == nullptr || path == nullptr) return false;
  std::string text;
  struct stat st;
  if (stat(path, &st) == 0) {
    // Checked here rather than left to open(): a process running as root
    // could write a read-only file, which Windows refuses to anyone.
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return false;
    if (!ReadText(path, &text)) return false;  // never replace what could not be read
  }
  IniDocument file(text);
  file.Set(section, key, value);
  return WriteAll(path, file.Text());
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

bool SyncFile(FILE* file) { return fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool MoveFileOver(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  // The rename itself lives in the folder: make it durable too.
  std::string folder(to);
  const size_t slash = folder.rfind('/');
  folder = slash == std::string::npos ? "." : folder.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

}  // namespace rvx::os

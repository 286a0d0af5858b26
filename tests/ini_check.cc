#include "tests/ini_check.h"

#include <cctype>
#include <map>
#include <utility>

#include "platform/ini_document.h"

namespace rvx::test {
namespace {

using Keys = std::map<std::pair<std::string, std::string>, std::string>;

std::string Trimmed(std::string s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// Lower-case (section, key) -> value as written, trimmed; only the first
// section of a name and the first key of a name in it count.
Keys ReferenceKeys(std::string_view text) {
  Keys keys;
  std::map<std::string, bool> seen;
  std::string section;  // the lines before any header have no section name
  bool live = true;
  seen[section] = true;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trimmed(line);
    if (!trimmed.empty() && trimmed[0] == '[' && trimmed.find(']') != std::string::npos) {
      section = Lower(Trimmed(trimmed.substr(1, trimmed.find(']') - 1)));
      live = !seen[section];
      seen[section] = true;
    } else if (live && line.find('=') != std::string::npos) {
      const size_t equals = line.find('=');
      keys.emplace(std::make_pair(section, Lower(Trimmed(line.substr(0, equals)))),
                   Trimmed(line.substr(equals + 1)));
    }
  }
  return keys;
}

int32_t Expected(const std::string& value, int32_t fallback) {
  if (value.empty()) return fallback;
  size_t i = value[0] == '-' || value[0] == '+' ? 1 : 0;
  uint32_t n = 0;
  for (; i < value.size() && isdigit(static_cast<unsigned char>(value[i])); ++i) {
    n = n * 10u + static_cast<uint32_t>(value[i] - '0');
  }
  return static_cast<int32_t>(value[0] == '-' ? 0u - n : n);
}

std::string Mismatch(const char* what, const std::pair<std::string, std::string>& key, int32_t got,
                     int32_t want) {
  return std::string(what) + " [" + key.first + "] " + key.second + ": " + std::to_string(got) +
         " instead of " + std::to_string(want);
}

}  // namespace

std::string CheckIniText(std::string_view text) {
  const Keys keys = ReferenceKeys(text);
  const os::IniDocument doc(text);
  for (const auto& [key, value] : keys) {
    const int32_t got = doc.Int(key.first, key.second, -31);
    if (got != Expected(value, -31)) return Mismatch("read", key, got, Expected(value, -31));
  }
  if (doc.Int("no such section", "x", 17) != 17) return "a missing section has a key";
  // Rewriting changes the written key alone, and the text stays stable.
  const std::string once = doc.Text();
  if (os::IniDocument(once).Text() != once) return "the written text does not read back as written";
  size_t n = 0;
  for (const auto& [changed, unused] : keys) {
    if (n++ == 8) break;
    os::IniDocument edited(text);
    edited.Set(changed.first, changed.second, "-77");
    const os::IniDocument reread(edited.Text());
    for (const auto& [key, value] : keys) {
      const int32_t want = key == changed ? -77 : Expected(value, -31);
      const int32_t got = reread.Int(key.first, key.second, -31);
      if (got != want) return Mismatch("after a write", key, got, want);
    }
  }
  os::IniDocument added(text);
  added.Set("New Section", "New Key", "5");
  if (os::IniDocument(added.Text()).Int("new section", "new key", 0) != 5)
    return "an added key is lost";
  return "";
}

}  // namespace rvx::test

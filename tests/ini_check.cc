#include "tests/ini_check.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "platform/ini_document.h"

namespace rvx::test {
namespace {

using Key = std::pair<std::string, std::string>;  // lower-case section and key
constexpr int32_t kAbsent = -31;

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// The leading integer, wrapping as GetPrivateProfileIntA does.
int32_t Value(const std::string& v) {
  if (v.empty()) return kAbsent;
  uint32_t n = 0;
  for (size_t i = v[0] == '-' || v[0] == '+'; i < v.size() && isdigit(v[i] & 0xFF); ++i) {
    n = n * 10u + static_cast<uint32_t>(v[i] - '0');
  }
  return static_cast<int32_t>(v[0] == '-' ? 0u - n : n);
}

// Only the first section of a name and the first key of a name in it count.
std::map<Key, int32_t> ReferenceValues(std::string_view text) {
  std::map<Key, int32_t> values;
  std::set<std::string> seen{""};
  std::string section;
  bool live = true;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trimmed(line);
    const size_t equals = line.find('=');
    if (!trimmed.empty() && trimmed[0] == '[' && trimmed.find(']') != std::string::npos) {
      section = Lower(Trimmed(trimmed.substr(1, trimmed.find(']') - 1)));
      live = seen.insert(section).second;
    } else if (live && equals != std::string::npos) {
      values.emplace(Key(section, Lower(Trimmed(line.substr(0, equals)))),
                     Value(Trimmed(line.substr(equals + 1))));
    }
  }
  return values;
}

}  // namespace

std::string CheckIniText(std::string_view text) {
  const std::map<Key, int32_t> values = ReferenceValues(text);
  const std::string once = os::IniDocument(text).Text();
  if (os::IniDocument(once).Text() != once) return "the written text does not read back as written";
  std::vector<const Key*> rewritten = {nullptr};  // none, then each of the first keys
  for (const auto& [key, unused] : values) {
    if (rewritten.size() < 9) rewritten.push_back(&key);
  }
  for (const Key* changed : rewritten) {
    os::IniDocument doc(text);
    if (changed != nullptr) doc.Set(changed->first, changed->second, "-77");
    const os::IniDocument reread(doc.Text());
    for (const auto& [key, value] : values) {
      const int32_t want = changed != nullptr && key == *changed ? -77 : value;
      const int32_t got = reread.Int(key.first, key.second, kAbsent);
      if (got != want) {
        return "[" + key.first + "] " + key.second + ": " + std::to_string(got) + " instead of " +
               std::to_string(want) + (changed != nullptr ? " after a write" : "");
      }
    }
  }
  return "";
}

}  // namespace rvx::test

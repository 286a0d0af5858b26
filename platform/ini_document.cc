#include "platform/ini_document.h"

#include <cctype>

namespace rvx::os {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
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

}  // namespace

IniDocument::IniDocument(std::string_view text) {
  // Lines before any header form the section without a name, as on Windows.
  sections_.emplace_back();
  sections_.back().first = 0;
  first_section_.emplace("", 0);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view name;
    if (ParseSection(line, &name)) {
      first_section_.emplace(Lower(name), sections_.size());
      sections_.emplace_back();
    }
    sections_.back().lines.emplace_back(line);
  }
}

size_t IniDocument::Find(std::string_view section) const {
  const auto it = first_section_.find(Lower(Trim(section)));
  return it == first_section_.end() ? std::string::npos : it->second;
}

const std::string* IniDocument::FindLine(const Section& s, std::string_view key, size_t* at) {
  if (!s.indexed) {
    s.keys.clear();
    std::string_view k, v;
    for (size_t i = s.first; i < s.lines.size(); ++i) {
      if (ParseKey(s.lines[i], &k, &v)) s.keys.emplace(Lower(k), i);
    }
    s.indexed = true;
  }
  const auto it = s.keys.find(Lower(Trim(key)));
  if (it == s.keys.end()) return nullptr;
  *at = it->second;
  return &s.lines[it->second];
}

int32_t IniDocument::Int(std::string_view section, std::string_view key,
                         int32_t default_value) const {
  const size_t s = Find(section);
  size_t at;
  const std::string* line = s == std::string::npos ? nullptr : FindLine(sections_[s], key, &at);
  std::string_view k, v;
  // An empty value reads as absent, as GetPrivateProfileIntA has it.
  if (line == nullptr || !ParseKey(*line, &k, &v) || v.empty()) return default_value;
  return LeadingInteger(v);
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  size_t index = Find(section);
  if (index == std::string::npos) {
    index = sections_.size();
    first_section_.emplace(Lower(Trim(section)), index);
    sections_.emplace_back();
    sections_.back().lines.push_back("[" + std::string(Trim(section)) + "]");
  }
  Section& s = sections_[index];
  size_t at;
  if (const std::string* line = FindLine(s, key, &at)) {
    std::string_view k, v;
    ParseKey(*line, &k, &v);
    s.lines[at] = std::string(k) + "=" + std::string(value);
    return;
  }
  size_t at_line = s.first;
  for (size_t i = s.lines.size(); i-- > s.first;) {
    if (!Trim(s.lines[i]).empty()) {
      at_line = i + 1;
      break;
    }
  }
  s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at_line),
                 std::string(Trim(key)) + "=" + std::string(value));
  // Shifting the index is far cheaper than parsing a large section again.
  for (auto& entry : s.keys) {
    if (entry.second >= at_line) ++entry.second;
  }
  s.keys.emplace(Lower(Trim(key)), at_line);
}

std::string IniDocument::Text() const {
  std::string text;
  for (const Section& s : sections_) {
    for (const std::string& line : s.lines) text.append(line).append("\r\n");
  }
  return text;
}

}  // namespace rvx::os

// An INI text parsed once, read and changed key by key with the results the
// Windows profile functions give, and written back whole.
#ifndef RVX_PLATFORM_INI_DOCUMENT_H_
#define RVX_PLATFORM_INI_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rvx::os {

class IniDocument {
 public:
  IniDocument() = default;
  explicit IniDocument(std::string_view text);

  // The value's leading integer (32-bit wrapping, optional sign), or
  // `default_value` when the key is absent or empty. Only the first section
  // of a name counts; sections and keys match without regard to case.
  int32_t Int(std::string_view section, std::string_view key, int32_t default_value) const;
  // Replaces the key's line, or adds the key after the section's last
  // non-blank line, or adds the section at the end; every other line stays.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // The lines, each ended by CR LF.
  std::string Text() const;

 private:
  struct Section {
    std::vector<std::string> lines;
    size_t first = 1;  // the first line after the header; 0 in the preamble
    // Lower-case key name -> index of its first line; rebuilt when stale.
    mutable std::unordered_map<std::string, size_t> keys;
    mutable bool indexed = false;
  };
  size_t Find(std::string_view section) const;  // npos when absent
  static const std::string* FindLine(const Section& s, std::string_view key, size_t* at);

  std::vector<Section> sections_;  // [0] holds the lines before any header, no header line
  std::unordered_map<std::string, size_t> first_section_;
};

}  // namespace rvx::os

#endif  // RVX_PLATFORM_INI_DOCUMENT_H_

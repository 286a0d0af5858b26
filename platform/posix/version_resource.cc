// String values of a Windows PE file's version resource, read with plain file
// I/O. The file is untrusted input: every offset and size it gives is checked
// against what was actually read before it is used.
#include <algorithm>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace rvx::os {
namespace {

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kResourceDirectory = 2;  // index in the optional header's data directories
constexpr uint32_t kMaxResourceSize = 1u << 24;

// A range of bytes read from the file, with bounds-checked little-endian reads.
class Bytes {
 public:
  bool Has(uint64_t offset, uint64_t size) const {
    return offset <= data_.size() && size <= data_.size() - offset;
  }
  // Callers check Has() first.
  uint16_t U16(size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
  uint32_t U32(size_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
  std::vector<unsigned char>& data() { return data_; }

 private:
  std::vector<unsigned char> data_;
};

class File {
 public:
  explicit File(const char* path) : stream_(path, std::ios::binary) {
    if (stream_) {
      stream_.seekg(0, std::ios::end);
      const std::streamoff end = stream_.tellg();
      size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
    }
  }
  bool Read(uint64_t offset, uint64_t size, Bytes* out) {
    if (offset > size_ || size > size_ - offset) return false;
    out->data().resize(size);
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    return size == 0 || static_cast<bool>(stream_.read(reinterpret_cast<char*>(out->data().data()),
                                                       static_cast<std::streamsize>(size)));
  }

 private:
  std::ifstream stream_;
  uint64_t size_ = 0;
};

struct Sections {
  Bytes table;
  uint32_t count = 0;
};

// The file offset of `size` bytes at image address `rva`, found in the
// section whose raw data holds all of them.
bool RvaToOffset(const Sections& sections, uint32_t rva, uint32_t size, uint64_t* offset) {
  for (uint32_t i = 0; i < sections.count; ++i) {
    const size_t at = i * 40;
    const uint32_t address = sections.table.U32(at + 12);
    const uint32_t raw_size = sections.table.U32(at + 16);
    const uint32_t raw_pointer = sections.table.U32(at + 20);
    if (rva >= address && uint64_t{rva} - address + size <= raw_size) {
      *offset = uint64_t{raw_pointer} + (rva - address);
      return true;
    }
  }
  return false;
}

// The resource directory entry named `id` (any entry when `id` is negative):
// its OffsetToData, relative to the start of the resource tree.
bool FindEntry(const Bytes& tree, uint32_t directory, int64_t id, uint32_t* target) {
  if (!tree.Has(directory, 16)) return false;
  const uint32_t count = uint32_t{tree.U16(directory + 12)} + tree.U16(directory + 14);
  if (!tree.Has(directory + 16, uint64_t{count} * 8)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = directory + 16 + i * 8;
    if (id < 0 || tree.U32(entry) == id) {
      *target = tree.U32(entry + 4);
      return true;
    }
  }
  return false;
}

// The raw VS_VERSIONINFO data of the file.
bool ReadVersionInfo(const char* path, Bytes* info) {
  File file(path);
  Bytes dos, nt;
  if (!file.Read(0, 64, &dos) || dos.U16(0) != 0x5A4D) return false;  // "MZ"
  const uint32_t nt_offset = dos.U32(0x3C);
  if (!file.Read(nt_offset, 24, &nt) || nt.U32(0) != 0x00004550) return false;  // "PE\0\0"
  Sections sections;
  sections.count = nt.U16(6);
  const uint16_t optional_size = nt.U16(20);
  Bytes optional;
  if (!file.Read(uint64_t{nt_offset} + 24, optional_size, &optional) || !optional.Has(0, 2)) {
    return false;
  }
  // PE32 and PE32+ differ in where the data directories start.
  const uint16_t magic = optional.U16(0);
  const size_t count_at = magic == 0x20B ? 108 : magic == 0x10B ? 92 : 0;
  if (count_at == 0 || !optional.Has(count_at, 4) || optional.U32(count_at) <= kResourceDirectory ||
      !optional.Has(count_at + 4 + kResourceDirectory * 8, 8)) {
    return false;
  }
  const uint32_t tree_rva = optional.U32(count_at + 4 + kResourceDirectory * 8);
  const uint32_t tree_size =
      std::min(optional.U32(count_at + 8 + kResourceDirectory * 8), kMaxResourceSize);
  if (!file.Read(uint64_t{nt_offset} + 24 + optional_size, uint64_t{sections.count} * 40,
                 &sections.table)) {
    return false;
  }
  uint64_t tree_offset;
  Bytes tree;
  if (!RvaToOffset(sections, tree_rva, tree_size, &tree_offset) ||
      !file.Read(tree_offset, tree_size, &tree)) {
    return false;
  }
  // Type RT_VERSION, then the first name and the first language under it;
  // the top bit marks a subdirectory at the two upper levels and must be
  // clear at the leaf.
  constexpr uint32_t kSubdirectory = 0x80000000u;
  uint32_t type, name, leaf;
  if (!FindEntry(tree, 0, kRtVersion, &type) || (type & kSubdirectory) == 0 ||
      !FindEntry(tree, type & ~kSubdirectory, -1, &name) || (name & kSubdirectory) == 0 ||
      !FindEntry(tree, name & ~kSubdirectory, -1, &leaf) || (leaf & kSubdirectory) != 0 ||
      !tree.Has(leaf, 16)) {
    return false;
  }
  const uint32_t data_rva = tree.U32(leaf);
  const uint32_t data_size = std::min(tree.U32(leaf + 4), kMaxResourceSize);
  uint64_t data_offset;
  return RvaToOffset(sections, data_rva, data_size, &data_offset) &&
         file.Read(data_offset, data_size, info);
}

// One node of the version tree: wLength, wValueLength, wType, a UTF-16 key,
// the value and the children, each aligned to 4 bytes from the data's start.
struct Node {
  size_t end = 0;
  size_t value = 0;
  size_t children = 0;
  std::u16string key;
};

size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

bool ParseNode(const Bytes& info, size_t at, size_t limit, Node* node) {
  if (!info.Has(at, 6)) return false;
  const uint16_t length = info.U16(at);
  if (length < 6 || at + length > limit || !info.Has(at, length)) return false;
  node->end = at + length;
  const uint16_t value_length = info.U16(at + 2);
  const bool text = info.U16(at + 4) == 1;
  size_t pos = at + 6;
  node->key.clear();
  for (;; pos += 2) {
    if (pos + 2 > node->end) return false;
    const char16_t c = info.U16(pos);
    if (c == 0) break;
    node->key += c;
  }
  node->value = std::min(Align4(pos + 2), node->end);
  node->children = std::min(Align4(node->value + value_length * (text ? 2u : 1u)), node->end);
  return true;
}

bool KeyMatches(const std::u16string& key, std::string_view name) {
  if (key.size() != name.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const auto fold = [](char32_t c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    if (fold(key[i]) != fold(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

bool FindChild(const Bytes& info, const Node& parent, std::string_view name, Node* child) {
  for (size_t at = parent.children; at < parent.end; at = Align4(child->end)) {
    if (!ParseNode(info, at, parent.end, child)) return false;
    if (KeyMatches(child->key, name)) return true;
  }
  return false;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The node's value as text, up to its terminator or the node's end. Tools
// disagree on whether wValueLength counts characters or bytes, so it is not
// relied on.
std::string TextValue(const Bytes& info, const Node& node) {
  std::string text;
  for (size_t at = node.value; at + 2 <= node.end; at += 2) {
    char32_t c = info.U16(at);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && at + 4 <= node.end && info.U16(at + 2) >= 0xDC00 &&
        info.U16(at + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (info.U16(at + 2) - 0xDC00);
      at += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    AppendUtf8(c, &text);
  }
  return text;
}

}  // namespace

bool GetFileVersionString(const char* path, const char* sub_block, std::string* value) {
  if (path == nullptr || sub_block == nullptr || value == nullptr) return false;
  std::vector<std::string_view> parts;
  for (std::string_view rest = sub_block; !rest.empty();) {
    const size_t cut = std::min(rest.find('\\'), rest.size());
    if (cut > 0) parts.push_back(rest.substr(0, cut));
    rest.remove_prefix(std::min(cut + 1, rest.size()));
  }
  if (parts.size() != 3 || !KeyMatches(u"StringFileInfo", parts[0])) return false;
  Bytes info;
  Node node;
  if (!ReadVersionInfo(path, &info) || !ParseNode(info, 0, info.data().size(), &node)) {
    return false;
  }
  for (std::string_view part : parts) {
    Node child;
    if (!FindChild(info, node, part, &child)) return false;
    node = child;
  }
  *value = TextValue(info, node);
  return true;
}

}  // namespace rvx::os

#include "text/ShellLink.h"

#include "text/AtomicFile.h"
#include "text/Codec.h"

#include <cstdint>
#include <optional>

namespace vantrel {
namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr unsigned char kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
enum LinkFlags : std::uint32_t {
  kHasIdList = 0x1,
  kHasLinkInfo = 0x2,
  kHasName = 0x4,
  kHasRelativePath = 0x8,
  kHasWorkingDir = 0x10,
  kIsUnicode = 0x80,
  kForceNoLinkInfo = 0x100,
};
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x1;
// Shortcuts are small; anything larger is not one.
constexpr std::size_t kMaxShortcutBytes = 1 << 20;

// Reads little-endian values and strings, refusing anything past the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  std::optional<std::uint32_t> U32(std::size_t at) const { return Number(at, 4); }
  std::optional<std::uint32_t> U16(std::size_t at) const { return Number(at, 2); }
  // A NUL-terminated string in the code page of the machine that made it.
  std::optional<std::string> Ansi(std::size_t at) const {
    if (at >= bytes_.size()) return std::nullopt;
    std::size_t end = bytes_.find('\0', at);
    if (end == std::string_view::npos) return std::nullopt;
    return Gb18030ToUtf8(bytes_.substr(at, end - at));
  }
  // A NUL-terminated UTF-16LE string.
  std::optional<std::string> Unicode(std::size_t at) const {
    std::u16string text;
    for (std::size_t p = at;; p += 2) {
      auto unit = U16(p);
      if (!unit) return std::nullopt;
      if (*unit == 0) break;
      text += static_cast<char16_t>(*unit);
    }
    return WideToAnsi(text);
  }
  // count characters, UTF-16LE or single bytes, not terminated.
  std::optional<std::string> Counted(std::size_t at, std::size_t count, bool unicode) const {
    std::size_t size = count * (unicode ? 2 : 1);
    if (at > bytes_.size() || size > bytes_.size() - at) return std::nullopt;
    if (!unicode) return Gb18030ToUtf8(bytes_.substr(at, size));
    std::u16string text;
    for (std::size_t i = 0; i < count; ++i) text += static_cast<char16_t>(*U16(at + 2 * i));
    return WideToAnsi(text);
  }
  std::size_t Size() const { return bytes_.size(); }

 private:
  std::optional<std::uint32_t> Number(std::size_t at, std::size_t width) const {
    if (at > bytes_.size() || width > bytes_.size() - at) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[at + i])) << (8 * i);
    return value;
  }
  std::string_view bytes_;
};

// The local path a LinkInfo structure at at holds, or nothing.
std::optional<std::string> LinkInfoPath(const Reader& r, std::size_t at, std::uint32_t size) {
  auto headerSize = r.U32(at + 4), flags = r.U32(at + 8), baseOffset = r.U32(at + 16), suffixOffset = r.U32(at + 24);
  if (!headerSize || !flags || !baseOffset || !suffixOffset || !(*flags & kVolumeIdAndLocalBasePath)) return std::nullopt;
  auto inside = [&](std::uint32_t offset) { return offset > 0 && offset < size; };
  if (*headerSize >= 0x24) {
    auto baseUnicode = r.U32(at + 28), suffixUnicode = r.U32(at + 32);
    if (baseUnicode && suffixUnicode && inside(*baseUnicode)) {
      auto base = r.Unicode(at + *baseUnicode);
      auto suffix = inside(*suffixUnicode) ? r.Unicode(at + *suffixUnicode) : std::optional<std::string>("");
      if (base && suffix) return *base + *suffix;
    }
  }
  if (!inside(*baseOffset)) return std::nullopt;
  auto base = r.Ansi(at + *baseOffset);
  auto suffix = inside(*suffixOffset) ? r.Ansi(at + *suffixOffset) : std::optional<std::string>("");
  if (!base || !suffix) return std::nullopt;
  return *base + *suffix;
}

}  // namespace

std::string ShortcutTargetOf(std::string_view bytes) {
  Reader r(bytes);
  if (r.U32(0) != kHeaderSize || bytes.size() < kHeaderSize ||
      bytes.substr(4, 16) != std::string_view(reinterpret_cast<const char*>(kShellLinkClsid), 16))
    return {};
  std::uint32_t flags = *r.U32(20);
  std::size_t at = kHeaderSize;
  if (flags & kHasIdList) {
    auto size = r.U16(at);
    if (!size) return {};
    at += 2 + *size;
  }
  std::optional<std::string> target;
  if ((flags & kHasLinkInfo) && !(flags & kForceNoLinkInfo)) {
    auto size = r.U32(at);
    if (!size || *size < 0x1C || *size > r.Size() - at) return {};
    target = LinkInfoPath(r, at, *size);
    at += *size;
  }
  if (target && !target->empty()) return *target;
  // String data: each a count of characters, then the characters.
  bool unicode = flags & kIsUnicode;
  std::string relative, workingDir;
  for (std::uint32_t field : {kHasName, kHasRelativePath, kHasWorkingDir}) {
    if (!(flags & field)) continue;
    auto count = r.U16(at);
    if (!count) return {};
    auto text = r.Counted(at + 2, *count, unicode);
    if (!text) return {};
    at += 2 + *count * (unicode ? 2u : 1u);
    if (field == kHasRelativePath) relative = *text;
    if (field == kHasWorkingDir) workingDir = *text;
  }
  if (relative.empty()) return {};
  if (workingDir.empty()) return relative;
  std::string_view rest = relative;
  if (rest.substr(0, 2) == ".\\") rest.remove_prefix(2);
  if (workingDir.back() != '\\') workingDir += '\\';
  return workingDir + std::string(rest);
}

std::string ResolveShortcutTarget(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes, kMaxShortcutBytes)) return {};
  return ShortcutTargetOf(bytes);
}

}  // namespace vantrel

#include "faces/shared/SkinColours.h"

#include <cctype>

namespace vantrel {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace

std::map<std::string, std::uint32_t> SkinColours(std::string_view bytes) {
  std::map<std::string, std::uint32_t> colours;
  if (bytes.substr(0, 4) != ".SHE") return colours;
  bool inColours = false;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = Trimmed(bytes.substr(0, end));
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (!line.empty() && line.front() == '[') {
      inColours = line == "[colours]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inColours || equals == std::string_view::npos) continue;
    const std::string_view name = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
    if (name.empty() || value.size() != 7 || value.front() != '#') continue;
    std::uint32_t rgb = 0;
    bool hex = true;
    for (char c : value.substr(1)) {
      const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                        : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                                    : -1;
      hex = hex && digit >= 0;
      rgb = rgb << 4 | static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
    }
    if (hex) colours[std::string(name)] = rgb;
  }
  return colours;
}

}  // namespace vantrel

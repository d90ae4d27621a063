#pragma once
// The settings file: an INI text read and written with the matching rules of
// the platform it came from (section and key names without case, blanks
// around key names ignored), GB18030 on disk, unknown lines kept as they are.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class IniDocument {
 public:
  static IniDocument Parse(std::string_view utf8Text);
  std::string Serialize() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  // Index of the header line of the first section of that name, or npos.
  std::size_t FindSection(std::string_view section) const;
  // Index of the key line within the section starting after header, or npos.
  std::size_t FindKey(std::size_t header, std::string_view key) const;
  std::size_t SectionEnd(std::size_t header) const;

  std::vector<std::string> lines_;
  std::string eol_ = "\r\n";
};

// Reads one value as the file holds it now (a parse is reused only while the
// file is unchanged on disk). Leading blanks of the
// file name, section and key are skipped, and if any of them is then empty
// the result is empty. A missing file or key gives the default.
std::string ReadSetting(std::string_view file, std::string_view section, std::string_view key,
                        std::string_view defaultValue);

// Writes one value, replacing the file atomically. Returns false when the
// file could not be written; the previous file then stays as it was.
bool WriteSetting(std::string_view file, std::string_view section, std::string_view key,
                  std::string_view value);

}  // namespace vantrel

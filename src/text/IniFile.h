#pragma once
// The settings file: an INI text read and written with the matching rules of
// the platform it came from (section and key names without case, blanks
// around key names ignored), GB18030 on disk, unknown lines kept as they are.
#include "platform/StoredFile.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class IniDocument {
 public:
  // The file's bytes. A line that is valid UTF-8 reads as UTF-8 (an editor's
  // save), any other as GB18030; either way it is written back byte for byte
  // unless Set changes it, and what Set writes is GB18030.
  static IniDocument Parse(std::string_view bytes);
  std::string Serialize() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Takes the key's line out; the section stays.
  void Remove(std::string_view section, std::string_view key);

 private:
  struct Line {
    std::string bytes;  // as the file holds it, without the line end
    std::string text;   // read as UTF-8
    std::string eol;    // its own line end; empty for a last line without one
  };
  static Line Written(std::string text);
  // Index of the header line of the first section of that name, or npos.
  std::size_t FindSection(std::string_view section) const;
  // Index of the key line within the section starting after header, or npos.
  std::size_t FindKey(std::size_t header, std::string_view key) const;
  std::size_t SectionEnd(std::size_t header) const;

  std::vector<Line> lines_;
  // The line end of lines written anew.
  std::string eol_ = "\r\n";
};

// Reads one value as the file holds it now. Leading blanks of the
// file name, section and key are skipped, and if any of them is then empty
// the result is empty. A missing file or key gives the default.
std::string ReadSetting(std::string_view file, std::string_view section, std::string_view key,
                        std::string_view defaultValue);

// Writes one value (none: takes the key out), replacing the file atomically.
// Returns false (errno set) when the file could not be written or exists but
// cannot be read; the previous file then stays as it was.
bool WriteSetting(std::string_view file, std::string_view section, std::string_view key,
                  std::optional<std::string_view> value);

// One settings file as its owner reads and writes it: the parse is kept
// while the file is unchanged on disk, so a read costs a look at the file's
// stamp, not a parse. An owner whose watch reports every change to the file
// says so; reads then ask the disk nothing until Changed() is called. Each
// owner has its own: two engines in one process never share what one read.
class SettingsFile {
 public:
  explicit SettingsFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  // As ReadSetting and WriteSetting, on this file; a write is a reported
  // change by itself.
  std::string Read(std::string_view section, std::string_view key, std::string_view defaultValue) const;
  bool Write(std::string_view section, std::string_view key, std::optional<std::string_view> value);

  // Off (the default), every read checks the file on disk.
  void ReportChanges(bool on);
  // The file changed on disk.
  void Changed();
  // Changes with every reported change; 0 while changes are not reported, so
  // that what is derived from the file is read again every time.
  std::uint64_t Generation() const;

 private:
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  std::string path_;
  std::atomic<bool> reported_{false};
  std::atomic<std::uint64_t> generation_{1};
  mutable std::mutex mutex_;
  // The parse and the stamp of the file it came from; none while the file
  // is missing or unreadable.
  mutable std::optional<IniDocument> doc_;
  mutable platform::FileStamp stamp_{};
  mutable std::uint64_t readAt_ = 0;
};

// 0 when the file can be read or does not exist, else why it cannot (a
// FileError for what is no regular file or too large to be one).
int SettingsFileError(const std::string& file);

}  // namespace vantrel

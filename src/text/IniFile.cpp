#include "text/IniFile.h"

#include "platform/StoredFile.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/TextRules.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace vantrel {
namespace {

constexpr std::size_t npos = std::string::npos;

std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view t = TrimBlanks(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  std::size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
  std::string_view t = TrimLeadingBlanks(line);
  return !t.empty() && t.front() == ';';
}

std::optional<std::string_view> KeyName(std::string_view line) {
  if (IsComment(line) || SectionName(line)) return std::nullopt;
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return TrimBlanks(line.substr(0, eq));
}

std::string ValueOf(std::string_view line) {
  std::string_view v = TrimBlanks(line.substr(line.find('=') + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view bytes) {
  IniDocument doc;
  if (bytes.find("\r\n") == std::string_view::npos && bytes.find('\n') != std::string_view::npos)
    doc.eol_ = "\n";
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t nl = bytes.find('\n', pos);
    std::string_view raw = bytes.substr(pos, nl == std::string_view::npos ? npos : nl - pos);
    Line line;
    if (nl != std::string_view::npos) line.eol = "\n";
    if (!raw.empty() && raw.back() == '\r') {
      raw.remove_suffix(1);
      line.eol = "\r" + line.eol;
    }
    line.bytes = std::string(raw);
    std::string_view readable = raw;
    if (doc.lines_.empty() && readable.substr(0, 3) == "\xEF\xBB\xBF") readable.remove_prefix(3);
    line.text = IsValidUtf8(readable) ? std::string(readable) : Gb18030ToUtf8(readable);
    doc.lines_.push_back(std::move(line));
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.bytes;
    out += line.eol;
  }
  return out;
}

IniDocument::Line IniDocument::Written(std::string text) {
  Line line;
  line.bytes = Utf8ToGb18030(text);
  line.text = std::move(text);
  return line;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  section = TrimBlanks(section);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    auto name = SectionName(lines_[i].text);
    if (name && EqualsIgnoreCase(*name, section)) return i;
  }
  return npos;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
  return i;
}

std::size_t IniDocument::FindKey(std::size_t header, std::string_view key) const {
  key = TrimBlanks(key);
  std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    auto name = KeyName(lines_[i].text);
    if (name && EqualsIgnoreCase(*name, key)) return i;
  }
  return npos;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  std::size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  std::size_t line = FindKey(header, key);
  if (line == npos) return std::nullopt;
  return ValueOf(lines_[line].text);
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string entry = std::string(key) + "=" + std::string(value);
  auto insert = [&](std::size_t at, std::string text) {
    // A last line without its end gets one before anything follows it.
    if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = eol_;
    Line line = Written(std::move(text));
    line.eol = eol_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  };
  std::size_t header = FindSection(section);
  if (header == npos) {
    insert(lines_.size(), "[" + std::string(section) + "]");
    insert(lines_.size(), entry);
    return;
  }
  std::size_t at = FindKey(header, key);
  if (at != npos) {
    // Keep the key as the file spells it; only the value changes.
    Line& line = lines_[at];
    std::string eol = line.eol;
    bool bom = at == 0 && line.bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    line = Written(line.text.substr(0, line.text.find('=') + 1) + std::string(value));
    if (bom) line.bytes.insert(0, "\xEF\xBB\xBF");
    line.eol = eol;
    return;
  }
  // After the section's last non-empty line, so blank separators stay between sections.
  at = SectionEnd(header);
  while (at > header + 1 && TrimBlanks(lines_[at - 1].text).empty()) --at;
  insert(at, entry);
}

std::optional<std::string> SettingsFile::Get(std::string_view section, std::string_view key) const {
  std::lock_guard lock(mutex_);
  const std::uint64_t now = generation_.load();
  // Ours are renames, so a new stamp; an editor's write changes the time or
  // size: either is seen at the next read.
  if (!reported_.load() || readAt_ != now) {
    std::optional<platform::FileStamp> stamp = platform::StampOf(path_);
    std::string bytes;
    if (!stamp) {
      doc_.reset();
    } else if (!doc_ || stamp_ != *stamp) {
      if (ReadStoredFile(path_, bytes)) {
        doc_.reset();
      } else {
        doc_ = IniDocument::Parse(bytes);
        stamp_ = *stamp;
      }
    }
    readAt_ = now;
  }
  return doc_ ? doc_->Get(section, key) : std::nullopt;
}

std::string SettingsFile::Read(std::string_view section, std::string_view key, std::string_view defaultValue) const {
  section = TrimLeadingBlanks(section);
  key = TrimLeadingBlanks(key);
  if (TrimLeadingBlanks(path_).empty() || section.empty() || key.empty()) return {};
  auto value = Get(section, key);
  return value ? *value : std::string(defaultValue);
}

void SettingsFile::ReportChanges(bool on) {
  reported_ = on;
  Changed();
}

void SettingsFile::Changed() { ++generation_; }

std::uint64_t SettingsFile::Generation() const { return reported_.load() ? generation_.load() : 0; }

std::string ReadSetting(std::string_view file, std::string_view section, std::string_view key,
                        std::string_view defaultValue) {
  file = TrimLeadingBlanks(file);
  section = TrimLeadingBlanks(section);
  key = TrimLeadingBlanks(key);
  if (file.empty()) return {};
  return SettingsFile(std::string(file)).Read(section, key, defaultValue);
}

void IniDocument::Remove(std::string_view section, std::string_view key) {
  std::size_t header = FindSection(section);
  if (header == npos) return;
  if (std::size_t at = FindKey(header, key); at != npos) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
}

bool WriteSetting(std::string_view file, std::string_view section, std::string_view key,
                  std::optional<std::string_view> value) {
  return SettingsFile(std::string(file)).Write(section, key, value);
}

bool SettingsFile::Write(std::string_view section, std::string_view key, std::optional<std::string_view> value) {
  const std::string& path = path_;
  std::string bytes;
  // A file that exists but cannot be read must not be replaced by one that
  // holds only this key.
  if (platform::Error error = ReadStoredFile(path, bytes); error && error.code != ENOENT) {
    errno = error.code;
    return false;
  }
  IniDocument doc = IniDocument::Parse(bytes);
  if (value) {
    doc.Set(section, key, *value);
  } else {
    doc.Remove(section, key);
  }
  const bool written = WriteFileAtomically(path, doc.Serialize());
  Changed();
  return written;
}

int SettingsFileError(const std::string& file) {
  std::string bytes;
  platform::Error error = ReadStoredFile(file, bytes);
  return error.code == ENOENT ? 0 : error.code;
}

}  // namespace vantrel

#pragma once
// What the watch helper tells the program over its pipe, one record after
// another, each a little-endian u32 length and that many bytes:
//   u8 type, then by type
//   Ready   nothing: the helper watches
//   Failed  the reason, in words (at most kMaxReasonBytes)
//   Change  u8 kind, u8 flags (bit 0: a folder), i32 pid,
//           u32 n, the path, u32 m, the new path (a rename only, else m = 0)
//   Report  u8 kind (overflow, no path, path too long, rights changed),
//           u32 count, the detail
//   Alive   nothing: sent at least once a second, so that a helper that no
//           longer runs (stopped, stuck) is told from one with nothing to say
// The program trusts none of it: every length is checked against the record
// and the limits, and anything that does not fit ends the source.
#include "monitor/RawChange.h"
#include "monitor/SourceReport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

struct HelperRecord {
  enum Type : std::uint8_t { Ready = 1, Failed, Change, Report, Alive };
  Type type = Ready;
  // Change
  RawChange::Kind kind = RawChange::Create;
  bool isDir = false;
  std::int32_t pid = 0;
  std::string path, newPath;
  // Report
  SourceReport report;
  // Failed
  std::string reason;

  // The change, viewing this record's paths.
  RawChange AsChange() const;
};

// A folder's path is under PATH_MAX and a name at most 255 bytes; twice
// that leaves room and still bounds what a record may hold.
inline constexpr std::size_t kMaxRecordPathBytes = 8192;
inline constexpr std::size_t kMaxReasonBytes = 1024;
inline constexpr std::size_t kMaxRecordBytes = 15 + 2 * kMaxRecordPathBytes;

void AppendReadyRecord(std::string& out);
void AppendAliveRecord(std::string& out);
void AppendFailedRecord(std::string& out, std::string_view reason);
void AppendChangeRecord(std::string& out, const RawChange& change);
void AppendReportRecord(std::string& out, const SourceReport& report);

// Takes the bytes as they come, in pieces of any size, and gives whole
// records back. Once something is malformed it stays so.
class HelperRecordReader {
 public:
  enum class Result { Record, NeedMore, Malformed };

  void Feed(std::string_view bytes);
  // Malformed sets why.
  Result Next(HelperRecord& out, std::string& why);
  // Bytes of a record not yet complete.
  std::size_t Pending() const { return buf_.size() - pos_; }

 private:
  std::string buf_;
  std::size_t pos_ = 0;
  std::string malformed_;
};

}  // namespace vantrel

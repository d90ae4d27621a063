#include "monitor/linux/HelperRecords.h"

#include <algorithm>
#include <cstring>

namespace vantrel {
namespace {

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

std::uint32_t U32At(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return v;
}

// Fills in the length of a record begun at start.
void Close(std::string& out, std::size_t start) {
  const auto length = static_cast<std::uint32_t>(out.size() - start - 4);
  for (int i = 0; i < 4; ++i) out[start + i] = static_cast<char>((length >> (8 * i)) & 0xff);
}

std::size_t Begin(std::string& out, HelperRecord::Type type) {
  std::size_t start = out.size();
  PutU32(out, 0);
  out.push_back(static_cast<char>(type));
  return start;
}

// An absolute path with no NUL in it, within the limit.
bool IsRecordPath(std::string_view path) {
  return !path.empty() && path.size() <= kMaxRecordPathBytes && path[0] == '/' &&
         path.find('\0') == std::string_view::npos;
}

// Reads the body of a record; false with the reason when it does not fit.
class Body {
 public:
  explicit Body(std::string_view bytes) : bytes_(bytes) {}
  bool Byte(std::uint8_t& v) {
    if (left() < 1) return false;
    v = static_cast<std::uint8_t>(bytes_[pos_++]);
    return true;
  }
  bool U32(std::uint32_t& v) {
    if (left() < 4) return false;
    v = U32At(bytes_, pos_);
    pos_ += 4;
    return true;
  }
  bool Bytes(std::size_t n, std::string& out) {
    if (left() < n) return false;
    out.assign(bytes_.substr(pos_, n));
    pos_ += n;
    return true;
  }
  std::size_t left() const { return bytes_.size() - pos_; }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

bool ParseBody(std::string_view bytes, HelperRecord& r, std::string& why) {
  Body body(bytes);
  std::uint8_t type = 0;
  if (!body.Byte(type)) return why = "empty record", false;
  r = HelperRecord{};
  switch (type) {
    case HelperRecord::Ready:
    case HelperRecord::Alive:
      r.type = static_cast<HelperRecord::Type>(type);
      if (body.left()) return why = "record with content where none belongs", false;
      return true;
    case HelperRecord::Failed: {
      r.type = HelperRecord::Failed;
      if (body.left() > kMaxReasonBytes) return why = "reason too long", false;
      body.Bytes(body.left(), r.reason);
      // Shown to the user as it is, so nothing in it may steer a terminal.
      for (char& c : r.reason)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
      return true;
    }
    case HelperRecord::Change: {
      r.type = HelperRecord::Change;
      std::uint8_t kind = 0, flags = 0;
      std::uint32_t pid = 0, n = 0, m = 0;
      if (!body.Byte(kind) || !body.Byte(flags) || !body.U32(pid) || !body.U32(n))
        return why = "change record cut short", false;
      if (kind >= RawChange::kKinds) return why = "unknown kind of change " + std::to_string(kind), false;
      if (flags & ~1u) return why = "unknown flags", false;
      if (n > kMaxRecordPathBytes || !body.Bytes(n, r.path)) return why = "path length " + std::to_string(n), false;
      if (!body.U32(m) || m > kMaxRecordPathBytes || !body.Bytes(m, r.newPath))
        return why = "new path length " + std::to_string(m), false;
      if (body.left()) return why = "bytes after a change", false;
      r.kind = static_cast<RawChange::Kind>(kind);
      r.isDir = flags & 1u;
      r.pid = static_cast<std::int32_t>(pid);
      if (!IsRecordPath(r.path)) return why = "not an absolute path", false;
      if ((r.kind == RawChange::Rename) != !r.newPath.empty()) return why = "new path where none belongs", false;
      if (r.kind == RawChange::Rename && !IsRecordPath(r.newPath)) return why = "new path not absolute", false;
      return true;
    }
    case HelperRecord::Report: {
      r.type = HelperRecord::Report;
      std::uint8_t kind = 0;
      std::uint32_t count = 0;
      if (!body.Byte(kind) || !body.U32(count)) return why = "report cut short", false;
      if (kind != SourceReport::QueueOverflow && kind != SourceReport::NoPath && kind != SourceReport::PathTooLong &&
          kind != SourceReport::RightsChanged)
        return why = "unknown report " + std::to_string(kind), false;
      if (count == 0) return why = "report of nothing", false;
      if (body.left() > kMaxRecordPathBytes) return why = "report detail too long", false;
      r.report.kind = static_cast<SourceReport::Kind>(kind);
      r.report.count = count;
      body.Bytes(body.left(), r.report.detail);
      if (!r.report.detail.empty() && !IsRecordPath(r.report.detail)) return why = "detail not a path", false;
      return true;
    }
    default:
      return why = "unknown record type " + std::to_string(type), false;
  }
}

}  // namespace

RawChange HelperRecord::AsChange() const {
  RawChange c;
  c.kind = kind;
  c.isDir = isDir;
  c.pid = pid;
  c.path = path;
  c.newPath = newPath;
  return c;
}

void AppendReadyRecord(std::string& out) { Close(out, Begin(out, HelperRecord::Ready)); }

void AppendAliveRecord(std::string& out) { Close(out, Begin(out, HelperRecord::Alive)); }

void AppendFailedRecord(std::string& out, std::string_view reason) {
  std::size_t start = Begin(out, HelperRecord::Failed);
  out.append(reason.substr(0, kMaxReasonBytes));
  Close(out, start);
}

void AppendChangeRecord(std::string& out, const RawChange& c) {
  std::size_t start = Begin(out, HelperRecord::Change);
  out.push_back(static_cast<char>(c.kind));
  out.push_back(static_cast<char>(c.isDir ? 1 : 0));
  PutU32(out, static_cast<std::uint32_t>(c.pid));
  PutU32(out, static_cast<std::uint32_t>(c.path.size()));
  out.append(c.path);
  std::string_view newPath = c.kind == RawChange::Rename ? c.newPath : std::string_view();
  PutU32(out, static_cast<std::uint32_t>(newPath.size()));
  out.append(newPath);
  Close(out, start);
}

void AppendReportRecord(std::string& out, const SourceReport& report) {
  std::size_t start = Begin(out, HelperRecord::Report);
  out.push_back(static_cast<char>(report.kind));
  PutU32(out, static_cast<std::uint32_t>(std::min<std::size_t>(report.count, UINT32_MAX)));
  out.append(report.detail);
  Close(out, start);
}

void HelperRecordReader::Feed(std::string_view bytes) {
  if (pos_ > 0 && pos_ >= buf_.size() / 2) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(bytes);
}

HelperRecordReader::Result HelperRecordReader::Next(HelperRecord& out, std::string& why) {
  if (!malformed_.empty()) {
    why = malformed_;
    return Result::Malformed;
  }
  if (buf_.size() - pos_ < 4) return Result::NeedMore;
  const std::uint32_t length = U32At(buf_, pos_);
  if (length == 0 || length > kMaxRecordBytes) {
    malformed_ = "record length " + std::to_string(length);
  } else {
    if (buf_.size() - pos_ - 4 < length) return Result::NeedMore;
    std::string reason;
    if (ParseBody(std::string_view(buf_).substr(pos_ + 4, length), out, reason)) {
      pos_ += 4 + std::size_t{length};
      return Result::Record;
    }
    malformed_ = reason;
  }
  why = malformed_;
  return Result::Malformed;
}

}  // namespace vantrel

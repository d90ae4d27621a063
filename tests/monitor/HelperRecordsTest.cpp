// What the watch helper writes, read back by the program: whole records from
// pieces of any size, and nothing at all from anything malformed.
#include "monitor/linux/HelperRecords.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

using Result = HelperRecordReader::Result;

RawChange Change(RawChange::Kind kind, std::string_view path, std::string_view newPath = {}, bool isDir = false,
                 std::int32_t pid = 0) {
  RawChange c;
  c.kind = kind;
  c.isDir = isDir;
  c.pid = pid;
  c.path = path;
  c.newPath = newPath;
  return c;
}

std::string Record(std::uint32_t length, std::string_view body) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xff));
  out.append(body);
  return out;
}

std::string U32(std::uint32_t v) { return Record(v, {}); }

// A change record's body with the given fields, however wrong.
std::string ChangeBody(std::uint8_t kind, std::uint8_t flags, std::string_view path, std::string_view newPath) {
  std::string body;
  body.push_back(HelperRecord::Change);
  body.push_back(static_cast<char>(kind));
  body.push_back(static_cast<char>(flags));
  body += U32(7);
  body += U32(static_cast<std::uint32_t>(path.size()));
  body += path;
  body += U32(static_cast<std::uint32_t>(newPath.size()));
  body += newPath;
  return body;
}

std::string Whole(std::string_view body) { return Record(static_cast<std::uint32_t>(body.size()), body); }

TEST(HelperRecords, EveryRecordComesBackWholeFromPiecesOfAnySize) {
  std::string stream;
  AppendReadyRecord(stream);
  AppendChangeRecord(stream, Change(RawChange::Rename, "/a/old name", "/b/new\xff", true, 4242));
  AppendChangeRecord(stream, Change(RawChange::Modify, "/a/f", "/ignored", false, -1));
  AppendReportRecord(stream, {SourceReport::PathTooLong, 3, "/deep/ancestor"});
  AppendFailedRecord(stream, "fanotify_init: no");
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, stream.size()}) {
    HelperRecordReader reader;
    std::vector<HelperRecord> got;
    std::string why;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      reader.Feed(std::string_view(stream).substr(at, piece));
      HelperRecord r;
      Result result;
      while ((result = reader.Next(r, why)) == Result::Record) got.push_back(r);
      ASSERT_EQ(result, Result::NeedMore) << why;
    }
    ASSERT_EQ(got.size(), 5u) << "pieces of " << piece;
    EXPECT_EQ(got[0].type, HelperRecord::Ready);
    EXPECT_EQ(got[1].type, HelperRecord::Change);
    EXPECT_EQ(got[1].kind, RawChange::Rename);
    EXPECT_TRUE(got[1].isDir);
    EXPECT_EQ(got[1].pid, 4242);
    EXPECT_EQ(got[1].path, "/a/old name");
    EXPECT_EQ(got[1].newPath, "/b/new\xff");
    EXPECT_EQ(got[2].kind, RawChange::Modify);
    EXPECT_EQ(got[2].pid, -1);
    EXPECT_EQ(got[2].newPath, "") << "only a rename carries a second path";
    EXPECT_EQ(got[3].type, HelperRecord::Report);
    EXPECT_EQ(got[3].report.kind, SourceReport::PathTooLong);
    EXPECT_EQ(got[3].report.count, 3u);
    EXPECT_EQ(got[3].report.detail, "/deep/ancestor");
    EXPECT_EQ(got[4].reason, "fanotify_init: no");
    EXPECT_EQ(reader.Pending(), 0u);
  }
}

TEST(HelperRecords, ATruncatedRecordWaitsForTheRestAndAHugeLengthIsRefusedAtOnce) {
  std::string stream;
  AppendChangeRecord(stream, Change(RawChange::Create, "/x/y"));
  HelperRecordReader reader;
  reader.Feed(std::string_view(stream).substr(0, stream.size() - 1));
  HelperRecord r;
  std::string why;
  EXPECT_EQ(reader.Next(r, why), Result::NeedMore);
  EXPECT_EQ(reader.Next(r, why), Result::NeedMore);

  for (std::uint32_t length : {0u, 0xffffffffu, static_cast<std::uint32_t>(kMaxRecordBytes + 1)}) {
    HelperRecordReader huge;
    // Only the length has come: nothing is waited for or set aside for it.
    huge.Feed(U32(length));
    EXPECT_EQ(huge.Next(r, why), Result::Malformed) << length;
    EXPECT_NE(why.find("length"), std::string::npos) << why;
  }
}

TEST(HelperRecords, MalformedContentIsRefusedAndStaysRefused) {
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"unknown type", Whole("\x09")},
      {"ready with content", Whole(std::string("\x01", 1) + "x")},
      {"length reaching into the next record", Record(20, ChangeBody(RawChange::Create, 0, "/a", "").substr(0, 20))},
      {"inner length past the end", Whole(ChangeBody(RawChange::Create, 0, "/a", "").substr(0, 7) + U32(1000) + "/a")},
      {"inner length beyond the limit", Whole(ChangeBody(RawChange::Create, 0, "", "").substr(0, 7) + U32(0xfffffff0u))},
      {"relative path", Whole(ChangeBody(RawChange::Create, 0, "etc/passwd", ""))},
      {"empty path", Whole(ChangeBody(RawChange::Delete, 0, "", ""))},
      {"NUL in path", Whole(ChangeBody(RawChange::Create, 0, std::string("/a\0b", 4), ""))},
      {"unknown kind", Whole(ChangeBody(RawChange::kKinds, 0, "/a", ""))},
      {"unknown flag", Whole(ChangeBody(RawChange::Create, 2, "/a", ""))},
      {"second path on a creation", Whole(ChangeBody(RawChange::Create, 0, "/a", "/b"))},
      {"rename without its new path", Whole(ChangeBody(RawChange::Rename, 0, "/a", ""))},
      {"bytes after a change", Whole(ChangeBody(RawChange::Create, 0, "/a", "") + "z")},
      {"report of a kind the helper never sends", Whole(std::string("\x04\x04", 2) + U32(1))},
      {"report of nothing", Whole(std::string("\x04\x01", 2) + U32(0))},
      {"report detail not a path", Whole(std::string("\x04\x02", 2) + U32(1) + "rel")},
      {"report cut short", Whole(std::string("\x04\x02", 2))},
  };
  for (const auto& [what, bytes] : bad) {
    HelperRecordReader reader;
    std::string stream = bytes;
    AppendReadyRecord(stream);
    reader.Feed(stream);
    HelperRecord r;
    std::string why;
    EXPECT_EQ(reader.Next(r, why), Result::Malformed) << what;
    EXPECT_FALSE(why.empty()) << what;
    // A reader that lost its place cannot find the next record again.
    EXPECT_EQ(reader.Next(r, why), Result::Malformed) << what;
  }
}

TEST(HelperRecords, AReasonCannotSteerTheTerminalItIsShownOn) {
  std::string stream;
  AppendFailedRecord(stream, "bad\x1b[2J\nthing\x7f");
  HelperRecordReader reader;
  reader.Feed(stream);
  HelperRecord r;
  std::string why;
  ASSERT_EQ(reader.Next(r, why), Result::Record);
  EXPECT_EQ(r.reason, "bad?[2J?thing?");
}

}  // namespace
}  // namespace vantrel

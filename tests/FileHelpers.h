#pragma once
// Small file helpers the tests on real trees share.
#include "platform/Utf8Path.h"
#include "text/AtomicFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace vantrel {

inline std::string Read(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

inline void Put(const std::string& path, const std::string& content) {
  ASSERT_TRUE(WriteFileAtomically(path, content)) << path;
}

// As most programs write: the file is created under its name and filled.
inline void WriteInPlace(const std::string& path, const std::string& content) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}

// How many times what occurs in text.
inline std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A log of a copy rule's burst cut short by 退出程序: every copy made has
// its record, at most the copy in hand was given up, and every other event
// is recorded as not done. The count not done.
inline std::size_t ExpectEveryCopyAccountedFor(const std::string& log, std::size_t copied, std::size_t events) {
  const std::size_t done = Occurrences(log, "【执行操作】 ┃ 复制文件】"), failed = Occurrences(log, "【执行操作】 ┃ 复制文件失败】");
  const std::size_t notDone = Occurrences(log, "┃ 未执行 ┃ 新建文件 ");
  EXPECT_EQ(done, copied) << "every copy made has its record";
  EXPECT_LE(failed, 1u) << "at most the copy in hand was given up";
  EXPECT_EQ(done + failed + notDone, events) << "every event's rule is either done or told as not done";
  return notDone;
}

inline std::size_t EntriesIn(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(PathFromUtf8(dir))) ++n;
  return n;
}

}  // namespace vantrel

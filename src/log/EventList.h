#pragma once
// The rows of the event list: the store of record that the window's view,
// the repeat test, the export and the list commands all read. A row costs
// little: cell texts sit back to back in large blocks, the time and event
// type texts (which repeat from row to row) are kept once each, and every
// column has an index so that finding the first row holding a text takes
// constant time however long the list grows.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel {

// Open-addressing index from a cell text to the first row that holds it.
// It stores row numbers only; texts are compared against the rows.
class CellIndex {
 public:
  using CellOf = std::string_view (*)(const void* owner, std::uint32_t row);
  CellIndex(const void* owner, CellOf cellOf) : owner_(owner), cellOf_(cellOf) {}
  // Keeps the first row for a text that is already indexed.
  void Insert(std::uint32_t row, std::string_view text);
  std::int64_t Find(std::string_view text) const;
  void Clear();

 private:
  static constexpr std::uint32_t kEmpty = UINT32_MAX;
  void Grow();
  const void* owner_;
  CellOf cellOf_;
  std::vector<std::uint32_t> rows_;
  std::vector<std::uint32_t> tags_;
  std::size_t used_ = 0;
};

class EventList {
 public:
  static constexpr int kColumns = 4;
  EventList();
  EventList(const EventList&) = delete;
  EventList& operator=(const EventList&) = delete;

  std::size_t Append(std::string_view time, std::string_view name, std::string_view type, std::string_view path);
  std::size_t RowCount() const { return rows_.size(); }
  std::string_view Cell(std::size_t row, int column) const;
  // The first row whose cell equals the text, or -1. Column 0 compares
  // without regard to letter case, the others byte for byte.
  std::int64_t FindRowByCell(std::string_view text, int column) const;
  // The repeat test, which always asks about the current second: whether the
  // last row of the latest time text that holds this path holds this event
  // type too. A change in between (the file deleted, then made again) makes
  // the next one new.
  bool LatestSecondRepeats(std::string_view time, std::string_view type, std::string_view path) const;
  void Clear();

 private:
  struct Row {
    const char* name;
    const char* path;
    std::uint32_t nameLength;
    std::uint32_t pathLength;
    std::uint32_t time;
    std::uint32_t type;
  };
  // Interned texts with the first row of each.
  struct Pool {
    std::vector<std::string> texts;
    std::vector<std::uint32_t> firstRow;
    std::unordered_map<std::string, std::uint32_t> ids;
    std::unordered_map<std::string, std::uint32_t> firstRowFolded;
    std::uint32_t Intern(std::string_view text, std::uint32_t row, bool foldCase);
    std::int64_t Find(std::string_view text, bool foldCase) const;
    void Clear();
  };
  const char* Store(std::string_view text);
  static std::string_view NameOf(const void* self, std::uint32_t row);
  static std::string_view PathOf(const void* self, std::uint32_t row);

  std::vector<Row> rows_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<std::unique_ptr<char[]>> bigBlocks_;
  std::size_t blockUsed_ = 0;
  Pool times_, types_;
  // Built on the first search of their column, then kept up to date: the
  // program itself never searches these columns, so a long list carries no
  // index it does not use.
  mutable CellIndex names_, paths_;
  mutable bool namesIndexed_ = false, pathsIndexed_ = false;
  // The last row of the latest time text for each path, by its hash. It
  // holds one second's rows at most, so it stays small however long the list.
  std::uint32_t latestTime_ = UINT32_MAX;
  // The latest row of each path hash in the current second: an open table
  // whose slots count as empty unless stamped with the current second's
  // stamp, so a new second empties it without touching it.
  struct LatestSlot {
    std::size_t hash;
    std::uint32_t row;
    std::uint32_t stamp;
  };
  void NoteLatest(std::size_t hash, std::uint32_t row);
  const LatestSlot* FindLatest(std::size_t hash) const;
  std::vector<LatestSlot> latest_;
  std::uint32_t latestStamp_ = 1;
  std::size_t latestUsed_ = 0;
};

}  // namespace vantrel

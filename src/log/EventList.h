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
  // Where a row's texts start in the blocks (48 bits, split for packing).
  // The name is the path's last part, or stored right after the path: one
  // place serves both.
  struct Row {
    std::uint32_t at;
    std::uint32_t pathLength;
    std::uint32_t nameLength : 31;
    std::uint32_t nameAfterPath : 1;
    std::uint32_t time;
    std::uint16_t atHigh;
    std::uint16_t type;  // kOverflowType: in overflowTypes_
  };
  static_assert(sizeof(Row) == 20);
  static constexpr std::uint16_t kOverflowType = UINT16_MAX;
  std::string_view PathText(const Row& r) const { return {TextAt(r), r.pathLength}; }
  std::string_view NameText(const Row& r) const {
    const char* path = TextAt(r);
    return {r.nameAfterPath ? path + r.pathLength : path + r.pathLength - r.nameLength, r.nameLength};
  }
  std::string_view TypeOf(std::uint32_t row) const;
  const char* TextAt(const Row& r) const {
    const std::uint64_t at = (std::uint64_t{r.atHigh} << 32) | r.at;
    return blocks_.empty() ? "" : blocks_[at >> kBlockBits].get() + (at & ((std::uint64_t{1} << kBlockBits) - 1));
  }
  static constexpr int kBlockBits = 20;
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
  // The texts back to back; where they start.
  std::uint64_t Store(std::string_view text, std::string_view after = {});
  static std::string_view NameOf(const void* self, std::uint32_t row);
  static std::string_view PathOf(const void* self, std::uint32_t row);

  std::vector<Row> rows_;
  // Shared blocks of 1 << kBlockBits bytes, and a block of its own for each
  // very long text.
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t sharedBlock_ = SIZE_MAX;
  std::size_t blockUsed_ = 0;
  // Types beyond what a row's two bytes count, which the program's own few
  // words never reach.
  std::unordered_map<std::uint32_t, std::string> overflowTypes_;
  Pool times_, types_;
  // Built on the first search of their column, then kept up to date: the
  // program itself never searches these columns, so a long list carries no
  // index it does not use.
  mutable CellIndex names_, paths_;
  mutable bool namesIndexed_ = false, pathsIndexed_ = false;
  // The last row of the latest time text for each path. It holds one
  // second's rows at most, so it stays small however long the list.
  std::uint32_t latestTime_ = UINT32_MAX;
  // The latest row of each path in the current second: an open table
  // whose slots count as empty unless stamped with the current second's
  // stamp, so a new second empties it without touching it.
  // A slot knows its path by its row, and a part of the path's hash spares
  // reading other paths on the way.
  struct LatestSlot {
    std::uint32_t row;
    std::uint16_t stamp;
    std::uint16_t tag;
  };
  void NextLatestStamp();
  void NoteLatest(std::string_view path, std::uint32_t row);
  const LatestSlot* FindLatest(std::string_view path) const;
  std::vector<LatestSlot> latest_;
  std::uint16_t latestStamp_ = 1;
  std::size_t latestUsed_ = 0;
};

}  // namespace vantrel

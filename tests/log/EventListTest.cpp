#include "log/EventList.h"
#include "log/ListColourStore.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

// The linear search the index replaces; both must always agree.
std::int64_t Scan(const EventList& list, std::string_view text, int column) {
  for (std::size_t r = 0; r < list.RowCount(); ++r) {
    std::string cell(list.Cell(r, column));
    std::string want(text);
    if (column == 0) {
      for (auto* s : {&cell, &want})
        for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (cell == want) return static_cast<std::int64_t>(r);
  }
  return -1;
}

TEST(EventList, CellsComeBackAsStored) {
  EventList list;
  std::string longPath = "/" + std::string(600000, 'p');
  list.Append("2021-08-01 13:05:09", "a.txt", "新建文件", "/tmp/a.txt");
  list.Append("2021-08-01 13:05:09", "【执行操作】", "复制文件", longPath);
  list.Append("2021-08-01 13:05:10", "", "", "");
  ASSERT_EQ(list.RowCount(), 3u);
  EXPECT_EQ(list.Cell(0, 1), "a.txt");
  EXPECT_EQ(list.Cell(1, 2), "复制文件");
  EXPECT_EQ(list.Cell(1, 3), longPath);
  EXPECT_EQ(list.Cell(2, 0), "2021-08-01 13:05:10");
  EXPECT_EQ(list.Cell(2, 3), "");

  // More distinct types than a row counts in its own bytes: each row keeps
  // its own, and the repeat test still sees them.
  for (int i = 0; i < 70000; ++i) list.Append("2021-08-01 13:05:11", "n", "type" + std::to_string(i), "/q/n");
  for (int i : {0, 65532, 65533, 69999})
    EXPECT_EQ(list.Cell(3 + static_cast<std::size_t>(i), 2), "type" + std::to_string(i));
  EXPECT_TRUE(list.LatestSecondRepeats("2021-08-01 13:05:11", "type69999", "/q/n"));
  EXPECT_FALSE(list.LatestSecondRepeats("2021-08-01 13:05:11", "type0", "/q/n"));
  EXPECT_EQ(list.Cell(1, 3), longPath) << "a long text of its own block among the shared ones";
}

TEST(EventList, IndexedSearchAgreesWithAScanAndFindsTheFirstRow) {
  EventList list;
  for (int i = 0; i < 5000; ++i) {
    list.Append("T" + std::to_string(i / 100), "n" + std::to_string(i % 37), i % 2 ? "新建文件" : "删除文件",
                "/p/" + std::to_string(i % 1500));
  }
  for (int column = 0; column < 4; ++column) {
    for (const std::string& probe : {std::string("t3"), std::string("T49"), std::string("n5"), std::string("新建文件"),
                                     std::string("删除文件"), std::string("/p/1499"), std::string("/p/1500"),
                                     std::string("missing"), std::string("")}) {
      EXPECT_EQ(list.FindRowByCell(probe, column), Scan(list, probe, column)) << probe << " in column " << column;
    }
  }
  EXPECT_EQ(list.FindRowByCell("N5", 1), -1) << "columns 1 to 3 compare case-sensitively";
  EXPECT_EQ(list.FindRowByCell("x", 7), -1);
  // Rows added after the first search are found too, and the first row of a
  // text stays the one found.
  list.Append("T99", "late", "新建文件", "/p/late");
  list.Append("T99", "n5", "新建文件", "/p/1499");
  EXPECT_EQ(list.FindRowByCell("late", 1), 5000);
  EXPECT_EQ(list.FindRowByCell("/p/late", 3), 5000);
  EXPECT_EQ(list.FindRowByCell("n5", 1), Scan(list, "n5", 1));
  EXPECT_EQ(list.FindRowByCell("/p/1499", 3), 1499);
}

// A name that is the path's last part shares its bytes; any other name is
// kept whole, even when it looks like a tail.
TEST(EventList, NamesSharedWithTheirPathReadBackExactly) {
  EventList list;
  list.Append("t", "a.txt", "新建文件", "/d/a.txt");
  list.Append("t", "b.txt", "新建文件", "/d/xb.txt");
  list.Append("t", "/d/c", "新建文件", "/d/c");
  list.Append("t", "e.txt【原:f.txt】", "重命名文件", "/d/e.txt");
  list.Append("t", "g", "删除目录", "g");
  for (std::size_t row = 0; row < list.RowCount(); ++row) EXPECT_FALSE(list.Cell(row, 1).empty()) << row;
  EXPECT_EQ(list.Cell(0, 1), "a.txt");
  EXPECT_EQ(list.Cell(1, 1), "b.txt");
  EXPECT_EQ(list.Cell(2, 1), "/d/c");
  EXPECT_EQ(list.Cell(3, 1), "e.txt【原:f.txt】");
  EXPECT_EQ(list.Cell(4, 1), "g");
  EXPECT_EQ(list.Cell(4, 3), "g");
}

TEST(EventList, ClearEmptiesEveryIndex) {
  EventList list;
  list.Append("t", "a", "新建文件", "/a");
  list.Clear();
  EXPECT_EQ(list.RowCount(), 0u);
  for (int column = 0; column < 4; ++column) EXPECT_EQ(list.FindRowByCell(column == 0 ? "t" : "/a", column), -1);
  list.Append("u", "b", "删除文件", "/a");
  EXPECT_EQ(list.FindRowByCell("/a", 3), 0);
  EXPECT_EQ(list.Cell(0, 1), "b");
}

// The repeat test knows only the current second: a path listed long ago is
// never taken for a repeat, however many seconds have passed since.
TEST(EventList, ARowOfAnEarlierSecondIsNeverARepeat) {
  EventList list;
  list.Append("s0", "old", "新建文件", "/old");
  EXPECT_TRUE(list.LatestSecondRepeats("s0", "新建文件", "/old"));
  int repeats = 0;
  for (int second = 1; second < 70000; ++second) {
    const std::string time = "s" + std::to_string(second);
    list.Append(time, "n", "新建文件", "/n");
    repeats += list.LatestSecondRepeats(time, "新建文件", "/old");
  }
  EXPECT_EQ(repeats, 0);
}

TEST(ListColourStore, CellsByPositionSurviveAClearedList) {
  ListColourStore store;
  EXPECT_FALSE(store.CellColourAt(0, 0)) << "an uncoloured cell uses the list's own colours";
  store.SetCellColour(0, 2, 255, 16777215);
  store.SetCellColour(0, 2, 16711680, 16777215);
  store.SetCellColour(100000, 3, 8421376, 0);
  ASSERT_TRUE(store.CellColourAt(0, 2));
  EXPECT_EQ(store.CellColourAt(0, 2)->text, 16711680u) << "the latest colour wins";
  EXPECT_EQ(store.CellColourAt(100000, 3)->background, 0u);
  EXPECT_FALSE(store.CellColourAt(0, 1));
  EXPECT_FALSE(store.CellColourAt(0, 4));
  EXPECT_FALSE(store.CellColourAt(200000, 0));

  // Whole rows and single cells mix: a cell set later changes that cell only.
  const CellColour red{255, 16777215}, blue{16711680, 0};
  store.SetRowColours(7, {red, red, blue, red});
  store.SetRowColours(8, {red, red, blue, red});
  store.SetCellColour(8, 0, 1, 2);
  EXPECT_EQ(*store.CellColourAt(7, 0), red);
  EXPECT_EQ(*store.CellColourAt(7, 2), blue);
  EXPECT_EQ(*store.CellColourAt(8, 0), (CellColour{1, 2}));
  EXPECT_EQ(*store.CellColourAt(8, 3), red);
  store.SetRowColours(9, {blue, blue, blue, blue});
  EXPECT_EQ(*store.CellColourAt(9, 1), blue);
  EXPECT_EQ(*store.CellColourAt(7, 1), red) << "earlier rows keep their colours";

  // More distinct colourings than a row's two bytes count: every row keeps
  // its own, the first ones included.
  for (std::uint32_t row = 0; row < 70000; ++row) store.SetCellColour(row, 1, row, 0);
  for (std::uint32_t row : {0u, 9u, 65534u, 65535u, 69999u}) EXPECT_EQ(store.CellColourAt(row, 1)->text, row);
  EXPECT_EQ(*store.CellColourAt(7, 0), red);
  EXPECT_EQ(store.CellColourAt(100000, 3)->background, 0u);
}

}  // namespace
}  // namespace vantrel

#pragma once
// Text and background colour of each cell of the event list, keyed by row
// and column. Entries belong to positions, not rows: they stay when the rows
// are cleared, and a new row at the same place shows them until it is
// coloured anew. Colours are COLORREF values (0x00BBGGRR).
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vantrel {

struct CellColour {
  std::uint32_t text = 0;
  std::uint32_t background = 0xFFFFFF;
  bool operator==(const CellColour&) const = default;
};

class ListColourStore {
 public:
  static constexpr int kColumns = 4;
  void SetCellColour(std::size_t row, int column, std::uint32_t text, std::uint32_t background);
  // Nothing for a cell that never received a colour: the list's own colours apply.
  std::optional<CellColour> CellColourAt(std::size_t row, int column) const;
  void SetRowHeight(int pixels) { rowHeight_ = pixels; }
  int RowHeight() const { return rowHeight_; }

 private:
  // Cells hold an index into the few distinct colour pairs (0: none).
  std::vector<std::uint32_t> cells_;
  std::vector<CellColour> palette_;
  std::unordered_map<std::uint64_t, std::uint32_t> paletteIndex_;
  int rowHeight_ = 0;
};

}  // namespace vantrel

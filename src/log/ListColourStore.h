#pragma once
// Text and background colour of each cell of the event list, keyed by row
// and column. Entries belong to positions, not rows: they stay when the rows
// are cleared, and a new row at the same place shows them until it is
// coloured anew. Colours are COLORREF values (0x00BBGGRR).
#include <array>
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
  // The four cells of a row at once, as each new row is coloured.
  void SetRowColours(std::size_t row, const std::array<CellColour, kColumns>& colours);
  // Nothing for a cell that never received a colour: the list's own colours apply.
  std::optional<CellColour> CellColourAt(std::size_t row, int column) const;
  // The rows go (the list was cleared); the colourings known so far stay.
  void Clear() {
    rows_.clear();
    wideRows_.clear();
  }
  void SetRowHeight(int pixels) { rowHeight_ = pixels; }
  int RowHeight() const { return rowHeight_; }

 private:
  // A row holds one index into the few distinct colourings of a whole row
  // (0: no cell coloured); a colouring holds an index into the distinct
  // colour pairs for each cell (0: none). Two bytes a row, however long the
  // list grows, until a list holds more colourings than two bytes count:
  // then four.
  using Scheme = std::array<std::uint32_t, kColumns>;
  struct SchemeHash {
    std::size_t operator()(const Scheme& s) const {
      std::uint64_t h = 1469598103934665603ull;
      for (std::uint32_t v : s) h = (h ^ v) * 1099511628211ull;
      return static_cast<std::size_t>(h);
    }
  };
  std::uint32_t PairIndex(const CellColour& colour);
  std::uint32_t SchemeIndex(const Scheme& scheme);
  void SetRowScheme(std::size_t row, std::uint32_t scheme);
  std::uint32_t RowScheme(std::size_t row) const { return wide_ ? wideRows_[row] : rows_[row]; }
  std::size_t RowCount() const { return wide_ ? wideRows_.size() : rows_.size(); }

  std::vector<std::uint16_t> rows_;
  std::vector<std::uint32_t> wideRows_;
  bool wide_ = false;
  std::vector<Scheme> schemes_{Scheme{}};
  std::unordered_map<Scheme, std::uint32_t, SchemeHash> schemeIndex_;
  std::vector<CellColour> palette_;
  std::unordered_map<std::uint64_t, std::uint32_t> paletteIndex_;
  // The colouring most recently given, which the next row most often repeats.
  std::array<CellColour, kColumns> lastColours_{};
  std::uint32_t lastScheme_ = 0;
  int rowHeight_ = 0;
};

}  // namespace vantrel

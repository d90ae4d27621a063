#include "log/ListColourStore.h"

#include <algorithm>

namespace vantrel {

std::uint32_t ListColourStore::PairIndex(const CellColour& colour) {
  const std::uint64_t key = (static_cast<std::uint64_t>(colour.text) << 32) | colour.background;
  auto [it, inserted] = paletteIndex_.try_emplace(key, static_cast<std::uint32_t>(palette_.size() + 1));
  if (inserted) palette_.push_back(colour);
  return it->second;
}

std::uint32_t ListColourStore::SchemeIndex(const Scheme& scheme) {
  auto [it, inserted] = schemeIndex_.try_emplace(scheme, static_cast<std::uint32_t>(schemes_.size()));
  if (inserted) schemes_.push_back(scheme);
  return it->second;
}

namespace {

// Rows are coloured as they are appended: the next row, most of the time.
template <typename T>
void Put(std::vector<T>& rows, std::size_t row, T value) {
  if (rows.size() == row) {
    rows.push_back(value);
    return;
  }
  if (rows.size() < row) rows.resize(row + 1, 0);
  rows[row] = value;
}

}  // namespace

void ListColourStore::SetRowScheme(std::size_t row, std::uint32_t scheme) {
  if (!wide_ && scheme > UINT16_MAX) {
    wideRows_.assign(rows_.begin(), rows_.end());
    std::vector<std::uint16_t>().swap(rows_);
    wide_ = true;
  }
  if (wide_) {
    Put(wideRows_, row, scheme);
    return;
  }
  Put(rows_, row, static_cast<std::uint16_t>(scheme));
}

void ListColourStore::SetCellColour(std::size_t row, int column, std::uint32_t text, std::uint32_t background) {
  if (column < 0 || column >= kColumns) return;
  Scheme scheme = row < RowCount() ? schemes_[RowScheme(row)] : Scheme{};
  scheme[static_cast<std::size_t>(column)] = PairIndex({text, background});
  SetRowScheme(row, SchemeIndex(scheme));
}

void ListColourStore::SetRowColours(std::size_t row, const std::array<CellColour, kColumns>& colours) {
  if (lastScheme_ == 0 || colours != lastColours_) {
    Scheme scheme;
    for (std::size_t c = 0; c < scheme.size(); ++c) scheme[c] = PairIndex(colours[c]);
    lastScheme_ = SchemeIndex(scheme);
    lastColours_ = colours;
  }
  SetRowScheme(row, lastScheme_);
}

std::optional<CellColour> ListColourStore::CellColourAt(std::size_t row, int column) const {
  if (column < 0 || column >= kColumns || row >= RowCount()) return std::nullopt;
  const std::uint32_t pair = schemes_[RowScheme(row)][static_cast<std::size_t>(column)];
  if (pair == 0) return std::nullopt;
  return palette_[pair - 1];
}

}  // namespace vantrel

#include "log/ListColourStore.h"

#include <algorithm>

namespace vantrel {

void ListColourStore::SetCellColour(std::size_t row, int column, std::uint32_t text, std::uint32_t background) {
  if (column < 0 || column >= kColumns) return;
  std::uint64_t key = (static_cast<std::uint64_t>(text) << 32) | background;
  auto [it, inserted] = paletteIndex_.try_emplace(key, static_cast<std::uint32_t>(palette_.size() + 1));
  if (inserted) palette_.push_back({text, background});
  std::size_t cell = row * kColumns + static_cast<std::size_t>(column);
  if (cells_.size() <= cell) cells_.resize(std::max(cell + 1, cells_.size() * 2), 0);
  cells_[cell] = it->second;
}

std::optional<CellColour> ListColourStore::CellColourAt(std::size_t row, int column) const {
  std::size_t cell = row * kColumns + static_cast<std::size_t>(column);
  if (column < 0 || column >= kColumns || cell >= cells_.size() || cells_[cell] == 0) return std::nullopt;
  return palette_[cells_[cell] - 1];
}

}  // namespace vantrel

#pragma once
// Driving a live engine from a test as a face would: its turns, given until
// a condition holds.
#include "engine/Engine.h"
#include "text/AtomicFile.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {

// Gives the engine its turns until done() holds; false when time is up.
template <typename F>
bool GiveTurnsUntil(Engine& engine, F done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    engine.Work();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The rows whose name carries mark (what catching up found), as "type
// path", sorted.
inline std::vector<std::string> MarkedRows(const EventList& list, const std::string& mark) {
  std::vector<std::string> rows;
  for (std::size_t r = 0; r < list.RowCount(); ++r)
    if (std::string(list.Cell(r, 1)).find(mark) != std::string::npos)
      rows.push_back(std::string(list.Cell(r, 2)) + " " + std::string(list.Cell(r, 3)));
  std::sort(rows.begin(), rows.end());
  return rows;
}

inline std::string ReadAll(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace vantrel

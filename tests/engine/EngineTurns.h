#pragma once
// Driving a live engine from a test as a face would: its turns, given until
// a condition holds.
#include "engine/Engine.h"
#include "text/AtomicFile.h"

#include <chrono>
#include <string>
#include <thread>

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

inline std::string ReadAll(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace vantrel

#include "text/AtomicFile.h"

#include "platform/StoredFile.h"

#include <cerrno>

namespace vantrel {
namespace {

// Callers that read errno get the portable code there.
bool Succeeded(const platform::Error& error) {
  if (error) errno = error.code;
  return !error;
}

}  // namespace

platform::Error WriteStoredFile(const std::string& path, std::string_view bytes) {
  return platform::ReplaceFileAtomically(path, bytes);
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  return Succeeded(WriteStoredFile(path, bytes));
}

platform::Error ReadStoredFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  return platform::ReadRegularFile(path, bytes, maxBytes);
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  return Succeeded(ReadStoredFile(path, bytes, maxBytes));
}

std::size_t RemoveStaleTemporaries(const std::string& dir) { return platform::RemoveStaleTemporaries(dir); }

}  // namespace vantrel

#pragma once
#include <string>
#include <string_view>

namespace vantrel {

// Replaces the file with the given bytes so that a reader, or the file after
// a crash, sees either the old content or the new one, never a torn mix. The
// file keeps its permission bits. Returns false with errno set on failure,
// leaving the old file untouched.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

// Writes every byte, going on after short writes and interruptions.
bool WriteAllBytes(int fd, std::string_view bytes);

// Whole content of a file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace vantrel

#pragma once
// The names of the program's own temporaries. The platform layer makes and
// clears them; the change sources leave them out.
#include <cerrno>
#include <string>
#include <string_view>

namespace vantrel {

// ".vantrel-" and eight letters or digits: no name a person or another
// program gives looks like that, so the change sources leave them out and
// start-up may remove what a killed copy left behind.
inline constexpr std::string_view kOwnTemporaryPrefix = ".vantrel-";
std::string OwnTemporaryName();
// For a last path component.
bool IsOwnTemporaryName(std::string_view name);
// For a whole path: whether its last component is one of ours.
bool NamesOwnTemporary(std::string_view path);

inline bool NameTaken(int error) { return error == EEXIST; }
// Calls make(name) under fresh names while its answer says the name was
// taken, a hundred times at most, and returns the last answer.
template <typename Make>
auto WithOwnTemporaryName(std::string& name, Make make) {
  auto answer = make((name = OwnTemporaryName()).c_str());
  for (int attempt = 1; attempt < 100 && NameTaken(answer); ++attempt)
    answer = make((name = OwnTemporaryName()).c_str());
  return answer;
}

}  // namespace vantrel

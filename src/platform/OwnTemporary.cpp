#include "platform/OwnTemporary.h"

#include "text/PathRoutines.h"

#include <random>

namespace vantrel {
namespace {

constexpr std::string_view kNameChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kRandomChars = 8;

}  // namespace

std::string OwnTemporaryName() {
  thread_local std::mt19937 random{std::random_device{}()};
  std::string name(kOwnTemporaryPrefix);
  for (std::size_t i = 0; i < kRandomChars; ++i) name += kNameChars[random() % kNameChars.size()];
  return name;
}

bool IsOwnTemporaryName(std::string_view name) {
  if (name.size() != kOwnTemporaryPrefix.size() + kRandomChars || name.substr(0, kOwnTemporaryPrefix.size()) != kOwnTemporaryPrefix)
    return false;
  for (char c : name.substr(kOwnTemporaryPrefix.size()))
    if (kNameChars.find(c) == std::string_view::npos) return false;
  return true;
}

bool NamesOwnTemporary(std::string_view path) {
  std::size_t slash = LastSeparator(path);
  return IsOwnTemporaryName(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace vantrel

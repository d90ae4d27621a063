#pragma once
// The user's own part of a volume's Recycle Bin, where the shell keeps each
// deleted item as $R… beside the $I… that says where it came from.
#include <string>

namespace vantrel {

// "X:\$Recycle.Bin\SID" for the volume path lies on, whether the shell has
// made it yet or not; empty when the volume or the user cannot be named.
std::string RecycleBinFor(const std::string& path);

}  // namespace vantrel

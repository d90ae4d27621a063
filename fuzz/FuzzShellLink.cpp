// Shortcut files from anywhere: never a read outside the bytes.
#include "text/ShellLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)vantrel::ShortcutTargetOf(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

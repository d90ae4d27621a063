// Tells which ANSI code page this run of the Windows tests had, and fails
// when it is not the one the run was meant to have (VANTREL_EXPECTED_ACP):
// Wine quietly stays on 1252 when the host lacks the locale asked for, and
// the second run would then prove nothing about code page 936.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
  const unsigned acp = ::GetACP();
  std::printf("ANSI code page %u, OEM code page %u\n", acp, ::GetOEMCP());
  const char* expected = std::getenv("VANTREL_EXPECTED_ACP");
  if (!expected || !*expected) {
    std::printf("no VANTREL_EXPECTED_ACP given: nothing to check\n");
    return 77;
  }
  if (std::to_string(acp) != expected) {
    std::printf("expected code page %s\n", expected);
    return 1;
  }
  return 0;
}

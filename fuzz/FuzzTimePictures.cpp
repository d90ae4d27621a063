// The time pictures: any time value and any picture text.
#include "log/FormatTime.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(double)) return 0;
  double time;
  std::memcpy(&time, data, sizeof time);
  std::string_view rest(reinterpret_cast<const char*>(data) + sizeof time, size - sizeof time);
  std::size_t cut = rest.find('\n');
  std::string_view date = rest.substr(0, cut);
  std::string_view clock = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  (void)vantrel::FormatTimePictures(time, date, clock);
  (void)vantrel::FormatTime(time, static_cast<int>(size % 5), static_cast<int>(size % 7), static_cast<int>(size % 3));
  return 0;
}

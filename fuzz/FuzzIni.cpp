// config.ini: any bytes parse, serialise back byte for byte, and take a
// setting without harm.
#include "text/IniFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vantrel::IniDocument doc = vantrel::IniDocument::Parse(bytes);
  if (doc.Serialize() != bytes) std::abort();
  (void)doc.Get("监控设置", "全盘监控");
  doc.Set("日志颜色", " 时间", "255");
  if (doc.Get("日志颜色", "时间") != "255") std::abort();
  return 0;
}

// Fuzzes the text parsers of the platform layer: the settings file (.reg), the device map and
// mountinfo. A settings file that parses must write back to text that parses to the same file.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/device_map_file.h"
#include "platform/mount_info.h"
#include "platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kestrel::RegParseResult parsed = kestrel::ParseRegFile(text);
  if (parsed.file) {
    std::string written = kestrel::SerializeRegFile(*parsed.file);
    kestrel::RegParseResult again = kestrel::ParseRegFile(written);
    if (!again.file || kestrel::SerializeRegFile(*again.file) != written) std::abort();
  }
  kestrel::ParseDeviceMap(text, "/fuzz/devices.conf");
  kestrel::ParseMountInfo(text);
  return 0;
}

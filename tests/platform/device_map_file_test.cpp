#include "platform/device_map_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

bool AnyWarningContains(const DeviceMapFile& map, const std::string& text) {
  for (const std::string& warning : map.warnings) {
    if (warning.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(DeviceMapFileTest, EntriesAndBadLinesWithTheirNumbers) {
  DeviceMapFile map = ParseDeviceMap(
      "# images for the tests\n"              // 1
      "\n"                                    // 2
      "F: /srv/usb.img\n"                     // 3
      "  g:  cards/sd card.img  removable\n"  // 4: relative, with a blank inside
      "disk /srv/sd.img\n"                    // 5
      "disk \"/srv/odd removable\"\n"         // 6: quoted, so not the flag
      "Q /srv/q.img\n"                        // 7: bad: no colon
      "disk\n"                                // 8: bad: no path
      "f: /srv/other.img\n"                   // 9: bad: F given on line 3
      "1: /srv/one.img\n"                     // 10: bad: not a letter
      "H: \"/srv/h.img\" extra\n"             // 11: bad: text after the quoted path
      "disk /srv/last.img removable",         // 12: no final line break
      "/etc/kestrel/devices.conf");

  ASSERT_EQ(map.entries.size(), 5u);
  EXPECT_EQ(map.entries[0].kind, DeviceMapEntry::Kind::kVolume);
  EXPECT_EQ(map.entries[0].letter, 'F');
  EXPECT_EQ(map.entries[0].path, "/srv/usb.img");
  EXPECT_FALSE(map.entries[0].removable);
  EXPECT_EQ(map.entries[0].line, 3);

  EXPECT_EQ(map.entries[1].letter, 'G');
  EXPECT_EQ(map.entries[1].path, "/etc/kestrel/cards/sd card.img");
  EXPECT_TRUE(map.entries[1].removable);

  EXPECT_EQ(map.entries[2].kind, DeviceMapEntry::Kind::kDisk);
  EXPECT_EQ(map.entries[2].path, "/srv/sd.img");
  EXPECT_EQ(map.entries[3].path, "/srv/odd removable");
  EXPECT_FALSE(map.entries[3].removable);
  EXPECT_EQ(map.entries[4].path, "/srv/last.img");
  EXPECT_TRUE(map.entries[4].removable);
  EXPECT_EQ(map.entries[4].line, 12);

  ASSERT_EQ(map.warnings.size(), 5u);
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:7: "));
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:8: no path"));
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:9: letter F: is already given on line 3"));
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:10: "));
  EXPECT_TRUE(AnyWarningContains(map, "devices.conf:11: "));
}

TEST(DeviceMapFileTest, MissingFileWarnsOnlyWhenNamedExplicitly) {
  testing::TempDir dir;
  std::string path = dir / "devices.conf";
  EXPECT_TRUE(ReadDeviceMap(path, false).warnings.empty());
  DeviceMapFile named = ReadDeviceMap(path, true);
  EXPECT_TRUE(named.entries.empty());
  ASSERT_EQ(named.warnings.size(), 1u);
  EXPECT_NE(named.warnings[0].find(path), std::string::npos);

  std::ofstream(path) << "E: e.img\n";
  DeviceMapFile read = ReadDeviceMap(path, true);
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_EQ(read.entries[0].path, dir / "e.img");
}

}  // namespace
}  // namespace kestrel

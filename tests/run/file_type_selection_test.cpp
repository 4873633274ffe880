// The stored selection of file types: defaults, the values that clear types, and saving.
#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "run/file_types.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::TempDir;

TEST(FileTypeSelection, NoSettingsKeySelectsEveryType) {
  TempDir dir;
  SettingsStore store(dir / "registry.reg");
  FileTypeSelection selection;
  selection.LoadFileTypeMask(store);
  EXPECT_EQ(selection.mask, kAllFileTypesMask);
  EXPECT_TRUE(selection.IsTypeSelected(kWmf)) << "types above bit 31";
  EXPECT_TRUE(selection.IsTypeSelected(kZip));
}

TEST(FileTypeSelection, StoredZeroClearsATypeAndMissingValuesSelect) {
  TempDir dir;
  SettingsStore store(dir / "registry.reg");
  ASSERT_TRUE(store.SetByte("XLS", 0));
  ASSERT_TRUE(store.SetByte("Scan File", 0));
  FileTypeSelection selection;
  selection.LoadFileTypeMask(store);
  EXPECT_FALSE(selection.IsTypeSelected(kXls));
  EXPECT_EQ(selection.mask, kAllFileTypesMask & ~TypeBit(kXls));
  EXPECT_EQ(selection.scan_all, 0);

  // Loaded once: later changes of the store come only through Save.
  ASSERT_TRUE(store.SetByte("JPG", 0));
  selection.LoadFileTypeMask(store);
  EXPECT_TRUE(selection.IsTypeSelected(kJpg));
}

TEST(FileTypeSelection, SaveStoresEveryTypeAndScanFile) {
  TempDir dir;
  SettingsStore store(dir / "registry.reg");
  std::array<bool, kFileTypeCount> ticked{};
  ticked[kPng] = true;
  ticked[kZip] = true;
  FileTypeSelection selection;
  selection.SaveFileTypeSelection(store, ticked, false);
  EXPECT_EQ(selection.mask, TypeBit(kPng) | TypeBit(kZip));
  EXPECT_EQ(store.GetByte("PNG"), 1);
  EXPECT_EQ(store.GetByte("GIF"), 0);
  EXPECT_EQ(store.GetByte("Scan File"), 0);

  FileTypeSelection reloaded;
  reloaded.LoadFileTypeMask(store);
  EXPECT_EQ(reloaded.mask, selection.mask);
}

}  // namespace
}  // namespace kestrel

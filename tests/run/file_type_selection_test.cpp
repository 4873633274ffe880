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
  const TypeSet ticked = TypeBit(kPng) | TypeBit(kZip);
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

TEST(TypeSet, HoldsCodesPastSixtyFourWords) {
  TypeSet set = TypeBit(kZip) | TypeBit(64) | TypeBit(TypeSet::kCapacity - 1);
  EXPECT_TRUE(set.Has(kZip));
  EXPECT_TRUE(set.Has(64));
  EXPECT_TRUE(set.Has(TypeSet::kCapacity - 1));
  EXPECT_FALSE(set.Has(0)) << "bit 64 is not bit 0";
  EXPECT_FALSE(set.Has(65));
  EXPECT_FALSE(set.Has(TypeSet::kCapacity)) << "a code past the set is in no set";
  EXPECT_TRUE(set.Intersects(TypeBit(64)));
  EXPECT_FALSE(set.Intersects(TypeBit(kJpg) | TypeBit(128)));
  set.Remove(64);
  EXPECT_EQ(set & ~TypeBit(kZip), TypeBit(TypeSet::kCapacity - 1));
}

TEST(FileTypeSelection, EveryCatalogueTypeIsStoredUnderItsName) {
  TempDir dir;
  SettingsStore store(dir / "registry.reg");
  FileTypeSelection selection;
  selection.SaveFileTypeSelection(store, kAllFileTypesMask & ~TypeBit(kMov), false);
  for (const FileTypeEntry& entry : FileTypeCatalogue()) {
    EXPECT_EQ(store.GetByte(std::string(entry.name)), entry.index == kMov ? 0 : 1) << entry.name;
  }
  // A store written before a type existed leaves the new type selected: its value is missing.
  ASSERT_TRUE(store.SetByte("MOV", 1));
  ASSERT_TRUE(store.DeleteValue("ZIP"));
  FileTypeSelection reloaded;
  reloaded.LoadFileTypeMask(store);
  EXPECT_EQ(reloaded.mask, kAllFileTypesMask);
}

}  // namespace
}  // namespace kestrel

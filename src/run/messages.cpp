#include "run/messages.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kestrel {
namespace {

struct Entry {
  int id;
  std::string_view text;
};

constexpr std::array kTable = {
    Entry{108, "No device connected in the system."},
    Entry{111, "Please select a valid connected device in order to proceed further..."},
    Entry{112, "Recovery process completed successfully."},
    Entry{117, "%s - Copy(%d).%s"},
    Entry{119,
          "File system not found in the selected partition. Please check the partition and try "
          "again.\nIf file system not found, try 'Recover files from partition/disk' option to "
          "recover files."},
    Entry{124, "Unable to create the directory or file in given recovery path."},
    Entry{125,
          "exFAT file system not supported in 'Recover deleted files' option. Try 'Recover files "
          "from partition/disk' option for exFAT File system."},
    Entry{126,
          "Unable to create this file due to invalid recovery path. Please choose valid recovery "
          "path."},
    Entry{127, "Unable to write the file %s. Please check the recovery path and try again."},
    Entry{1090, "Media NOT present !!!\nPlease insert a media and then try again."},
    Entry{1121, "Analyzing Sector:"},
    Entry{1122, "Recovered File(s):"},
    Entry{1142,
          "You had selected same drive for both to save and recover file(s) which is NOT "
          "possible.\nYou have to select some other drive to save the recovered file(s)."},
    Entry{1148, "Unable to read from the drive."},
    Entry{1192,
          "Unable to allocate memory. \nPlease close some of the other application(s) which are "
          "currently running and then try again."},
    Entry{1193,
          "Could not find any valid image/file in the selected folder/partition to "
          "recover.\n\nPossible reasons are:\n 1. All the file(s) may be permanently destroyed.\n "
          "2. The data area may be used by currently present file(s) in the partition.\n 3. "
          "Partition may be full formatted."},
    Entry{1198, "Do you really want to cancel this operation?"},
    Entry{57441, "Not enough free space available to save the recover files in %s"},
    Entry{57511, "Copying the files..."},
    Entry{57519, "Unable to read from the device. Please check the device and try again."},
    Entry{70001, "This File System is not supported"},
    Entry{70002, "Memory allocation error"},
    Entry{70003, "The selected folder was not found on the volume."},
    Entry{70004,
          "Only the free space of a FAT12, FAT16, FAT32, exFAT or NTFS volume can be scanned, and "
          "this source holds none at its start. Scan it whole, or choose one of its volumes."},
    Entry{70005,
          "The free space of this volume cannot be told: its FAT, allocation bitmap or $Bitmap "
          "cannot be read. Scan it whole instead."},
    Entry{70006,
          "Recovery process completed, but %s file(s) could not be written. Each is named with "
          "the reason."},
    Entry{70007,
          "%s is a symbolic link. Recovered files are never written through a link: remove it or "
          "choose another recovery folder."},
    Entry{70008, "The compressed data of this file cannot be decompressed:"},
    Entry{70009, "The image cannot be read: %s."},
    Entry{70020,
          "The unfinished scan in %s cannot be continued: its checkpoint is damaged or was "
          "written by a newer version of Kestrel."},
    Entry{70021,
          "The unfinished scan in %s was of another source, or of other file types or options: "
          "it cannot be continued with this one."},
    Entry{70022, "There is no unfinished scan to continue in %s."},
    Entry{70023,
          "An unfinished scan of this source with these file types is in %s. Do you want to "
          "continue it? (No starts a new scan.)"},
};

}  // namespace

std::string_view MessageText(int id) {
  auto it = std::find_if(kTable.begin(), kTable.end(), [id](const Entry& e) { return e.id == id; });
  return it == kTable.end() ? std::string_view{} : it->text;
}

std::string FormatMessage(int id, std::string_view argument) {
  std::string text(MessageText(id));
  if (auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, argument);
  return text;
}

}  // namespace kestrel

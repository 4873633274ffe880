#pragma once
// Where a run's files go: the day folder below the recovery folder, its creation, and the
// names and attributes of files restored under their own names.

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace kestrel {

class SettingsStore;
class FileTypeSelection;

// "$HOME/Recover": the recovery folder when none is stored.
std::string DefaultRecoveryFolder();

// The stored "Default Folder", or the default when the key or the value is missing. Also reads
// "Scan File" into `selection` when the key exists.
std::string StoredRecoveryFolder(SettingsStore& store, FileTypeSelection* selection);

// What a run takes from the settings where its front end chose nothing: the stored type
// selection when `selection` holds none yet, and the stored "Default Folder" (which also reads
// "Scan File" into `selection`) when `folder` is empty.
void ApplyStoredChoices(SettingsStore& store, FileTypeSelection* selection, std::string* folder);

// `folder` (one trailing "/" removed) + "/MMDDYYYY" of `date`.
std::string DayFolderPath(const std::string& folder, const LocalDate& date);

// The day folder of a run, not created: `folder` (the stored "Default Folder" when empty, which
// also reads "Scan File" into `selection`) + "/MMDDYYYY" of today.
std::string RecoveryFolderPath(SettingsStore& store, FileTypeSelection* selection,
                               const std::string& folder);

// The nearest existing folder at or above `path` (for the same-drive tests made before the day
// folder exists).
std::string ExistingAncestor(std::string path);

// The day folder of a run: `folder` (the stored "Default Folder" when empty, which also reads
// "Scan File" into `selection`) + "/MMDDYYYY" of today. One attempt is made to create it.
std::string MakeRecoveryFolder(SettingsStore& store, FileTypeSelection* selection,
                               const std::string& folder);

// Creates the run folder `path` and its missing parents; then the partial files that ended runs
// left in it are deleted. The run folder itself is never taken through a link. Returns 0, or
// the errno value of the failure (ELOOP: `path` is a symbolic link).
int CreateRunFolder(const std::string& path);

// The file name a restored entry gets: the stored name (the "KES" prefix in front of a leading
// '_'), trimmed, with "." + extension. Empty when nothing is left. The result is always one
// path component: "/" and NUL become "_", and "." or ".." are refused.
std::string RestoredFileName(const std::string& stored_name, const std::string& extension);

// The folder a restored file goes to with the volume's folders kept, relative to the run folder:
// the components of `volume_folder` ("/", "/A/B") each followed by "/" ("A/B/"), "." and ".."
// replaced by "_"; empty for the root.
std::string KeptPathOf(const std::string& volume_folder);

// FAT attribute bits of a restored file open at `fd`: read-only clears the write bits; hidden,
// system and archive go to the user.DOSATTRIB extended attribute where the file system takes it.
void ApplyFatAttributes(int fd, uint8_t attributes);

}  // namespace kestrel

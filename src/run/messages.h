#pragma once
// The core's string table: every text a run shows (messages, progress labels, type
// descriptions), by its id. The window's own labels and notices live with the window.

#include <string>
#include <string_view>

namespace kestrel {

namespace msg {
inline constexpr int kNoDevice = 108;
inline constexpr int kSelectDevice = 111;
inline constexpr int kCompleted = 112;
inline constexpr int kCopyPattern = 117;
inline constexpr int kNoFileSystem = 119;
inline constexpr int kCannotCreateFolder = 124;
inline constexpr int kExfatRefused = 125;
inline constexpr int kInvalidRecoveryPath = 126;
inline constexpr int kWriteFailed = 127;
inline constexpr int kMediaNotPresent = 1090;
inline constexpr int kAnalyzingSector = 1121;
inline constexpr int kRecoveredFiles = 1122;
inline constexpr int kSameDrive = 1142;
inline constexpr int kReadErrorText = 1148;
inline constexpr int kOutOfMemory = 1192;
inline constexpr int kNothingFound = 1193;
inline constexpr int kConfirmCancel = 1198;
inline constexpr int kDiskFull = 57441;
inline constexpr int kCopyingFiles = 57511;
inline constexpr int kCannotReadDevice = 57519;
// Texts shown directly rather than from the string table; their ids lie above its range.
inline constexpr int kFileSystemNotSupported = 70001;
inline constexpr int kMemoryAllocationError = 70002;
inline constexpr int kFolderNotFound = 70003;
inline constexpr int kFreeSpaceNeedsFileSystem = 70004;
inline constexpr int kFreeSpaceUnreadable = 70005;
inline constexpr int kCompletedWithFilesNotWritten = 70006;
inline constexpr int kFolderIsLink = 70007;
inline constexpr int kUndecodableData = 70008;
inline constexpr int kImageUnreadable = 70009;
inline constexpr int kCheckpointUnusable = 70020;
inline constexpr int kCheckpointOfOtherScan = 70021;
inline constexpr int kNoUnfinishedScan = 70022;
inline constexpr int kContinueUnfinishedScan = 70023;
}  // namespace msg

// The text of string `id`, or an empty view for an unknown id.
std::string_view MessageText(int id);

// The text of `id` with its single "%s" replaced by `argument` (texts without "%s" unchanged).
std::string FormatMessage(int id, std::string_view argument);

}  // namespace kestrel

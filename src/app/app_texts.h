#pragma once
// Texts of the window that the core's string table does not hold (labels, help texts, tooltips,
// the window's own messages and notices), and the web addresses of the About box.

#include <QString>
#include <QStringList>

namespace kestrel {

namespace apptext {
// The window's labels, help texts and messages, by their string ids.
inline constexpr int kAppShortName = 104;
inline constexpr int kIntroText = 110;
inline constexpr int kOsNotSupported = 114;
inline constexpr int kScanAllHelp = 115;
inline constexpr int kDpiRefused = 116;
inline constexpr int kSelectedTypesHelp = 120;
inline constexpr int kSelectTypesTitle = 122;
inline constexpr int kSelectAll = 123;
inline constexpr int kManualMissing = 130;
inline constexpr int kCancelBeforeClose = 131;
inline constexpr int kCancelLabel = 1058;
inline constexpr int kRecoverLabel = 1124;
inline constexpr int kOkLabel = 1125;
inline constexpr int kBrowseLabel = 1126;
inline constexpr int kFileTypesLabel = 1140;
inline constexpr int kNoTypeSelected = 1141;
inline constexpr int kAbortLabel = 1150;
inline constexpr int kRetryLabel = 1151;
inline constexpr int kIgnoreLabel = 1152;
inline constexpr int kIgnoreAllLabel = 1153;
inline constexpr int kBuild = 1271;
inline constexpr int kAppTitle = 57344;
inline constexpr int kScanForAllFiles = 57509;
inline constexpr int kScanForSelected = 57510;
inline constexpr int kPartitionModeTip = 128;
inline constexpr int kDeletedModeTip = 129;
inline constexpr int kVendorNotice = 57414;
// The window's own notices; their ids lie above the string table's range.
inline constexpr int kSettingsMovedAside = 71001;
inline constexpr int kNoSourceOffer = 71002;
inline constexpr int kDeviceMapProblems = 71003;
inline constexpr int kAttachRefused = 71004;
inline constexpr int kFolderOnNoVolume = 71005;
inline constexpr int kDiskAccessFailed = 71006;
inline constexpr int kOpenFailed = 71007;
inline constexpr int kFolderNotWritable = 71008;
inline constexpr int kImagesNotAttached = 71009;
inline constexpr int kDisksUnreadableOffer = 71010;
}  // namespace apptext

// The buttons offered after message 108, in this order.
QStringList NoSourceChoices();

// The text of `id` from the window's texts or else from the core's string table; its "%s"
// replaced by `argument`.
QString AppText(int id, const QString& argument = {});

// The About box's addresses (set at build time: KESTREL_SUPPORT_URL, KESTREL_VENDOR_URL).
QString SupportPageUrl();
QString VendorPageUrl();

// "Quillmark Kestrel V3", the caption of every message box.
QString AppTitle();

}  // namespace kestrel

#pragma once
// Texts of the window that the core's string table does not hold (tooltips, the vendor notice,
// the window's own notices), and the web addresses of the About box.

#include <QString>
#include <QStringList>

namespace kestrel {

namespace apptext {
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

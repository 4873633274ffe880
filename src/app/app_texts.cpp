#include "app/app_texts.h"

#include "run/messages.h"

#ifndef KESTREL_SUPPORT_URL
#define KESTREL_SUPPORT_URL "https://kestrel.example.org/support"
#endif
#ifndef KESTREL_VENDOR_URL
#define KESTREL_VENDOR_URL "https://kestrel.example.org/"
#endif

namespace kestrel {
namespace {

const char* WindowText(int id) {
  switch (id) {
    case apptext::kPartitionModeTip:
      return "This option will recover only the supported file types from Partition/Disk "
             "including formatted or deleted partition.";
    case apptext::kDeletedModeTip:
      return "This option will recover the deleted files from the selected folder or partition.";
    case apptext::kVendorNotice:
      return "Kestrel only reads the drive it recovers from; recovered files are written to "
             "the recovery path.";
    case apptext::kSettingsMovedAside:
      return "The settings file was damaged. It was kept as %s and the settings start afresh.";
    case apptext::kNoSourceOffer:
      return "Without disk access Kestrel can read no disk of this computer, and no disk image "
             "was given.\n\nOpen a disk image file, or start Kestrel again with disk access "
             "(the system asks for an administrator's password).";
    case apptext::kDeviceMapProblems:
      return "Some entries of the device map were left out:\n\n%s";
    case apptext::kAttachRefused:
      return "The disk image was not attached: %s.";
    case apptext::kFolderOnNoVolume:
      return "The folder %s lies on no volume Kestrel can read, so its deleted files cannot be "
             "searched.\n\nStart Kestrel with disk access (\"Kestrel with disk access\" in the "
             "applications menu, or kestrel-disk-access), or choose a drive or a disk image.";
    case apptext::kDiskAccessFailed:
      return "Kestrel could not be started with disk access: %s.";
    case apptext::kOpenFailed:
      return "%s could not be opened: the desktop has no program for it.";
    default:
      return nullptr;
  }
}

}  // namespace

QString AppText(int id, const QString& argument) {
  if (const char* text = WindowText(id)) {
    QString result = QString::fromUtf8(text);
    result.replace(QStringLiteral("%s"), argument);
    return result;
  }
  return QString::fromStdString(FormatMessage(id, argument.toStdString()));
}

QStringList NoSourceChoices() {
  return {QStringLiteral("&Open Disk Image..."), QStringLiteral("Restart with &Disk Access"),
          QStringLiteral("&Quit")};
}

QString SupportPageUrl() {
  return QStringLiteral(KESTREL_SUPPORT_URL);
}
QString VendorPageUrl() {
  return QStringLiteral(KESTREL_VENDOR_URL);
}

QString AppTitle() {
  const std::string_view title = MessageText(msg::kAppTitle);
  return QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
}

}  // namespace kestrel

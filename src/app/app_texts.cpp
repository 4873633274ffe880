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
    case apptext::kAppShortName:
      return "Kestrel V3";
    case apptext::kIntroText:
      return "This Windows File Recovery Utility is used to recover files from Internal or "
             "External "
             "Drives.\nSelect the Recovery Mode and click Recover button to start Recovery "
             "Process.";
    case apptext::kOsNotSupported:
      return "Kestrel V3 not supported in current operating system.\n\nMinimum required OS: "
             "Windows "
             "XP";
    case apptext::kScanAllHelp:
      return "\xE2\x80\xA2  If 'Recover deleted files' option is selected, it will recover all the "
             "files including other than below listed files types (i.e it will consider any file "
             "types).\n\xE2\x80\xA2  If 'Recover files from partition/disk' option is selected, it "
             "will recover all the file types listed below. Other than these file types will not "
             "be "
             "recovered.";
    case apptext::kDpiRefused:
      return "This application requires 96 DPI or 120 DPI display settings. Please check the "
             "display "
             "settings and try again.";
    case apptext::kSelectedTypesHelp:
      return "\xE2\x80\xA2  For both 'Recover deleted files' and 'Recover files from "
             "partition/disk' "
             "option, it will recover the selected file types only.";
    case apptext::kSelectTypesTitle:
      return "Select file type(s) to recover";
    case apptext::kSelectAll:
      return "&Select all";
    case apptext::kManualMissing:
      return "Failed to open KestrelV3 user manual. Please install PDF reader to read this user "
             "manual.";
    case apptext::kCancelBeforeClose:
      return "Please cancel the process and then try to close the application.";
    case apptext::kCancelLabel:
      return "&Cancel";
    case apptext::kRecoverLabel:
      return "&Recover";
    case apptext::kOkLabel:
      return "&OK";
    case apptext::kBrowseLabel:
      return "&Browse";
    case apptext::kFileTypesLabel:
      return "File types";
    case apptext::kNoTypeSelected:
      return "You have NOT selected which file type to recover.\nPlease select at least one file "
             "type "
             "in order to proceed with recovery operation.";
    case apptext::kAbortLabel:
      return "&Abort";
    case apptext::kRetryLabel:
      return "&Retry";
    case apptext::kIgnoreLabel:
      return "&Ignore";
    case apptext::kIgnoreAllLabel:
      return "I&gnore All";
    case apptext::kBuild:
      return "Build 05";
    case apptext::kAppTitle:
      return "Quillmark Kestrel V3";
    case apptext::kScanForAllFiles:
      return "Scan for all files";
    case apptext::kScanForSelected:
      return "Scan for the file type selected";
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
      return "Kestrel found no disk it can read, and no disk image to open.\n\nOpen a disk "
             "image file, or start Kestrel again with disk access (the system asks for an "
             "administrator's password).";
    case apptext::kDisksUnreadableOffer:
      return "This computer has disks that Kestrel may not read without disk access:\n%s\n\n"
             "Open a disk image file, or start Kestrel again with disk access (the system asks "
             "for an administrator's password).";
    case apptext::kImagesNotAttached:
      return "These disk images were not attached:\n\n%s";
    case apptext::kDeviceMapProblems:
      return "Some entries of the device map were left out:\n\n%s";
    case apptext::kFolderNotWritable:
      return "Recovered files cannot be saved in %s. Choose another folder.";
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
  return AppText(apptext::kAppTitle);
}

}  // namespace kestrel

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

#include "app/dialog_host.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include "app/app_texts.h"

namespace kestrel {
namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kStop:
      return QMessageBox::Critical;
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageAnswer ShowAppMessage(DialogHost& host, QWidget* parent, int message_id, MessageIcon icon,
                             std::string_view argument, MessageButtons buttons) {
  const QString text = AppText(
      message_id, QString::fromUtf8(argument.data(), static_cast<qsizetype>(argument.size())));
  return host.ShowMessage(parent, message_id, icon, text, buttons);
}

MessageAnswer QtDialogHost::ShowMessage(QWidget* parent, int /*message_id*/, MessageIcon icon,
                                        const QString& text, MessageButtons buttons) {
  QMessageBox box(BoxIcon(icon), AppTitle(), text, QMessageBox::NoButton, parent);
  box.setWindowModality(Qt::ApplicationModal);
  if (buttons == MessageButtons::kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return MessageAnswer::kOk;
}

int QtDialogHost::RunModal(QDialog& dialog) {
  return dialog.exec();
}

QString QtDialogHost::ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

bool QtDialogHost::OpenUrl(const QUrl& url) {
  return QDesktopServices::openUrl(url);
}

}  // namespace kestrel

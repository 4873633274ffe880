#include "app/dialog_host.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

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

QString QtDialogHost::ChooseFile(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getOpenFileName(
      parent, title, start,
      QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.iso *.E01 *.e01 "
                     "*.Ex01 *.001 *.000 *aa);;All files (*)"));
}

std::unique_ptr<QMessageBox> MakeChoiceBox(QWidget* parent, const QString& text,
                                           const QStringList& choices) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, AppTitle(), text,
                                           QMessageBox::NoButton, parent);
  box->setWindowModality(Qt::ApplicationModal);
  for (const QString& choice : choices) box->addButton(choice, QMessageBox::AcceptRole);
  return box;
}

int QtDialogHost::AskChoice(QWidget* parent, const QString& text, const QStringList& choices) {
  std::unique_ptr<QMessageBox> box = MakeChoiceBox(parent, text, choices);
  box->exec();
  const QAbstractButton* clicked = box->clickedButton();
  return clicked != nullptr ? static_cast<int>(choices.indexOf(clicked->text())) : -1;
}

bool QtDialogHost::OpenUrl(const QUrl& url) {
  if (url.isLocalFile() && !DesktopHasHandlerFor(url.toLocalFile())) return false;
  return QDesktopServices::openUrl(url);
}

bool DesktopHasHandlerFor(const QString& path) {
  const QString xdg_mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdg_mime.isEmpty()) return true;
  const QString type = QMimeDatabase().mimeTypeForFile(path).name();
  QProcess query;
  query.start(xdg_mime, {QStringLiteral("query"), QStringLiteral("default"), type});
  if (!query.waitForFinished(5000) || query.exitStatus() != QProcess::NormalExit) return true;
  return !query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace kestrel

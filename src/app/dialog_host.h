#pragma once
// Everything through which the window waits for the user or hands something to the desktop:
// message boxes, modal dialogs, the folder browser and the opening of documents and web pages.
// The program uses QtDialogHost; tests replace it with a scripted host, so that no modal box can
// block a test.

#include <memory>
#include <string_view>

#include <QString>
#include <QStringList>
#include <QUrl>

#include "run/run_ui.h"

class QDialog;
class QMessageBox;
class QWidget;

namespace kestrel {

class DialogHost {
 public:
  virtual ~DialogHost() = default;

  // A message box captioned "Quillmark Kestrel V3" showing `text` (the text of `message_id`).
  virtual MessageAnswer ShowMessage(QWidget* parent, int message_id, MessageIcon icon,
                                    const QString& text, MessageButtons buttons) = 0;
  // Runs `dialog` modally; returns its result (QDialog::Accepted or Rejected).
  virtual int RunModal(QDialog& dialog) = 0;
  // The folder browser; an empty string when the user cancels.
  virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
  // The file browser for a disk image or device; an empty string when the user cancels.
  virtual QString ChooseFile(QWidget* parent, const QString& title, const QString& start) = 0;
  // A box captioned like the messages with one button per choice; the index of the button
  // pressed, -1 when the box is closed without one.
  virtual int AskChoice(QWidget* parent, const QString& text, const QStringList& choices) = 0;
  // Opens a document or a web page with the desktop's handler; false when that fails or when
  // the desktop has no program for a local file's type.
  virtual bool OpenUrl(const QUrl& url) = 0;
};

// Shows message `message_id` (its "%s" replaced by `argument`) through `host`.
MessageAnswer ShowAppMessage(DialogHost& host, QWidget* parent, int message_id, MessageIcon icon,
                             std::string_view argument = {},
                             MessageButtons buttons = MessageButtons::kOk);

class QtDialogHost : public DialogHost {
 public:
  MessageAnswer ShowMessage(QWidget* parent, int message_id, MessageIcon icon, const QString& text,
                            MessageButtons buttons) override;
  int RunModal(QDialog& dialog) override;
  QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) override;
  QString ChooseFile(QWidget* parent, const QString& title, const QString& start) override;
  int AskChoice(QWidget* parent, const QString& text, const QStringList& choices) override;
  bool OpenUrl(const QUrl& url) override;
};

// The box AskChoice shows: `choices` as buttons, in order.
std::unique_ptr<QMessageBox> MakeChoiceBox(QWidget* parent, const QString& text,
                                           const QStringList& choices);

// Whether the desktop names a program for the type of the local file `path` (xdg-mime). When
// xdg-mime itself is missing the desktop is trusted, as QDesktopServices then decides alone.
bool DesktopHasHandlerFor(const QString& path);

}  // namespace kestrel

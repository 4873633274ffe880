#pragma once
// The read-error dialog of a raw scan: the message, and Abort, Retry (the default), Ignore and
// Ignore All. A button stores its choice and closes the dialog; Escape closes it and leaves the
// stored choice as it was, so the object made for a run remembers its answer between showings.

#include <QDialog>

#include "run/run_ui.h"

class QLabel;

namespace kestrel {

class CRetryDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CRetryDlg(QWidget* parent = nullptr);

  void SetText(const QString& text);
  // The stored choice; kNone before the first answer.
  ReadErrorChoice choice() const { return choice_; }

 private:
  void Choose(ReadErrorChoice choice);

  QLabel* text_ = nullptr;
  ReadErrorChoice choice_ = ReadErrorChoice::kNone;
};

}  // namespace kestrel

#include "app/retry_dlg.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/app_texts.h"
#include "app/window_style.h"
#include "run/messages.h"

namespace kestrel {
namespace {

QString Text(int id) {
  return AppText(id);
}

}  // namespace

CRetryDlg::CRetryDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CRetryDlg"));
  setWindowTitle(AppTitle());
  // No close button in the caption: the dialog is left with a button or Escape.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);
  ApplyBackground(this);
  const DialogUnits du(font());
  setFixedSize(du.X(227), du.Y(58));

  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("ctl1132"));
  text_->setGeometry(du.Rect(11, 8, 205, 16));
  text_->setWordWrap(true);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(du.Rect(7, 28, 213, 2));

  struct ButtonSpec {
    int id;
    int x;
    int text_id;
    ReadErrorChoice choice;
  };
  const ButtonSpec buttons[] = {
      {4, 11, apptext::kAbortLabel, ReadErrorChoice::kAbort},
      {1130, 64, apptext::kRetryLabel, ReadErrorChoice::kRetry},
      {1131, 117, apptext::kIgnoreLabel, ReadErrorChoice::kIgnore},
      {3, 170, apptext::kIgnoreAllLabel, ReadErrorChoice::kIgnoreAll},
  };
  for (const ButtonSpec& spec : buttons) {
    auto* button = new QPushButton(Text(spec.text_id), this);
    button->setObjectName(QStringLiteral("ctl%1").arg(spec.id));
    button->setGeometry(du.Rect(spec.x, 36, 48, 14));
    button->setAutoDefault(false);
    if (spec.id == 1130) button->setDefault(true);
    const ReadErrorChoice choice = spec.choice;
    connect(button, &QPushButton::clicked, this, [this, choice] { Choose(choice); });
  }
}

void CRetryDlg::SetText(const QString& text) {
  text_->setText(text);
}

void CRetryDlg::Choose(ReadErrorChoice choice) {
  choice_ = choice;
  accept();
}

}  // namespace kestrel

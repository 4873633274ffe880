#include "app/run_summary.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "app/app_texts.h"
#include "app/dialog_host.h"

namespace kestrel {

QString RunSummaryText(RunOutcome outcome, int kept, const QString& folder) {
  QString text;
  if (outcome == RunOutcome::kCancelled) text = QStringLiteral("Cancelled. ");
  if (outcome == RunOutcome::kAborted) text = QStringLiteral("Aborted. ");
  if (kept == 0) return text + QStringLiteral("No file was kept.");
  text += kept == 1 ? QStringLiteral("1 file kept") : QStringLiteral("%1 files kept").arg(kept);
  if (!folder.isEmpty()) text += QStringLiteral(" in ") + folder;
  return text + QStringLiteral(".");
}

RunSummary::RunSummary(DialogHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName(QStringLiteral("runSummary"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("runSummaryText"));
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text_->setMinimumWidth(1);  // a long folder never widens the window
  open_ = new QPushButton(QStringLiteral("&Open Folder"), this);
  open_->setObjectName(QStringLiteral("openRunFolder"));
  open_->setAutoDefault(false);
  open_->setToolTip(QStringLiteral("Open the folder of the recovered files."));
  layout->addWidget(text_, 1);
  layout->addWidget(open_);
  connect(open_, &QPushButton::clicked, this, &RunSummary::OpenFolder);
  Clear();
}

void RunSummary::ShowRun(RunOutcome outcome, int kept, const QString& folder) {
  if (outcome == RunOutcome::kRefused && kept == 0) {  // the refusal's message says it all
    Clear();
    return;
  }
  folder_ = kept > 0 ? folder : QString();
  text_->setText(RunSummaryText(outcome, kept, folder_));
  text_->setToolTip(folder_);
  open_->setVisible(!folder_.isEmpty());
  text_->show();
}

void RunSummary::Clear() {
  folder_.clear();
  text_->clear();
  open_->hide();
}

void RunSummary::OpenFolder() {
  if (folder_.isEmpty()) return;
  if (!host_.OpenUrl(QUrl::fromLocalFile(folder_))) {
    ShowAppMessage(host_, window(), apptext::kOpenFailed, MessageIcon::kStop,
                   folder_.toStdString());
  }
}

}  // namespace kestrel

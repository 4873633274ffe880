#include "app/recv_page.h"

#include <algorithm>
#include <new>

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/app_texts.h"
#include "app/dialog_host.h"
#include "app/gui_run_ui.h"
#include "app/results_view.h"
#include "app/window_style.h"
#include "run/messages.h"

namespace kestrel {
namespace {

QLabel* NewLabel(QWidget* parent, int id, const QString& text, const QRect& geometry,
                 Qt::Alignment alignment = Qt::AlignLeft) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QStringLiteral("ctl%1").arg(id));
  label->setGeometry(geometry);
  label->setAlignment(alignment | Qt::AlignVCenter);
  return label;
}

QLabel* NewBox(QWidget* parent, int id, const QRect& geometry) {
  QLabel* box = NewLabel(parent, id, QString(), geometry);
  box->setFrameShape(QFrame::Panel);
  box->setFrameShadow(QFrame::Sunken);
  box->setAutoFillBackground(true);
  // White fields under a light palette; the palette's field colour under a dark one.
  box->setBackgroundRole(QPalette::Base);
  SetLightColour(box, QPalette::Base, Qt::white);
  return box;
}

// "100%" as "100 %", so that the percent reads the same during the run and at its end.
QString PercentText(const QString& text) {
  if (text.size() < 2 || !text.endsWith(QLatin1Char('%')) || !text[text.size() - 2].isDigit()) {
    return text;
  }
  return text.chopped(1) + QStringLiteral(" %");
}

}  // namespace

CRecvPage::CRecvPage(RunOwner& owner, ResultsList& results, DialogHost& host, QWidget* parent)
    : QWidget(parent),
      owner_(owner),
      ui_(std::make_unique<GuiRunUi>(*this, results, host)),
      run_(*ui_) {
  setObjectName(QStringLiteral("CRecvPage"));
  ApplyBackground(this);
  BuildControls();
  run_.ClearCancel();
  run_.SetRecoveryRunning(false);
}

CRecvPage::~CRecvPage() = default;

void CRecvPage::BuildControls() {
  const DialogUnits du(font());
  setFixedSize(du.X(253), du.Y(102));

  auto* counters = new QGroupBox(this);
  counters->setGeometry(du.Rect(2, 7, 249, 42));
  auto* progress = new QGroupBox(this);
  progress->setGeometry(du.Rect(2, 49, 249, 35));

  // The boxes reach further left than the template's so that "N of M" fits a large disk.
  sector_label_ =
      NewLabel(this, 1028, AppText(msg::kAnalyzingSector), du.Rect(6, 19, 86, 9), Qt::AlignRight);
  sector_ = NewBox(this, 1029, du.Rect(96, 17, 145, 12));
  count_label_ =
      NewLabel(this, 1030, AppText(msg::kRecoveredFiles), du.Rect(6, 34, 86, 9), Qt::AlignRight);
  count_ = NewBox(this, 1034, du.Rect(96, 33, 145, 12));
  status_ = NewLabel(this, 1040, QString(), du.Rect(8, 56, 180, 9));
  percent_ = NewLabel(this, 1033, QString(), du.Rect(198, 57, 47, 9), Qt::AlignRight);
  speed_ = NewLabel(this, 0, QString(), du.Rect(6, 88, 130, 9));
  speed_->setObjectName(QStringLiteral("speed"));

  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("ctl1035"));
  bar_->setGeometry(du.Rect(6, 70, 240, 10));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);

  file_bar_ = new QProgressBar(this);
  file_bar_->setObjectName(QStringLiteral("ctl1038"));
  file_bar_->setGeometry(du.Rect(103, 56, 142, 9));
  file_bar_->setRange(0, 100);
  file_bar_->setTextVisible(false);
  file_bar_->setEnabled(false);
  file_bar_->hide();

  cancel_ = new QPushButton(AppText(apptext::kCancelLabel), this);
  cancel_->setObjectName(QStringLiteral("ctl1037"));
  cancel_->setGeometry(du.Rect(139, 86, 50, 14));
  cancel_->setAutoDefault(false);
  cancel_->setEnabled(false);
  connect(cancel_, &QPushButton::clicked, this, &CRecvPage::RequestCancel);

  recover_ = new QPushButton(AppText(apptext::kRecoverLabel), this);
  recover_->setObjectName(QStringLiteral("ctl1036"));
  recover_->setGeometry(du.Rect(195, 86, 50, 14));
  recover_->setAutoDefault(false);
  recover_->setToolTip(
      QStringLiteral("Click here to recover files from selected drive or folder."));
  connect(recover_, &QPushButton::clicked, this, &CRecvPage::StartRun);

  sector_->setEnabled(false);
  count_->setEnabled(false);
}

void CRecvPage::RequestCancel() {
  if (run_.recovery_running()) run_.RequestCancel();
}

void CRecvPage::EnterRunningState() {
  owner_.EmptyThumbnail();
  owner_.SetRunControlsEnabled(false);
  recover_->setEnabled(false);
  cancel_->setEnabled(true);
  count_->setEnabled(true);
  bar_->show();
}

void CRecvPage::RestoreIdleState() {
  ui_->EndRun();
  owner_.SetRunControlsEnabled(true);
  recover_->setEnabled(true);
  bar_->hide();
  percent_->clear();
  speed_->clear();
  run_.SetRecoveryRunning(false);
  run_.ClearCancel();
  cancel_->setEnabled(false);
  sector_->show();
  sector_label_->show();
  sector_->setEnabled(false);
  count_->setEnabled(false);
  file_bar_->hide();
}

void CRecvPage::StartRun() {
  // Handlers run while a driver pumps events: a second run must never start inside the first.
  if (run_active_) return;
  run_active_ = true;
  ++runs_started_;
  EnterRunningState();
  ui_->BeginRun();
  ui_->ClearResults();
  run_.SetRunFolder({});  // the folder of an earlier run is not this run's
  try {
    last_result_ = owner_.RunDriver(run_);
  } catch (const std::bad_alloc&) {
    last_result_ = RunResult{RunOutcome::kRefused, run_.recovered_count(), msg::kOutOfMemory};
    run_.ShowMessage(msg::kOutOfMemory, MessageIcon::kStop);
  }
  RestoreIdleState();
  run_active_ = false;
  owner_.RunFinished(last_result_, run_.run_folder());
}

void CRecvPage::SetField(ProgressField field, const QString& text) {
  switch (field) {
    case ProgressField::kCurrentSector:
      sector_->setText(text);
      break;
    case ProgressField::kRecoveredCount:
      count_->setText(text);
      break;
    case ProgressField::kPercent:
      percent_->setText(PercentText(text));
      break;
    case ProgressField::kStatus:
      status_->setText(text);
      break;
  }
}

void CRecvPage::SetSpeed(const QString& text) {
  speed_->setText(text);
}

QString CRecvPage::FieldText(ProgressField field) const {
  switch (field) {
    case ProgressField::kCurrentSector:
      return sector_->text();
    case ProgressField::kRecoveredCount:
      return count_->text();
    case ProgressField::kPercent:
      return percent_->text();
    case ProgressField::kStatus:
      return status_->text();
  }
  return {};
}

void CRecvPage::SetScanFieldsVisible(bool visible) {
  sector_label_->setVisible(visible);
  sector_->setVisible(visible);
  if (visible) {
    for (QWidget* field : {static_cast<QWidget*>(sector_label_), static_cast<QWidget*>(sector_),
                           static_cast<QWidget*>(count_label_), static_cast<QWidget*>(count_)}) {
      field->setEnabled(true);
    }
    percent_->show();
  }
}

void CRecvPage::SetBarRange(uint32_t low, uint32_t high) {
  // An empty range would turn the bar into a busy indicator; it means "nothing to show".
  if (high <= low) {
    bar_->setRange(0, 100);
    bar_->setValue(0);
    return;
  }
  bar_->setRange(static_cast<int>(std::min<uint32_t>(low, INT32_MAX)),
                 static_cast<int>(std::min<uint32_t>(high, INT32_MAX)));
}

void CRecvPage::SetBarPosition(uint32_t position) {
  bar_->setValue(std::clamp(static_cast<int>(std::min<uint32_t>(position, INT32_MAX)),
                            bar_->minimum(), bar_->maximum()));
}

void CRecvPage::StepBar() {
  bar_->setValue(std::min(bar_->value() + 1, bar_->maximum()));
}

void CRecvPage::SetFileBar(uint64_t position, uint64_t range) {
  if (range == 0) {
    file_bar_->setEnabled(false);
    file_bar_->hide();
    return;
  }
  file_bar_->setEnabled(true);
  file_bar_->show();
  file_bar_->setValue(static_cast<int>(std::min<uint64_t>(position * 100 / range, 100)));
}

}  // namespace kestrel

#include "app/gui_run_ui.h"

#include <QCoreApplication>

#include "app/app_texts.h"
#include "app/dialog_host.h"
#include "app/recv_page.h"
#include "app/results_view.h"
#include "app/retry_dlg.h"
#include "platform/number_format.h"
#include "run/messages.h"
#include "run/progress_figures.h"

namespace kestrel {

GuiRunUi::GuiRunUi(CRecvPage& page, ResultsList& results, DialogHost& host)
    : page_(page), results_(results), host_(host) {}

GuiRunUi::~GuiRunUi() = default;

QWidget* GuiRunUi::Window() const {
  return page_.window();
}

void GuiRunUi::BeginRun() {
  retry_.reset();
  pump_throttle_.Reset();
  field_throttle_.Reset();
  dirty_.fill(false);
  progress_ = RunProgress{};
  progress_dirty_ = false;
  started_ = std::chrono::steady_clock::now();
}

void GuiRunUi::EndRun() {
  FlushFields();
}

void GuiRunUi::FlushFields() {
  for (size_t i = 0; i < kFieldCount; ++i) {
    if (!dirty_[i]) continue;
    dirty_[i] = false;
    page_.SetField(static_cast<ProgressField>(i), pending_[i]);
  }
  if (progress_dirty_) {
    progress_dirty_ = false;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    page_.SetSpeed(QString::fromStdString(SpeedAndTimeLeft(progress_, seconds)));
  }
}

QString GuiRunUi::SectorOfTotal(const QString& sector) const {
  if (sector.isEmpty() || progress_.source_sectors == 0) return sector;
  return sector + QStringLiteral(" of ") +
         QString::fromStdString(GroupThousands(progress_.source_sectors));
}

void GuiRunUi::SetFieldText(ProgressField field, const std::string& text) {
  const auto index = static_cast<size_t>(field);
  if (index >= kFieldCount) return;
  pending_[index] = QString::fromStdString(text);
  if (field == ProgressField::kCurrentSector) pending_[index] = SectorOfTotal(pending_[index]);
  dirty_[index] = true;
  if (field_throttle_.Due()) FlushFields();
}

void GuiRunUi::SetScanFieldsVisible(bool visible) {
  page_.SetScanFieldsVisible(visible);
}
void GuiRunUi::SetBarRange(uint32_t low, uint32_t high) {
  page_.SetBarRange(low, high);
}
void GuiRunUi::SetBarPosition(uint32_t position) {
  page_.SetBarPosition(position);
}
void GuiRunUi::StepBar() {
  page_.StepBar();
}
void GuiRunUi::SetFileBar(uint64_t position, uint64_t range) {
  page_.SetFileBar(position, range);
}

void GuiRunUi::ShowProgress(const RunProgress& progress) {
  progress_ = progress;
  progress_dirty_ = true;
}

void GuiRunUi::Repaint() {
  FlushFields();
  page_.repaint();
}

void GuiRunUi::PumpMessages() {
  if (!pump_throttle_.Due()) return;
  FlushFields();
  ++pumps_processed_;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

MessageAnswer GuiRunUi::ShowMessage(int message_id, MessageIcon icon, std::string_view argument,
                                    MessageButtons buttons) {
  FlushFields();
  if (message_id == msg::kCannotCreateFolder && !argument.empty()) {
    // The folder and the system's reason, beside the message's own text.
    const QString text =
        AppText(message_id) + QStringLiteral("\n\n") +
        QString::fromUtf8(argument.data(), static_cast<qsizetype>(argument.size()));
    return host_.ShowMessage(Window(), message_id, icon, text, buttons);
  }
  return ShowAppMessage(host_, Window(), message_id, icon, argument, buttons);
}

ReadErrorChoice GuiRunUi::AskReadError(std::string_view text) {
  FlushFields();
  if (!retry_) retry_ = std::make_unique<CRetryDlg>(Window());
  retry_->SetText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  host_.RunModal(*retry_);
  return retry_->choice();
}

void GuiRunUi::AddResultRow(const ResultRow& row) {
  results_.AddRow(row);
}

void GuiRunUi::ClearResults() {
  results_.Clear();
}

}  // namespace kestrel

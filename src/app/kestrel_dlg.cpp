#include "app/kestrel_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWindow>

#include "app/about_dlg.h"
#include "app/app_texts.h"
#include "app/artwork.h"
#include "app/click_label.h"
#include "app/dialog_host.h"
#include "app/folder_access.h"
#include "app/image_attach.h"
#include "app/options_dlg.h"
#include "app/results_view.h"
#include "app/run_summary.h"
#include "app/source_list.h"
#include "app/user_manual.h"
#include "app/window_style.h"
#include "imaging/placeholder_picture.h"
#include "imaging/thumbnail.h"
#include "output/recovered_output.h"
#include "platform/mount_info.h"
#include "run/messages.h"

namespace kestrel {
namespace {

template <typename Widget>
Widget* Named(Widget* widget, int id) {
  widget->setObjectName(QStringLiteral("ctl%1").arg(id));
  return widget;
}

QLineEdit* ReadOnlyEdit(int id, QWidget* parent) {
  auto* edit = Named(new QLineEdit(parent), id);
  edit->setReadOnly(true);
  edit->setFocusPolicy(Qt::ClickFocus);
  SetLightColour(edit, QPalette::Base, kBackgroundColour);
  return edit;
}

QPushButton* Button(int id, const QString& text, const QString& tip, QWidget* parent) {
  auto* button = Named(new QPushButton(text, parent), id);
  button->setAutoDefault(false);
  button->setToolTip(tip);
  return button;
}

// The local files of a drag, none when it carries anything else.
QStringList DroppedFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    files << url.toLocalFile();
  }
  return files;
}

// A picture drawn at the screen's pixel density, so that it stays sharp at any scale.
QPixmap SharpPixmap(QImage (*draw)(int), int side, qreal ratio) {
  QPixmap pixmap = QPixmap::fromImage(draw(static_cast<int>(side * ratio + 0.5)));
  pixmap.setDevicePixelRatio(ratio);
  return pixmap;
}

bool IsEnter(const QKeyEvent* key) {
  return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

bool IsEnterOrEscape(const QKeyEvent* key) {
  return IsEnter(key) || key->key() == Qt::Key_Escape;
}

}  // namespace

CKestrelDlg::CKestrelDlg(AppState& app, const SpecialFolders& specials, QWidget* parent)
    : QWidget(parent), app_(app), specials_(specials) {
  setObjectName(QStringLiteral("CKestrelDlg"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  ApplyBackground(this);
  BuildControls();

  deleted_mode_->setChecked(true);
  setWindowTitle(AppTitle() + QStringLiteral(" ") + AppText(apptext::kBuild));
  FillSources();
  EnterMode(RecoveryMode::kDeletedFiles);
  LoadSettings();
  ShowDeviceMapWarnings();
  setAcceptDrops(true);

  // Enter and Escape never close the window; Enter presses only the focused button (or opens
  // the focused results row); presses on the thumbnail are dropped. The filter sits on the
  // application so that it sees the keys of every child.
  qApp->installEventFilter(this);
  thumbnail_->viewport()->installEventFilter(this);
  const QScreen* screen = QGuiApplication::primaryScreen();
  FitToScreen(screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1 << 14, 1 << 14));
}

CKestrelDlg::~CKestrelDlg() {
  qApp->removeEventFilter(this);
}

void CKestrelDlg::BuildControls() {
  // Everything lies on one surface inside a frameless scroll area, which shows scroll bars only
  // when the screen is too small for the window.
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);
  scroll_->setWidgetResizable(true);
  scroll_->viewport()->setBackgroundRole(QPalette::Window);
  content_ = new QWidget(scroll_);
  content_->setBackgroundRole(QPalette::Window);
  scroll_->setWidget(content_);
  outer->addWidget(scroll_);
  auto* layout = new QVBoxLayout(content_);
  layout->setContentsMargins(10, 8, 10, 6);
  layout->setSpacing(6);
  layout->addWidget(BuildTopRow());
  layout->addWidget(BuildModeRow());
  layout->addWidget(BuildSourceRow());
  layout->addWidget(BuildResultsRow(), 1);
  auto* notice = Named(new QLabel(AppText(apptext::kVendorNotice), content_), 1298);
  notice->setAlignment(Qt::AlignCenter);
  SetLightColour(notice, QPalette::WindowText, QColor(90, 90, 90));
  layout->addWidget(notice);
}

QWidget* CKestrelDlg::BuildTopRow() {
  auto* row = new QWidget(content_);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  intro_ = Named(new QLabel(AppText(apptext::kIntroText), row), 1297);
  intro_->setWordWrap(true);
  layout->addWidget(intro_, 1);

  auto picture_column = [&](ClickLabel*& picture, QLabel*& label, int picture_id, int label_id,
                            QImage (*draw)(int), const QString& text, const QString& tip) {
    auto* column = new QVBoxLayout;
    column->setSpacing(1);
    picture = Named(new ClickLabel(row), picture_id);
    picture->setPixmap(SharpPixmap(draw, 32, devicePixelRatioF()));
    picture->setAlignment(Qt::AlignCenter);
    picture->setToolTip(tip);
    label = Named(new QLabel(text, row), label_id);
    label->setAlignment(Qt::AlignCenter);
    column->addWidget(picture);
    column->addWidget(label);
    layout->addSpacing(8);
    layout->addLayout(column);
  };
  picture_column(about_, about_label_, 1300, 1306, DrawAboutPicture, QStringLiteral("About"),
                 QStringLiteral("About Kestrel V3"));
  picture_column(help_, help_label_, 1303, 1311, DrawHelpPicture, QStringLiteral("Help"),
                 QStringLiteral("Click here to launch the user manual."));
  connect(about_, &ClickLabel::clicked, this, &CKestrelDlg::OpenAbout);
  connect(help_, &ClickLabel::clicked, this, &CKestrelDlg::OpenHelp);
  connect(about_, &ClickLabel::hovered, this, &CKestrelDlg::HoverAbout);
  connect(help_, &ClickLabel::hovered, this, &CKestrelDlg::HoverHelp);
  return row;
}

QWidget* CKestrelDlg::BuildModeRow() {
  auto* row = new QWidget(content_);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);

  auto* mode_frame = Named(new QGroupBox(QStringLiteral("Recovery Mode"), row), 1299);
  auto* modes = new QVBoxLayout(mode_frame);
  deleted_mode_ =
      Named(new QRadioButton(QStringLiteral("Recover &deleted files"), mode_frame), 1304);
  deleted_mode_->setToolTip(AppText(apptext::kDeletedModeTip));
  disk_mode_ = Named(
      new QRadioButton(QStringLiteral("Recover files from &partition/disk"), mode_frame), 1305);
  disk_mode_->setToolTip(AppText(apptext::kPartitionModeTip));
  modes->addWidget(deleted_mode_);
  modes->addWidget(disk_mode_);
  modes->addStretch(1);
  connect(deleted_mode_, &QRadioButton::clicked, this,
          [this] { EnterMode(RecoveryMode::kDeletedFiles); });
  connect(disk_mode_, &QRadioButton::clicked, this,
          [this] { EnterMode(RecoveryMode::kPartitionDisk); });

  auto* path_frame =
      Named(new QGroupBox(QStringLiteral("Recovery Path and File Types Selection"), row), 1308);
  auto* grid = new QGridLayout(path_frame);
  grid->addWidget(
      Named(new QLabel(QStringLiteral("Path for saving recovered files:"), path_frame), 1301), 0, 0,
      1, 2);
  recovery_path_ = ReadOnlyEdit(1307, path_frame);
  grid->addWidget(recovery_path_, 1, 0);
  browse_ = Button(1289, AppText(apptext::kBrowseLabel),
                   QStringLiteral("Click here to select a folder to save the recovered files."),
                   path_frame);
  grid->addWidget(browse_, 1, 1);
  file_type_label_ = Named(new QLabel(QStringLiteral("File Type Selection:"), path_frame), 1302);
  grid->addWidget(file_type_label_, 2, 0, Qt::AlignRight);
  file_types_ =
      Button(1288, QStringLiteral("&File Types"),
             QStringLiteral("Click here to select the file type(s) to recover."), path_frame);
  grid->addWidget(file_types_, 2, 1);
  grid->setColumnStretch(0, 1);
  connect(browse_, &QPushButton::clicked, this, &CKestrelDlg::ChooseRecoveryPath);
  connect(file_types_, &QPushButton::clicked, this, &CKestrelDlg::OpenFileTypes);

  layout->addWidget(mode_frame, 2);
  layout->addWidget(path_frame, 3);
  return row;
}

QWidget* CKestrelDlg::BuildSourceRow() {
  auto* row = new QWidget(content_);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);

  source_frame_ = Named(new QGroupBox(QStringLiteral("Select a partition"), row), 1280);
  auto* sources = new QVBoxLayout(source_frame_);
  tree_ = new SourceTree(source_frame_);
  list_ = new SourceList(source_frame_);
  tree_->hide();
  list_->hide();
  sources->addWidget(tree_);
  sources->addWidget(list_);
  attach_ = Button(0, QStringLiteral("Open Disk &Image..."),
                   QStringLiteral("Attach a disk image file or a device as one more disk. A file "
                                  "dropped onto the window is attached too."),
                   source_frame_);
  attach_->setObjectName(QStringLiteral("attachImage"));
  sources->addWidget(attach_, 0, Qt::AlignLeft);
  connect(attach_, &QPushButton::clicked, this, &CKestrelDlg::OpenAttachDialog);
  connect(tree_, &SourceTree::SourceSelected, this, &CKestrelDlg::OnTreeSelection);
  connect(list_, &SourceList::SourceSelected, this, &CKestrelDlg::OnListSelection);

  results_ = new ResultsList(content_);
  thumbnail_ = new ThumbnailView(content_);

  auto* page_frame = Named(new QGroupBox(row), 1279);
  auto* page_layout = new QVBoxLayout(page_frame);
  auto* selected_row = new QHBoxLayout;
  selected_label_ = Named(new QLabel(QStringLiteral("Selected Folder:"), page_frame), 1314);
  selected_source_ = ReadOnlyEdit(1315, page_frame);
  selected_row->addWidget(selected_label_);
  selected_row->addWidget(selected_source_, 1);
  page_layout->addLayout(selected_row);
  auto* placeholder = Named(new QLabel(page_frame), 1000);
  placeholder->setFixedSize(0, 0);
  placeholder->hide();
  page_ = new CRecvPage(*this, *results_, app_.host, page_frame);
  page_layout->addWidget(page_, 0, Qt::AlignHCenter);

  layout->addWidget(source_frame_, 1);
  layout->addWidget(page_frame, 0);
  return row;
}

QWidget* CKestrelDlg::BuildResultsRow() {
  auto* row = new QWidget(content_);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);

  auto* results_frame = Named(new QGroupBox(QStringLiteral("Recovered Files"), row), 1310);
  auto* results_layout = new QVBoxLayout(results_frame);
  results_->setParent(results_frame);
  results_->setMinimumHeight(150);
  // Tab leaves the list for the next control instead of walking its cells.
  results_->setTabKeyNavigation(false);
  results_layout->addWidget(results_);
  summary_ = new RunSummary(app_.host, results_frame);
  results_layout->addWidget(summary_);
  connect(results_, &QTableWidget::itemSelectionChanged, this, &CKestrelDlg::PreviewSelectedRow);
  connect(results_, &ResultsList::Cleared, this, [this] {
    last_previewed_row_ = -1;
    summary_->Clear();
  });
  connect(results_, &ResultsList::Sorted, this,
          [this] { last_previewed_row_ = results_->SelectedRow(); });
  connect(results_, &QTableWidget::cellDoubleClicked, this,
          [this](int clicked, int) { OpenResultFile(clicked); });
  connect(results_, &QWidget::customContextMenuRequested, this, &CKestrelDlg::ShowResultsMenu);

  auto* thumbnail_frame = Named(new QGroupBox(QStringLiteral("Thumbnail View"), row), 1281);
  auto* thumbnail_layout = new QVBoxLayout(thumbnail_frame);
  thumbnail_->setParent(thumbnail_frame);
  thumbnail_->setFixedSize(kThumbnailSide + 16, kThumbnailSide + 16);
  thumbnail_layout->addWidget(thumbnail_, 0, Qt::AlignCenter);
  thumbnail_frame->setFixedWidth(kThumbnailSide + 40);

  layout->addWidget(results_frame, 1);
  layout->addWidget(thumbnail_frame, 0);
  return row;
}

void CKestrelDlg::LoadSettings() {
  SettingsStore& settings = app_.settings;
  if (!settings.KeyExists() && !settings.CreateKey()) {
    recovery_path_->clear();  // runs use the default folder
    return;
  }
  const std::string folder = settings.GetString("Default Folder").value_or(DefaultRecoveryFolder());
  if (!settings.GetByte("Scan File")) settings.SetByte("Scan File", 1);
  recovery_path_->setText(QString::fromStdString(folder));
  const std::string moved_to = settings.TakeCorruptionNotice();
  if (!moved_to.empty()) {
    ShowAppMessage(app_.host, this, apptext::kSettingsMovedAside, MessageIcon::kInformation,
                   moved_to);
  }
}

void CKestrelDlg::ShowDeviceMapWarnings() {
  if (app_.devices.warnings.empty()) return;
  QStringList lines;
  for (const std::string& warning : app_.devices.warnings) lines << QString::fromStdString(warning);
  app_.devices.warnings.clear();  // each problem is shown once
  ShowAppMessage(app_.host, this, apptext::kDeviceMapProblems, MessageIcon::kInformation,
                 lines.join(QStringLiteral("\n")).toStdString());
}

void CKestrelDlg::FillSources() {
  list_->Fill(app_.devices);
  tree_->Fill(app_.devices, specials_, ReadMountInfo());
}

void CKestrelDlg::SelectDisk(int ordinal) {
  const PhysicalDiskEntry* disk = app_.devices.FindDisk(ordinal);
  if (disk == nullptr) return;
  list_->setCurrentRow(list_->header_row() + 1 + ordinal);
  if (!disk->volume_letters.empty()) {
    if (QTreeWidgetItem* drive = tree_->DriveItem(disk->volume_letters.front())) {
      tree_->setCurrentItem(drive);
    }
  }
  EnterMode(app_.recovery_mode);
}

bool CKestrelDlg::AttachImagePath(const QString& path) {
  if (RunInProgress()) return false;
  const std::string refusal = AttachImage(&app_.devices, path.toStdString());
  if (!refusal.empty()) {
    ShowAppMessage(app_.host, this, apptext::kAttachRefused, MessageIcon::kStop, refusal);
    ShowDeviceMapWarnings();
    return false;
  }
  FillSources();
  SelectDisk(static_cast<int>(app_.devices.disks.size()) - 1);
  ShowDeviceMapWarnings();
  return true;
}

void CKestrelDlg::OpenAttachDialog() {
  if (RunInProgress()) return;
  const QString path =
      app_.host.ChooseFile(this, QStringLiteral("Open a disk image"), QDir::homePath());
  if (!path.isEmpty()) AttachImagePath(path);
}

void CKestrelDlg::BringToFront(const QStringList& images) {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
  for (const QString& image : images) AttachImagePath(image);
}

void CKestrelDlg::OpenResultFile(int row) {
  const ResultsList::RowFile file = results_->FileOfRow(row);
  if (!file.created) return;
  if (!app_.host.OpenUrl(QUrl::fromLocalFile(file.path))) {
    ShowAppMessage(app_.host, this, apptext::kOpenFailed, MessageIcon::kStop,
                   file.path.toStdString());
  }
}

void CKestrelDlg::OpenResultFolder(int row) {
  const ResultsList::RowFile file = results_->FileOfRow(row);
  if (!file.created) return;
  const QString folder = QFileInfo(file.path).absolutePath();
  if (!app_.host.OpenUrl(QUrl::fromLocalFile(folder))) {
    ShowAppMessage(app_.host, this, apptext::kOpenFailed, MessageIcon::kStop, folder.toStdString());
  }
}

void CKestrelDlg::ShowResultsMenu(const QPoint& at) {
  const int row = results_->rowAt(at.y());
  if (row < 0 || !results_->FileOfRow(row).created) return;
  QMenu menu(this);
  menu.addAction(QStringLiteral("&Open"), this, [this, row] { OpenResultFile(row); });
  menu.addAction(QStringLiteral("Open Containing &Folder"), this,
                 [this, row] { OpenResultFolder(row); });
  menu.exec(results_->viewport()->mapToGlobal(at));
}

void CKestrelDlg::FitToScreen(const QRect& available) {
  // Room for the window's frame and caption, which the window manager adds.
  const QSize room = available.size() - QSize(16, 40);
  const QSize wanted = content_->sizeHint();
  if (wanted.width() <= room.width() && wanted.height() <= room.height()) {
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFixedSize(wanted);
    return;
  }
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setMinimumSize(QSize(320, 240).boundedTo(room));
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  resize(wanted.boundedTo(room));
}

void CKestrelDlg::EnterMode(RecoveryMode mode) {
  if (RunInProgress()) return;
  app_.recovery_mode = mode;
  // Tab stops at the chosen mode only, in both directions; the mnemonics choose either.
  const bool deleted = mode == RecoveryMode::kDeletedFiles;
  deleted_mode_->setFocusPolicy(deleted ? Qt::StrongFocus : Qt::ClickFocus);
  disk_mode_->setFocusPolicy(deleted ? Qt::ClickFocus : Qt::StrongFocus);
  if (mode == RecoveryMode::kDeletedFiles) {
    deleted_mode_->setChecked(true);
    list_->hide();
    list_->clearFocus();  // the group's mnemonic then focuses the tree
    tree_->show();
    source_frame_->setTitle(QStringLiteral("&Select a folder"));
    selected_label_->setText(QStringLiteral("Selected Folder:"));
    QTreeWidgetItem* item = tree_->selected_item();
    ShowSelectedSource(item != nullptr ? tree_->ItemPath(item) : QString());
  } else {
    disk_mode_->setChecked(true);
    tree_->hide();
    tree_->clearFocus();
    list_->show();
    file_type_label_->setEnabled(true);
    file_types_->setEnabled(true);
    source_frame_->setTitle(QStringLiteral("&Select a Partition/Drive"));
    selected_label_->setText(QStringLiteral("Selected Partition/Drive:"));
    ShowSelectedSource(list_->TextOfRow(list_->selection_mark()));
  }
}

void CKestrelDlg::ShowSelectedSource(const QString& text) {
  app_.selected_source_text = text.toStdString();
  selected_source_->setText(text);
  selected_source_->setCursorPosition(0);
}

void CKestrelDlg::OnTreeSelection(const QString& path) {
  if (app_.recovery_mode == RecoveryMode::kDeletedFiles) ShowSelectedSource(path);
}

void CKestrelDlg::OnListSelection(const QString& text) {
  if (app_.recovery_mode == RecoveryMode::kPartitionDisk) ShowSelectedSource(text);
}

void CKestrelDlg::ChooseRecoveryPath() {
  if (RunInProgress()) return;
  const QString chosen = app_.host.ChooseFolder(
      this, QStringLiteral("Select a folder/drive for saving recovery files"),
      recovery_path_->text());
  if (chosen.isEmpty()) return;
  const std::string problem = FolderWriteProblem(chosen.toStdString());
  if (!problem.empty()) {
    ShowAppMessage(app_.host, this, apptext::kFolderNotWritable, MessageIcon::kStop,
                   chosen.toStdString() + " (" + problem + ")");
    return;
  }
  recovery_path_->setText(chosen);
  app_.settings.SetString("Default Folder", chosen.toStdString());
}

void CKestrelDlg::OpenFileTypes() {
  if (RunInProgress()) return;
  COptionsDlg dialog(app_.settings, app_.types, app_.host, this);
  app_.host.RunModal(dialog);
}

void CKestrelDlg::OpenAbout() {
  if (RunInProgress()) return;
  CAboutDlg dialog(app_.host, this);
  app_.host.RunModal(dialog);
}

void CKestrelDlg::OpenHelp() {
  if (!OpenUserManual(app_.host)) {
    ShowAppMessage(app_.host, this, apptext::kManualMissing, MessageIcon::kStop);
  }
}

bool CKestrelDlg::RunInProgress() const {
  return page_->run_active() || page_->recovery_running();
}

void CKestrelDlg::SetRunControlsEnabled(bool enabled) {
  for (QWidget* control : {static_cast<QWidget*>(browse_), static_cast<QWidget*>(tree_),
                           static_cast<QWidget*>(list_), static_cast<QWidget*>(file_types_),
                           static_cast<QWidget*>(deleted_mode_), static_cast<QWidget*>(disk_mode_),
                           static_cast<QWidget*>(thumbnail_), static_cast<QWidget*>(attach_)}) {
    control->setEnabled(enabled);
  }
}

void CKestrelDlg::EmptyThumbnail() {
  thumbnail_->Empty();
}

RunResult CKestrelDlg::RunDriver(RunContext& run) {
  RunSelection selection;
  selection.mode = app_.recovery_mode;
  selection.tree = tree_->SourceOf(tree_->selected_item());
  selection.volume = list_->SelectedVolume(app_.devices);
  selection.disk = list_->SelectedDisk(app_.devices);
  return LaunchRun(run, app_, selection, wrap_source_);
}

void CKestrelDlg::RunFinished(const RunResult& result, const std::string& run_folder) {
  int kept = 0;
  for (int row = 0; row < results_->rowCount(); ++row) {
    if (results_->FileOfRow(row).created) ++kept;
  }
  summary_->ShowRun(result.outcome, kept, QString::fromStdString(run_folder));
}

void CKestrelDlg::PreviewSelectedRow() {
  const int row = results_->SelectedRow();
  if (row < 0 || row == last_previewed_row_) return;
  last_previewed_row_ = row;
  const ResultsList::RowFile file = results_->FileOfRow(row);
  const PictureFormat format = PictureFormatForName(file.name.toStdString());
  thumbnail_->ShowPicture(file.created ? MakeThumbnail(file.path, format) : PlaceholderPicture());
}

void CKestrelDlg::HoverAbout(bool inside) {
  const bool active = inside && !RunInProgress();
  about_->setCursor(active ? Qt::PointingHandCursor : Qt::ArrowCursor);
  about_label_->setFont(active ? Underlined(font()) : font());
  if (!inside) help_label_->setFont(font());
}

void CKestrelDlg::HoverHelp(bool inside) {
  help_->setCursor(Qt::PointingHandCursor);
  help_label_->setFont(inside ? Underlined(font()) : font());
  if (!inside) about_label_->setFont(font());
}

void CKestrelDlg::closeEvent(QCloseEvent* event) {
  if (RunInProgress()) {
    event->ignore();
    ShowAppMessage(app_.host, this, apptext::kCancelBeforeClose, MessageIcon::kNone);
    return;
  }
  event->accept();
}

void CKestrelDlg::mousePressEvent(QMouseEvent* event) {
  // The window's own surface moves the window, as its caption does.
  if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
    windowHandle()->startSystemMove();
    return;
  }
  QWidget::mousePressEvent(event);
}

void CKestrelDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!RunInProgress() && !DroppedFiles(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void CKestrelDlg::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedFiles(event->mimeData());
  if (RunInProgress() || files.isEmpty()) return;
  event->acceptProposedAction();
  for (const QString& file : files) AttachImagePath(file);
}

void CKestrelDlg::PressFocused(QWidget* focused) {
  if (auto* button = qobject_cast<QAbstractButton*>(focused)) {
    if (button->isEnabled()) button->click();
  } else if (focused == results_ && results_->currentRow() >= 0) {
    OpenResultFile(results_->currentRow());
  }
}

bool CKestrelDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
    auto* widget = qobject_cast<QWidget*>(watched);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (widget != nullptr && widget->window() == this && IsEnterOrEscape(key)) {
      if (event->type() == QEvent::KeyPress && IsEnter(key) && !key->isAutoRepeat()) {
        PressFocused(widget);
      }
      event->accept();
      return true;
    }
  }
  if (watched == thumbnail_->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kestrel

#pragma once
// The main window (template 102): the recovery mode, the source, the recovery path and the file
// types, the progress page with Recover and Cancel, the recovered files with a thumbnail of the
// selected one, and the About box and the user manual.

#include <QWidget>

#include "app/app_state.h"
#include "app/recv_page.h"
#include "app/run_launcher.h"
#include "app/source_tree.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;

namespace kestrel {

class ClickLabel;
class ResultsList;
class RunSummary;
class SourceList;
class ThumbnailView;

class CKestrelDlg : public QWidget, public RunOwner {
  Q_OBJECT

 public:
  CKestrelDlg(AppState& app, const SpecialFolders& specials, QWidget* parent = nullptr);
  ~CKestrelDlg() override;

  // The handlers of the window's controls.
  void EnterMode(RecoveryMode mode);
  void ChooseRecoveryPath();
  void OpenFileTypes();
  void OpenAbout();
  void OpenHelp();
  // Attaches a disk image or device as one more disk of the sources; false, with a message,
  // when it cannot be read.
  bool AttachImagePath(const QString& path);
  // The file browser for an image to attach.
  void OpenAttachDialog();
  // A second start asked for the window: to the front, with its images attached.
  void BringToFront(const QStringList& images);
  // The recovered file of a results row with the desktop's program, or the folder it is in.
  void OpenResultFile(int row);
  void OpenResultFolder(int row);
  // Keeps the window inside `available`: a fixed size when it fits, else resizable, with
  // scroll bars for what does not fit.
  void FitToScreen(const QRect& available);

  // A run in progress: the page's run, or a driver that has its run folder.
  bool RunInProgress() const;

  CRecvPage* page() const { return page_; }
  SourceTree* tree() const { return tree_; }
  SourceList* source_list() const { return list_; }
  ResultsList* results() const { return results_; }
  ThumbnailView* thumbnail() const { return thumbnail_; }
  RunSummary* run_summary() const { return summary_; }
  AppState& app() { return app_; }
  // Wraps the source of every raw scan (fault injection in tests).
  void SetSourceWrapper(SourceWrapper wrapper) { wrap_source_ = std::move(wrapper); }

  // RunOwner
  void SetRunControlsEnabled(bool enabled) override;
  void EmptyThumbnail() override;
  RunResult RunDriver(RunContext& run) override;
  void RunFinished(const RunResult& result, const std::string& run_folder) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildTopRow();
  QWidget* BuildModeRow();
  QWidget* BuildSourceRow();
  QWidget* BuildResultsRow();
  void LoadSettings();
  void ShowDeviceMapWarnings();
  void FillSources();
  void SelectDisk(int ordinal);
  void ShowResultsMenu(const QPoint& at);
  void ShowSelectedSource(const QString& text);
  void OnTreeSelection(const QString& path);
  void OnListSelection(const QString& text);
  void PreviewSelectedRow();
  void HoverAbout(bool inside);
  void HoverHelp(bool inside);
  // Enter on a button presses it; on the results list it opens the current row's file.
  void PressFocused(QWidget* focused);

  AppState& app_;
  SpecialFolders specials_;
  SourceWrapper wrap_source_;
  int last_previewed_row_ = -1;

  QLabel* intro_ = nullptr;               // 1297
  QRadioButton* deleted_mode_ = nullptr;  // 1304
  QRadioButton* disk_mode_ = nullptr;     // 1305
  QLineEdit* recovery_path_ = nullptr;    // 1307
  QPushButton* browse_ = nullptr;         // 1289
  QLabel* file_type_label_ = nullptr;     // 1302
  QPushButton* file_types_ = nullptr;     // 1288
  QGroupBox* source_frame_ = nullptr;     // 1280
  SourceTree* tree_ = nullptr;            // 1313
  SourceList* list_ = nullptr;            // 1002
  QLabel* selected_label_ = nullptr;      // 1314
  QLineEdit* selected_source_ = nullptr;  // 1315
  QPushButton* attach_ = nullptr;         // attaches a disk image
  QScrollArea* scroll_ = nullptr;
  QWidget* content_ = nullptr;
  CRecvPage* page_ = nullptr;
  ResultsList* results_ = nullptr;      // 1309
  ThumbnailView* thumbnail_ = nullptr;  // 1312
  RunSummary* summary_ = nullptr;       // files kept by the last run, and where
  ClickLabel* about_ = nullptr;         // 1300
  QLabel* about_label_ = nullptr;       // 1306
  ClickLabel* help_ = nullptr;          // 1303
  QLabel* help_label_ = nullptr;        // 1311
};

}  // namespace kestrel

// Runs started from the window: results and closing messages, Cancel, the read-error dialog,
// what the window refuses while a run pumps events, and sources that vanished.

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <set>

#include "app/app_test_support.h"
#include "app/app_texts.h"
#include "app/gui_run_ui.h"
#include "app/pump_throttle.h"
#include "app/results_view.h"
#include "app/retry_dlg.h"
#include "app/run_summary.h"
#include "app/source_list.h"
#include "app/source_tree.h"
#include "imaging/placeholder_picture.h"
#include "platform/settings_store.h"
#include "recover/deleted_recovery.h"
#include "run/messages.h"
#include "sources/scan_source.h"
#include "support/fake_run_ui.h"
#include "support/fat_image.h"
#include "support/fixture_samples.h"

namespace kestrel {

using testing::Control;
using testing::WindowFixture;

namespace {

// A window in mode 2 with the sample image selected as a whole disk.
CKestrelDlg& OpenOnSampleDisk(WindowFixture& fixture, const char* image = "samples.img") {
  fixture.AttachDisk(image);
  testing::WriteEmptyImage(fixture.PathStd("blank.img"));
  fixture.AttachVolume('F', "blank.img");
  CKestrelDlg& window = fixture.OpenWindow();
  window.EnterMode(RecoveryMode::kPartitionDisk);
  window.source_list()->setCurrentRow(window.source_list()->header_row() + 1);
  return window;
}

QStringList RowNames(ResultsList* results) {
  QStringList names;
  for (int row = 0; row < results->rowCount(); ++row) names << results->FileOfRow(row).name;
  return names;
}

// The page and the window are idle: Recover on, Cancel off, controls on, bar hidden.
bool PageIsIdle(CKestrelDlg& window) {
  CRecvPage* page = window.page();
  return !page->run_active() && !page->recovery_running() &&
         Control<QPushButton>(page, 1036)->isEnabled() &&
         !Control<QPushButton>(page, 1037)->isEnabled() &&
         Control<QProgressBar>(page, 1035)->isHidden() &&
         Control<QLabel>(page, 1033)->text().isEmpty() &&
         Control<QWidget>(&window, 1289)->isEnabled() &&
         Control<QWidget>(&window, 1288)->isEnabled() &&
         Control<QWidget>(&window, 1304)->isEnabled() &&
         Control<QWidget>(&window, 1305)->isEnabled() &&
         Control<QWidget>(&window, 1002)->isEnabled() &&
         Control<QWidget>(&window, 1313)->isEnabled();
}

// Clicks the dialog's button `id` (or presses Escape for id 0) and returns the dialog's result.
int Answer(QDialog& dialog, int id) {
  if (id == 0) {
    QTest::keyClick(&dialog, Qt::Key_Escape);
  } else {
    Control<QPushButton>(&dialog, id)->click();
  }
  return dialog.result();
}

std::unique_ptr<ByteSource> FailingChunks(std::unique_ptr<ByteSource> inner, int times) {
  auto faulty = std::make_unique<FaultInjectingSource>(std::move(inner));
  faulty->FailSectors(64, 8, times);   // the second chunk
  faulty->FailSectors(192, 8, times);  // the fourth chunk
  return faulty;
}

}  // namespace

// What a listing run (`kestrel-cli deleted IMAGE --list --folder FOLDER`) lists.
std::vector<DeletedFileListing> ListDeleted(WindowFixture& fixture, const std::string& image,
                                            const std::string& folder) {
  testing::FakeRunUi ui;
  RunContext run(ui);
  DeletedPlan plan;
  plan.types.mask = kAllFileTypesMask;
  plan.types.scan_all = 1;
  plan.source.path = fixture.PathStd(image);
  plan.folder = folder;
  plan.recovery_folder = fixture.PathStd("unused");
  std::vector<DeletedFileListing> listing;
  plan.options.listing = &listing;
  RecoverDeletedFiles(run, plan);
  return listing;
}

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  void RecoverListsTheFilesAndCompletes() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    Control<QPushButton>(window.page(), 1036)->click();

    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCompleted});
    QCOMPARE(window.page()->last_result().outcome, RunOutcome::kCompleted);
    QCOMPARE(RowNames(window.results()),
             (QStringList{"KES00001.PNG", "KES00001.GIF", "KES00001.JPG"}));
    ResultsList* results = window.results();
    QCOMPARE(results->item(0, 1)->text(), QStringLiteral("6 KB"));
    QVERIFY(results->item(0, 2)->text().startsWith(fixture.Path("Recover/")));
    QVERIFY(results->item(0, 2)->text().endsWith("/"));
    QVERIFY(PageIsIdle(window));

    // The thumbnail of a recovered picture, drawn from the written file.
    results->selectRow(2);
    QVERIFY(!window.thumbnail()->isHidden());
    QVERIFY(window.thumbnail()->CurrentPicture() != PlaceholderPicture());

    // A second run empties the list and the thumbnail first, and previews afresh.
    window.page()->StartRun();
    QCOMPARE(fixture.host.Count(msg::kCompleted), 2);
    QCOMPARE(results->rowCount(), 3);
    QCOMPARE(RowNames(results)[0], QStringLiteral("KES00002.PNG"));
    QCOMPARE(window.thumbnail()->count(), 0);
    QVERIFY(!window.thumbnail()->isHidden());
    const int drawn = window.thumbnail()->drawn_count();
    results->selectRow(2);
    QCOMPARE(window.thumbnail()->drawn_count(), drawn + 1);
  }

  void EmptyImageEndsWith1193() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kNothingFound});
    QCOMPARE(window.results()->rowCount(), 0);
    QVERIFY(PageIsIdle(window));
  }

  void CancelAnsweredNoGoesOn() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    // Pressed while the run pumps its first events.
    QTimer::singleShot(0, Control<QPushButton>(window.page(), 1037), &QPushButton::click);
    fixture.host.answers = {MessageAnswer::kNo};
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), (std::vector<int>{msg::kConfirmCancel, msg::kCompleted}));
    QCOMPARE(fixture.host.messages[0].buttons, MessageButtons::kYesNo);
    QCOMPARE(fixture.host.messages[0].icon, MessageIcon::kQuestion);
    QCOMPARE(window.results()->rowCount(), 3);
    QVERIFY(PageIsIdle(window));
  }

  void CancelAnsweredYesStops() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    QTimer::singleShot(0, Control<QPushButton>(window.page(), 1037), &QPushButton::click);
    fixture.host.answers = {MessageAnswer::kYes};
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kConfirmCancel});
    QCOMPARE(window.page()->last_result().outcome, RunOutcome::kCancelled);
    QVERIFY(PageIsIdle(window));
    // Cancel outside a run does nothing.
    Control<QPushButton>(window.page(), 1037)->click();
    QVERIFY(!window.page()->run_context().cancel_requested());
  }

  void IgnoreAllAnswersTheRestOfTheRun() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    window.SetSourceWrapper([](auto inner) { return FailingChunks(std::move(inner), -1); });
    QString text;
    bool no_close_button = false;
    fixture.host.on_modal = [&](QDialog& dialog) {
      text = Control<QLabel>(&dialog, 1132)->text();
      no_close_button = !(dialog.windowFlags() & Qt::WindowCloseButtonHint);
      return Answer(dialog, 3);
    };
    window.page()->StartRun();
    QCOMPARE(fixture.host.modal_runs, 1);
    QCOMPARE(text, QStringLiteral("Unable to read from the drive."));
    QVERIFY(no_close_button);
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCompleted});
    QVERIFY(PageIsIdle(window));

    // A new run makes a new dialog, which asks again.
    window.page()->StartRun();
    QCOMPARE(fixture.host.modal_runs, 2);
  }

  void AbortEndsTheRunWithoutClosingMessage() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    window.SetSourceWrapper([](auto inner) { return FailingChunks(std::move(inner), -1); });
    fixture.host.on_modal = [](QDialog& dialog) { return Answer(dialog, 4); };
    window.page()->StartRun();
    QCOMPARE(fixture.host.modal_runs, 1);
    QVERIFY(fixture.host.messages.empty());
    QCOMPARE(window.page()->last_result().outcome, RunOutcome::kAborted);
    QVERIFY(PageIsIdle(window));
  }

  void EscapeKeepsTheStoredChoice() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    window.SetSourceWrapper([](auto inner) { return FailingChunks(std::move(inner), -1); });
    std::vector<ReadErrorChoice> choices_after;
    fixture.host.on_modal = [&](QDialog& dialog) {
      const int result = Answer(dialog, 0);
      choices_after.push_back(static_cast<CRetryDlg&>(dialog).choice());
      return result;
    };
    window.page()->StartRun();
    // Escape before any choice goes on as Ignore; the next failure asks again.
    QCOMPARE(choices_after,
             (std::vector<ReadErrorChoice>{ReadErrorChoice::kNone, ReadErrorChoice::kNone}));
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCompleted});

    // Ignore at the first question; Escape at the second keeps Ignore.
    choices_after.clear();
    int question = 0;
    fixture.host.on_modal = [&](QDialog& dialog) {
      const int result = Answer(dialog, question++ == 0 ? 1131 : 0);
      choices_after.push_back(static_cast<CRetryDlg&>(dialog).choice());
      return result;
    };
    window.page()->StartRun();
    QCOMPARE(choices_after,
             (std::vector<ReadErrorChoice>{ReadErrorChoice::kIgnore, ReadErrorChoice::kIgnore}));
  }

  void RetryReadsTheChunkAgain() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    // Each faulty chunk fails for the block read and for its own read, then reads.
    window.SetSourceWrapper([](auto inner) { return FailingChunks(std::move(inner), 2); });
    fixture.host.on_modal = [](QDialog& dialog) { return Answer(dialog, 1130); };
    window.page()->StartRun();
    QCOMPARE(fixture.host.modal_runs, 2);
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCompleted});
    QCOMPARE(window.results()->rowCount(), 3);
  }

  void CloseIsRefusedDuringARun() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    window.show();
    QTimer::singleShot(0, &window, &QWidget::close);
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), (std::vector<int>{apptext::kCancelBeforeClose, msg::kCompleted}));
    QVERIFY(window.isVisible());
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
  }

  void HandlersWaitWhileARunPumps() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    fixture.host.folders = {fixture.Path("Elsewhere")};
    bool controls_disabled = false;
    QTimer::singleShot(0, &window, [&] {
      controls_disabled = !Control<QWidget>(&window, 1289)->isEnabled() &&
                          !Control<QWidget>(&window, 1002)->isEnabled() &&
                          Control<QPushButton>(window.page(), 1037)->isEnabled();
      window.page()->StartRun();  // no second run inside the first
      window.ChooseRecoveryPath();
      window.OpenFileTypes();
      window.OpenAbout();
      window.EnterMode(RecoveryMode::kDeletedFiles);
      window.OpenHelp();  // Help works during a run
    });
    window.page()->StartRun();
    QVERIFY(controls_disabled);
    QCOMPARE(window.page()->runs_started(), 1);
    QCOMPARE(fixture.host.folder_questions, 0);
    QCOMPARE(fixture.host.modal_runs, 0);
    QCOMPARE(fixture.app().recovery_mode, RecoveryMode::kPartitionDisk);
    QCOMPARE(fixture.host.Count(msg::kCompleted), 1);
    QVERIFY(fixture.host.opened.size() +
                static_cast<size_t>(fixture.host.Count(apptext::kManualMissing)) ==
            1);
  }

  void VanishedSourcesGive57519() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    testing::WriteSampleImage(fixture.PathStd("volume.img"));
    fixture.AttachVolume('G', "volume.img");
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    QVERIFY(QFile::remove(fixture.Path("samples.img")));
    QVERIFY(QFile::remove(fixture.Path("volume.img")));
    window.page()->StartRun();               // the disk
    window.source_list()->setCurrentRow(1);  // G:
    QCOMPARE(window.source_list()->SelectedVolume(fixture.app().devices)->letter, 'G');
    window.page()->StartRun();
    window.EnterMode(RecoveryMode::kDeletedFiles);
    window.tree()->setCurrentItem(window.tree()->DriveItem('G'));
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), (std::vector<int>{msg::kCannotReadDevice, msg::kCannotReadDevice,
                                                   msg::kCannotReadDevice}));
    QVERIFY(PageIsIdle(window));
  }

  void SpecialFolderOnNoVolumeSaysSoAndNamesIt() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    window.tree()->setCurrentItem(window.tree()->root()->child(0));  // Desktop
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{apptext::kFolderOnNoVolume});
    QVERIFY(
        fixture.host.messages.back().text.contains(fixture.Path(QStringLiteral("home/Desktop"))));
    QVERIFY(fixture.host.messages.back().text.contains(QStringLiteral("disk access")));
    QVERIFY(PageIsIdle(window));
  }

  // The window lists what `kestrel-cli deleted --list` lists for the same folder: every deleted
  // file below it, at any depth and in folders deleted whole, and no live one.
  void DeletedFilesComeBackFromAFatVolume() {
    WindowFixture fixture;
    std::string why;
    auto card = testing::FatImage::Create(fixture.PathStd("card.img"), 16, 16384, 4, &why);
    if (!card) QSKIP(why.c_str());
    std::vector<uint8_t> photo = testing::ReadFixtureSample("jfif.jpg");
    QVERIFY(card->MakeFolder("/DCIM"));
    QVERIFY(card->MakeFolder("/DCIM/100CAM"));
    QVERIFY(card->MakeFolder("/DCIM/OLD"));
    QVERIFY(card->WriteFile("/DCIM/holiday.jpg", photo));
    QVERIFY(card->WriteFile("/DCIM/keep.jpg", photo));
    QVERIFY(card->WriteFile("/DCIM/100CAM/deep shot.jpg", testing::FatTestBytes(9000, 1)));
    QVERIFY(card->WriteFile("/DCIM/OLD/old one.jpg", testing::FatTestBytes(5000, 2)));
    QVERIFY(card->WriteFile("/DCIM/OLD/old two.txt", testing::FatTestBytes(700, 3)));
    QVERIFY(card->WriteFile("/outside.jpg", testing::FatTestBytes(800, 4)));
    for (const char* gone : {"/DCIM/holiday.jpg", "/DCIM/100CAM/deep shot.jpg", "/outside.jpg"}) {
      QVERIFY(card->Delete(gone));
    }
    QVERIFY(card->DeleteTree("/DCIM/OLD"));
    fixture.AttachVolume('E', "card.img", true);
    CKestrelDlg& window = fixture.OpenWindow();
    QTreeWidgetItem* drive = window.tree()->DriveItem('E');
    drive->setExpanded(true);
    window.tree()->setCurrentItem(drive->child(0));
    QCOMPARE(window.tree()->ItemPath(drive->child(0)), QStringLiteral("E:/DCIM/"));
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCompleted});
    QVERIFY(PageIsIdle(window));

    std::multiset<std::string> shown;
    for (int row = 0; row < window.results()->rowCount(); ++row) {
      shown.insert(window.results()->FileOfRow(row).name.toStdString());
    }
    std::multiset<std::string> listed;
    for (const DeletedFileListing& file : ListDeleted(fixture, "card.img", "/DCIM")) {
      listed.insert(file.path.substr(file.path.find_last_of('/') + 1));
    }
    QCOMPARE(shown, listed);
    QCOMPARE(shown, (std::multiset<std::string>{"KES_OLIDAY.JPG", "deep shot.jpg", "old one.jpg",
                                                "old two.txt"}));
  }

  void FinishSaysHowManyFilesWereKeptAndWhere() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    auto* summary = window.findChild<QLabel*>(QStringLiteral("runSummaryText"));
    auto* open = window.findChild<QPushButton*>(QStringLiteral("openRunFolder"));
    QVERIFY(summary != nullptr && open != nullptr);
    QVERIFY(summary->text().isEmpty());
    QVERIFY(open->isHidden());

    Control<QPushButton>(window.page(), 1036)->click();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCompleted});
    const QString folder = window.results()->item(0, 2)->text();
    QCOMPARE(summary->text(), QStringLiteral("3 files kept in ") + folder + ".");
    QVERIFY(!open->isHidden());
    open->click();
    QCOMPARE(fixture.host.opened.back(), QUrl::fromLocalFile(folder));
    fixture.host.open_succeeds = false;
    open->click();
    QCOMPARE(fixture.host.Ids().back(), apptext::kOpenFailed);

    // A cancelled run says what it kept so far; the next run starts without the old line.
    QTimer::singleShot(0, Control<QPushButton>(window.page(), 1037), &QPushButton::click);
    fixture.host.answers = {MessageAnswer::kYes};
    QString during_run = QStringLiteral("unread");
    fixture.host.on_message = [&](int) { during_run = summary->text(); };
    window.page()->StartRun();
    QVERIFY(during_run.isEmpty());
    QCOMPARE(summary->text(), QStringLiteral("Cancelled. No file was kept."));
    QVERIFY(open->isHidden());

    QCOMPARE(RunSummaryText(RunOutcome::kAborted, 1, "/r/"),
             QStringLiteral("Aborted. 1 file kept in /r/."));
    QCOMPARE(RunSummaryText(RunOutcome::kCompleted, 0, ""), QStringLiteral("No file was kept."));
  }

  void RecoveryFolderThatCannotBeMadeIsNamedWithTheReason() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    // Set aside the window's check: a folder below a file cannot be made, whoever runs.
    const std::string folder = fixture.PathStd("samples.img") + "/Saved";
    fixture.StoreRecoveryFolder(folder);
    CKestrelDlg& window = OpenOnSampleDisk(fixture);
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCannotCreateFolder});
    const QString text = fixture.host.messages[0].text;
    QVERIFY2(text.startsWith(AppText(msg::kCannotCreateFolder)), qPrintable(text));
    QVERIFY2(text.contains(QString::fromStdString(folder)), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral(": Not a directory")), qPrintable(text));
    QVERIFY(PageIsIdle(window));
  }

  void ProgressShowsSectorOfTotalSpeedAndTimeLeft() {
    WindowFixture fixture;
    const std::string image = fixture.PathStd("sparse.img");
    testing::WriteSampleImage(image);
    constexpr qint64 kSectors = 1 << 20;  // 512 MiB, nearly all of it a hole
    QVERIFY(QFile::resize(QString::fromStdString(image), kSectors * 512));
    CKestrelDlg& window = OpenOnSampleDisk(fixture, "sparse.img");
    CRecvPage* page = window.page();
    auto* speed = page->findChild<QLabel*>(QStringLiteral("speed"));
    QVERIFY(speed != nullptr);

    QStringList percents;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
      const QString percent = Control<QLabel>(page, 1033)->text();
      if (!percent.isEmpty()) percents << percent;
    });
    sampler.start(1);
    QString sector_at_end, speed_at_end;
    fixture.host.on_message = [&](int) {
      sector_at_end = Control<QLabel>(page, 1029)->text();
      speed_at_end = speed->text();
      percents << Control<QLabel>(page, 1033)->text();
    };
    Control<QPushButton>(page, 1036)->click();
    sampler.stop();

    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCompleted});
    QVERIFY2(sector_at_end.endsWith(QStringLiteral(" of 1,048,576")), qPrintable(sector_at_end));
    const QRegularExpression speed_text(QStringLiteral("^(\\d+(\\.\\d)? MB/s, )?0:00 left$"));
    QVERIFY2(speed_text.match(speed_at_end).hasMatch(), qPrintable(speed_at_end));
    const QRegularExpression percent_text(QStringLiteral("^\\d+ %$"));
    for (const QString& percent : percents) {
      QVERIFY2(percent_text.match(percent).hasMatch(), qPrintable(percent));
    }
    QCOMPARE(percents.back(), QStringLiteral("100 %"));
    QVERIFY(speed->text().isEmpty());  // the idle page shows no speed
  }

  void EventsAreProcessedAtMostEvery30Milliseconds() {
    auto now = std::chrono::steady_clock::time_point{};
    Throttle throttle(std::chrono::milliseconds(30), [&] { return now; });
    QVERIFY(throttle.Due());
    now += std::chrono::milliseconds(29);
    QVERIFY(!throttle.Due());
    now += std::chrono::milliseconds(1);
    QVERIFY(throttle.Due());
    QVERIFY(!throttle.Due());
    throttle.Reset();
    QVERIFY(throttle.Due());
  }
};

KESTREL_APP_TEST_GROUP(RunTest, "run");

}  // namespace kestrel

#include "run_test.moc"

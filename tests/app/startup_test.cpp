// Start-up: the order of the checks, the messages that end it, the splash of each screen, and
// the one-instance lock.

#include <QTemporaryDir>
#include <QtTest>

#include "app/app_test_support.h"
#include "app/app_texts.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// Records every step as a line ("splash 96", "message 114", ...).
class RecordingEnvironment : public StartupEnvironment {
 public:
  int os_code = kLinuxOsVersionCode;
  int dpi = 96;
  InstanceLock::Result instance = InstanceLock::Result::kAcquired;
  int volumes = 1;
  std::vector<std::string> unreadable_disks;
  std::vector<std::string> refused_images;
  NoSourceChoice offer_answer = NoSourceChoice::kQuit;
  QStringList steps;

  int OsVersionCode() override { return os_code; }
  InstanceLock::Result AcquireInstance() override {
    steps << QStringLiteral("lock");
    return instance;
  }
  void ForwardToRunningInstance() override { steps << QStringLiteral("forward"); }
  int ScreenDotsPerInch() override { return dpi; }
  void ShowSplash(SplashKind kind) override {
    steps << (kind == SplashKind::k96Dpi ? QStringLiteral("splash 96")
                                         : QStringLiteral("splash 120"));
  }
  void CloseSplash() override { steps << QStringLiteral("close splash"); }
  DeviceMap Enumerate() override {
    steps << QStringLiteral("enumerate");
    DeviceMap map;
    for (int i = 0; i < volumes; ++i) {
      VolumeEntry volume;
      volume.letter = static_cast<char>('E' + i);
      map.volumes.push_back(volume);
    }
    map.unreadable_disks = unreadable_disks;
    return map;
  }
  std::vector<std::string> AttachImages(DeviceMap*) override {
    steps << QStringLiteral("attach");
    return refused_images;
  }
  void HoldSplash() override { steps << QStringLiteral("hold"); }
  void ShowMessage(int message_id, MessageIcon, std::string_view argument) override {
    steps << QStringLiteral("message %1").arg(message_id);
    if (!argument.empty()) steps << QString::fromUtf8(argument.data(), qsizetype(argument.size()));
  }
  NoSourceChoice OfferWithoutSource(DeviceMap* map) override {
    steps << QStringLiteral("offer");
    if (offer_answer == NoSourceChoice::kAttached) map->volumes.push_back(VolumeEntry{});
    return offer_answer;
  }
};

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void ChecksRunInOrderAndTheSplashStaysAfterEnumeration() {
    RecordingEnvironment environment;
    StartupResult result = RunStartupChecks(environment);
    QCOMPARE(result.end, StartupEnd::kRunWindow);
    QCOMPARE(result.devices.volumes.size(), size_t{1});
    QCOMPARE(environment.steps,
             (QStringList{"lock", "splash 96", "enumerate", "attach", "hold", "close splash"}));
  }

  void ScreenResolutionChoosesTheSplashOrRefuses() {
    RecordingEnvironment low;
    low.dpi = 72;
    QCOMPARE(RunStartupChecks(low).end, StartupEnd::kRunWindow);
    QVERIFY(low.steps.contains("splash 96"));

    RecordingEnvironment medium;
    medium.dpi = 120;
    QCOMPARE(RunStartupChecks(medium).end, StartupEnd::kRunWindow);
    QVERIFY(medium.steps.contains("splash 120"));

    RecordingEnvironment high;
    high.dpi = 121;
    QCOMPARE(RunStartupChecks(high).end, StartupEnd::kRefused);
    // Refused with message 116 before any splash is shown, and before the devices are read.
    QCOMPARE(high.steps, (QStringList{"lock", "message 116"}));
  }

  void OldSystemsAreRefusedWhileTheSplashIsUp() {
    for (int code : {0, 1, 4, 5}) {
      RecordingEnvironment environment;
      environment.os_code = code;
      QCOMPARE(RunStartupChecks(environment).end, StartupEnd::kRefused);
      QCOMPARE(environment.steps,
               (QStringList{"lock", "splash 96", "message 114", "close splash"}));
    }
    for (int code : {6, 7, 8}) {
      RecordingEnvironment environment;
      environment.os_code = code;
      QCOMPARE(RunStartupChecks(environment).end, StartupEnd::kRunWindow);
    }
  }

  void SecondInstanceHandsOverAndEnds() {
    RecordingEnvironment second;
    second.instance = InstanceLock::Result::kHeldElsewhere;
    QCOMPARE(RunStartupChecks(second).end, StartupEnd::kQuietExit);
    QCOMPARE(second.steps, (QStringList{"lock", "forward"}));

    // A lock file that cannot be made has no running window to hand over to.
    RecordingEnvironment unlockable;
    unlockable.instance = InstanceLock::Result::kFailed;
    QCOMPARE(RunStartupChecks(unlockable).end, StartupEnd::kQuietExit);
    QCOMPARE(unlockable.steps, QStringList{"lock"});
  }

  void NoVolumeShows108ThenOffersImageOrDiskAccess() {
    RecordingEnvironment quit;
    quit.volumes = 0;
    QCOMPARE(RunStartupChecks(quit).end, StartupEnd::kRefused);
    QCOMPARE(quit.steps, (QStringList{"lock", "splash 96", "enumerate", "attach", "hold",
                                      "close splash", "message 108", "offer"}));

    RecordingEnvironment attached;
    attached.volumes = 0;
    attached.offer_answer = NoSourceChoice::kAttached;
    QCOMPARE(RunStartupChecks(attached).end, StartupEnd::kRunWindow);

    RecordingEnvironment restarted;
    restarted.volumes = 0;
    restarted.offer_answer = NoSourceChoice::kRestartWithAccess;
    QCOMPARE(RunStartupChecks(restarted).end, StartupEnd::kQuietExit);
  }

  void RefusedImagesComeFirstAndUnreadableDisksSkip108() {
    RecordingEnvironment refused;
    refused.volumes = 0;
    refused.refused_images = {"/x/folder.img is a folder", "/x/tiny.img is shorter than a sector"};
    QCOMPARE(RunStartupChecks(refused).end, StartupEnd::kRefused);
    QCOMPARE(refused.steps.mid(6),
             (QStringList{QStringLiteral("message %1").arg(apptext::kImagesNotAttached),
                          "/x/folder.img is a folder\n/x/tiny.img is "
                          "shorter than a sector",
                          "message 108", "offer"}));

    // Disks that exist but may not be read: the offer (which names them) is the first word.
    RecordingEnvironment unreadable;
    unreadable.volumes = 0;
    unreadable.unreadable_disks = {"/dev/sda"};
    QCOMPARE(RunStartupChecks(unreadable).end, StartupEnd::kRefused);
    QCOMPARE(unreadable.steps.mid(6), QStringList{"offer"});

    // A machine with a volume hears of a refused image and goes on to the window.
    RecordingEnvironment working;
    working.refused_images = {"/x/tiny.img is shorter than a sector"};
    QCOMPARE(RunStartupChecks(working).end, StartupEnd::kRunWindow);
    QCOMPARE(working.steps.last(), QStringLiteral("/x/tiny.img is shorter than a sector"));
  }

  void LockIsHeldUntilItsOwnerEnds() {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("Kestrel V3.lock")).toStdString();
    auto first = std::make_unique<InstanceLock>(path);
    QCOMPARE(first->Acquire(), InstanceLock::Result::kAcquired);
    InstanceLock second(path);
    QCOMPARE(second.Acquire(), InstanceLock::Result::kHeldElsewhere);
    first.reset();
    QCOMPARE(second.Acquire(), InstanceLock::Result::kAcquired);
    // A lock file that cannot be made is a failure, not a second instance.
    InstanceLock nowhere(dir.filePath(QStringLiteral("missing/x.lock")).toStdString());
    QCOMPARE(nowhere.Acquire(), InstanceLock::Result::kFailed);
  }

  void LockLivesInTheRuntimeFolder() {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", "/run/user/1234");
    QCOMPARE(InstanceLock::DefaultPath(), std::string("/run/user/1234/Kestrel V3.lock"));
    qunsetenv("XDG_RUNTIME_DIR");
    QVERIFY(QString::fromStdString(InstanceLock::DefaultPath()).startsWith("/tmp/Kestrel V3"));
    if (!saved.isEmpty()) qputenv("XDG_RUNTIME_DIR", saved);
  }
};

KESTREL_APP_TEST_GROUP(StartupTest, "startup");

}  // namespace kestrel

#include "startup_test.moc"

#include "app/kestrel_app.h"

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScreen>
#include <QThread>

#include "app/app_state.h"
#include "app/app_texts.h"
#include "app/artwork.h"
#include "app/disk_access.h"
#include "app/image_attach.h"
#include "app/instance_channel.h"
#include "app/kestrel_dlg.h"
#include "platform/settings_store.h"

namespace kestrel {

QtStartupEnvironment::QtStartupEnvironment(DialogHost& host, QStringList images,
                                           int os_version_code)
    : host_(host),
      images_(std::move(images)),
      os_version_code_(os_version_code),
      lock_(InstanceLock::DefaultPath()) {}

void QtStartupEnvironment::ForwardToRunningInstance() {
  if (!SendToRunningInstance(InstanceSocketName(), images_)) {
    std::fprintf(stderr, "kestrel: another Kestrel window is running but does not answer\n");
  }
}

int QtStartupEnvironment::ScreenDotsPerInch() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? static_cast<int>(screen->logicalDotsPerInchX() + 0.5) : 96;
}

void QtStartupEnvironment::ShowSplash(SplashKind kind) {
  if (kind == SplashKind::k120Dpi) {
    splash_ = std::make_unique<CFlash120>();
  } else {
    splash_ = std::make_unique<FlashDlg>();
  }
  splash_->show();
  splash_->repaint();
  QCoreApplication::processEvents();
}

DeviceMap QtStartupEnvironment::Enumerate() {
  DeviceMap map = EnumerateDevices();
  for (const std::string& warning : map.warnings)
    std::fprintf(stderr, "kestrel: %s\n", warning.c_str());
  return map;
}

std::vector<std::string> QtStartupEnvironment::AttachImages(DeviceMap* map) {
  std::vector<std::string> refused;
  for (const QString& image : images_) {
    const std::string refusal = AttachImage(map, image.toStdString());
    if (refusal.empty()) continue;
    std::fprintf(stderr, "kestrel: %s\n", refusal.c_str());
    refused.push_back(refusal);
  }
  return refused;
}

void QtStartupEnvironment::HoldSplash() {
  QElapsedTimer held;
  held.start();
  while (held.elapsed() < 1000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

void QtStartupEnvironment::ShowMessage(int message_id, MessageIcon icon,
                                       std::string_view argument) {
  ShowAppMessage(host_, nullptr, message_id, icon, argument);
}

NoSourceChoice QtStartupEnvironment::OfferWithoutSource(DeviceMap* map) {
  QStringList unreadable;
  for (const std::string& disk : map->unreadable_disks) unreadable << QString::fromStdString(disk);
  const QString offer = unreadable.isEmpty()
                            ? AppText(apptext::kNoSourceOffer)
                            : AppText(apptext::kDisksUnreadableOffer, unreadable.join(", "));
  for (;;) {
    const int choice = host_.AskChoice(nullptr, offer, NoSourceChoices());
    if (choice == 0) {
      const QString path =
          host_.ChooseFile(nullptr, QStringLiteral("Open a disk image"), QDir::homePath());
      if (path.isEmpty()) continue;
      const std::string refusal = AttachImage(map, path.toStdString());
      if (!refusal.empty()) {
        ShowAppMessage(host_, nullptr, apptext::kAttachRefused, MessageIcon::kStop, refusal);
      }
      if (MapHasSource(*map)) return NoSourceChoice::kAttached;
      continue;
    }
    if (choice == 1) {
      QString why;
      if (RestartWithDiskAccess(images_, &why)) return NoSourceChoice::kRestartWithAccess;
      ShowAppMessage(host_, nullptr, apptext::kDiskAccessFailed, MessageIcon::kStop,
                     why.toStdString());
      continue;
    }
    return NoSourceChoice::kQuit;
  }
}

QStringList ImageArguments(const QStringList& arguments) {
  QStringList images;
  for (const QString& argument : arguments) images << QFileInfo(argument).absoluteFilePath();
  return images;
}

int CKestrelApp::Run() {
  QApplication::setWindowIcon(AppIcon());
  // The environment holds the instance lock for as long as the window runs.
  QtStartupEnvironment environment(host_, images_);
  StartupResult started = RunStartupChecks(environment);
  if (started.end != StartupEnd::kRunWindow) return started.end == StartupEnd::kQuietExit ? 0 : 1;

  AppState app(std::move(started.devices), SettingsStore::DefaultPath(), host_);
  CKestrelDlg window(app, SpecialFolders::FromSystem());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    window.move(screen->availableGeometry().center() - window.rect().center());
  }
  InstanceServer door(InstanceSocketName());
  QObject::connect(&door, &InstanceServer::Requested, &window, &CKestrelDlg::BringToFront);
  window.show();
  if (!take_over_from_.isEmpty()) SendTakenOver(take_over_from_);
  return QApplication::exec();
}

}  // namespace kestrel

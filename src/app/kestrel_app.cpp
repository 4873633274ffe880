#include "app/kestrel_app.h"

#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QThread>

#include "app/app_state.h"
#include "app/artwork.h"
#include "app/kestrel_dlg.h"
#include "platform/settings_store.h"

namespace kestrel {

QtStartupEnvironment::QtStartupEnvironment(DialogHost& host, int os_version_code)
    : host_(host), os_version_code_(os_version_code), lock_(InstanceLock::DefaultPath()) {}

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

void QtStartupEnvironment::HoldSplash() {
  QElapsedTimer held;
  held.start();
  while (held.elapsed() < 1000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

void QtStartupEnvironment::ShowMessage(int message_id, MessageIcon icon) {
  ShowAppMessage(host_, nullptr, message_id, icon);
}

int CKestrelApp::Run() {
  QApplication::setWindowIcon(AppIcon());
  // The environment holds the instance lock for as long as the window runs.
  QtStartupEnvironment environment(host_);
  StartupResult started = RunStartupChecks(environment);
  if (started.end != StartupEnd::kRunWindow) return started.end == StartupEnd::kQuietExit ? 0 : 1;

  AppState app(std::move(started.devices), SettingsStore::DefaultPath(), host_);
  CKestrelDlg window(app, SpecialFolders::FromSystem());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    window.move(screen->availableGeometry().center() - window.rect().center());
  }
  window.show();
  return QApplication::exec();
}

}  // namespace kestrel

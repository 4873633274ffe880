#pragma once
// The application: the start-up checks with the real screen, lock, splash and device map, then
// the main window until it closes.

#include <memory>

#include <QStringList>

#include "app/dialog_host.h"
#include "app/single_instance.h"
#include "app/splash_window.h"
#include "app/startup.h"

class QApplication;

namespace kestrel {

class QtStartupEnvironment : public StartupEnvironment {
 public:
  // `images`: the disk images and devices named on the command line.
  QtStartupEnvironment(DialogHost& host, QStringList images = {},
                       int os_version_code = kLinuxOsVersionCode);

  int OsVersionCode() override { return os_version_code_; }
  InstanceLock::Result AcquireInstance() override { return lock_.Acquire(); }
  void ForwardToRunningInstance() override;
  int ScreenDotsPerInch() override;
  void ShowSplash(SplashKind kind) override;
  void CloseSplash() override { splash_.reset(); }
  DeviceMap Enumerate() override;
  std::vector<std::string> AttachImages(DeviceMap* map) override;
  void HoldSplash() override;
  void ShowMessage(int message_id, MessageIcon icon, std::string_view argument = {}) override;
  NoSourceChoice OfferWithoutSource(DeviceMap* map) override;

 private:
  DialogHost& host_;
  QStringList images_;
  int os_version_code_;
  InstanceLock lock_;
  std::unique_ptr<SplashWindow> splash_;
};

class CKestrelApp {
 public:
  // `take_over_from`: the socket of the instance that started this one with disk access.
  explicit CKestrelApp(QStringList images = {}, QString take_over_from = {})
      : images_(std::move(images)), take_over_from_(std::move(take_over_from)) {}
  // Runs start-up and the main window; returns the process's exit status.
  int Run();

 private:
  QtDialogHost host_;
  QStringList images_;
  QString take_over_from_;
};

// The absolute paths of the images named by `arguments` (the program's arguments without its
// name).
QStringList ImageArguments(const QStringList& arguments);

}  // namespace kestrel

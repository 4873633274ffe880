#pragma once
// The application: the start-up checks with the real screen, lock, splash and device map, then
// the main window until it closes.

#include <memory>

#include "app/dialog_host.h"
#include "app/single_instance.h"
#include "app/splash_window.h"
#include "app/startup.h"

class QApplication;

namespace kestrel {

class QtStartupEnvironment : public StartupEnvironment {
 public:
  QtStartupEnvironment(DialogHost& host, int os_version_code = kLinuxOsVersionCode);

  int OsVersionCode() override { return os_version_code_; }
  InstanceLock::Result AcquireInstance() override { return lock_.Acquire(); }
  int ScreenDotsPerInch() override;
  void ShowSplash(SplashKind kind) override;
  void CloseSplash() override { splash_.reset(); }
  DeviceMap Enumerate() override;
  void HoldSplash() override;
  void ShowMessage(int message_id, MessageIcon icon) override;

 private:
  DialogHost& host_;
  int os_version_code_;
  InstanceLock lock_;
  std::unique_ptr<SplashWindow> splash_;
};

class CKestrelApp {
 public:
  // Runs start-up and the main window; returns the process's exit status.
  int Run();

 private:
  QtDialogHost host_;
};

}  // namespace kestrel

#include "app/startup.h"

#include "run/messages.h"

namespace kestrel {

bool OsVersionSupported(int code) {
  return code == 6 || code == 7 || code == 8;
}

StartupResult RunStartupChecks(StartupEnvironment& environment) {
  StartupResult result;
  const int os_code = environment.OsVersionCode();
  if (environment.AcquireInstance() != InstanceLock::Result::kAcquired) {
    result.end = StartupEnd::kQuietExit;
    return result;
  }
  const int dpi = environment.ScreenDotsPerInch();
  if (dpi > 120) {
    environment.ShowMessage(msg::kDpiRefused, MessageIcon::kNone);
    return result;
  }
  environment.ShowSplash(dpi > 96 ? SplashKind::k120Dpi : SplashKind::k96Dpi);
  if (!OsVersionSupported(os_code)) {
    environment.ShowMessage(msg::kOsNotSupported, MessageIcon::kInformation);
    environment.CloseSplash();
    return result;
  }
  result.devices = environment.Enumerate();
  environment.HoldSplash();
  environment.CloseSplash();
  if (result.devices.volumes.empty()) {
    environment.ShowMessage(msg::kNoDevice, MessageIcon::kInformation);
    return result;
  }
  result.end = StartupEnd::kRunWindow;
  return result;
}

}  // namespace kestrel

#include "app/startup.h"

#include "app/app_texts.h"
#include "app/image_attach.h"
#include "run/messages.h"

namespace kestrel {

bool OsVersionSupported(int code) {
  return code == 6 || code == 7 || code == 8;
}

StartupResult RunStartupChecks(StartupEnvironment& environment) {
  StartupResult result;
  const int os_code = environment.OsVersionCode();
  const InstanceLock::Result instance = environment.AcquireInstance();
  if (instance != InstanceLock::Result::kAcquired) {
    if (instance == InstanceLock::Result::kHeldElsewhere) environment.ForwardToRunningInstance();
    result.end = StartupEnd::kQuietExit;
    return result;
  }
  const int dpi = environment.ScreenDotsPerInch();
  if (dpi > 120) {
    environment.ShowMessage(apptext::kDpiRefused, MessageIcon::kNone);
    return result;
  }
  environment.ShowSplash(dpi > 96 ? SplashKind::k120Dpi : SplashKind::k96Dpi);
  if (!OsVersionSupported(os_code)) {
    environment.ShowMessage(apptext::kOsNotSupported, MessageIcon::kInformation);
    environment.CloseSplash();
    return result;
  }
  result.devices = environment.Enumerate();
  environment.HoldSplash();
  environment.CloseSplash();
  if (!MapHasSource(result.devices)) {
    environment.ShowMessage(msg::kNoDevice, MessageIcon::kInformation);
    const NoSourceChoice choice = environment.OfferWithoutSource(&result.devices);
    if (choice == NoSourceChoice::kRestartWithAccess) result.end = StartupEnd::kQuietExit;
    if (choice != NoSourceChoice::kAttached || !MapHasSource(result.devices)) return result;
  }
  result.end = StartupEnd::kRunWindow;
  return result;
}

}  // namespace kestrel

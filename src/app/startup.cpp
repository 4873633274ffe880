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
  const std::vector<std::string> refused = environment.AttachImages(&result.devices);
  environment.HoldSplash();
  environment.CloseSplash();
  // The images the user named come first: they explain what follows.
  if (!refused.empty()) {
    std::string lines;
    for (const std::string& refusal : refused) lines += (lines.empty() ? "" : "\n") + refusal;
    environment.ShowMessage(apptext::kImagesNotAttached, MessageIcon::kStop, lines);
  }
  if (!MapHasSource(result.devices)) {
    // Message 108 is for a machine without disks; disks it may not read are named in the offer.
    if (result.devices.unreadable_disks.empty()) {
      environment.ShowMessage(msg::kNoDevice, MessageIcon::kInformation);
    }
    const NoSourceChoice choice = environment.OfferWithoutSource(&result.devices);
    if (choice == NoSourceChoice::kRestartWithAccess) result.end = StartupEnd::kQuietExit;
    if (choice != NoSourceChoice::kAttached || !MapHasSource(result.devices)) return result;
  }
  result.end = StartupEnd::kRunWindow;
  return result;
}

}  // namespace kestrel

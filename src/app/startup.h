#pragma once
// The start-up checks, in order: the operating system code, one instance, the screen's pixels
// per inch (message 116 above 120) and the splash window, the operating system (message 114),
// the device enumeration and the images of the command line, one second more of splash, the
// images that could not be attached, and, when no source was found, message 108 (only when the
// machine has no disk at all) and the offer to attach an image or start again with disk access.
// Everything they touch goes through StartupEnvironment, so that tests can drive each case.

#include <string>
#include <string_view>
#include <vector>

#include "app/single_instance.h"
#include "run/run_ui.h"
#include "sources/drive_enumeration.h"

namespace kestrel {

enum class SplashKind { k96Dpi, k120Dpi };

// What the user chose after message 108.
enum class NoSourceChoice {
  kAttached,           // an image was attached to the map
  kRestartWithAccess,  // the window starts again with disk access; this process ends
  kQuit,
};

// The operating system code of this platform (8: the newest family).
inline constexpr int kLinuxOsVersionCode = 8;

class StartupEnvironment {
 public:
  virtual ~StartupEnvironment() = default;
  virtual int OsVersionCode() = 0;
  virtual InstanceLock::Result AcquireInstance() = 0;
  // Another instance holds the lock: bring its window to the front.
  virtual void ForwardToRunningInstance() = 0;
  virtual int ScreenDotsPerInch() = 0;
  virtual void ShowSplash(SplashKind kind) = 0;
  virtual void CloseSplash() = 0;
  virtual DeviceMap Enumerate() = 0;
  // Attaches the images of the command line to `map`; the refusals, each naming its image.
  virtual std::vector<std::string> AttachImages(DeviceMap* map) = 0;
  // Keeps the splash up one second after the enumeration.
  virtual void HoldSplash() = 0;
  virtual void ShowMessage(int message_id, MessageIcon icon, std::string_view argument = {}) = 0;
  // Offers to attach an image (added to `map`) or to start again with disk access; the offer
  // names the disks of `map` that cannot be read, when there are any.
  virtual NoSourceChoice OfferWithoutSource(DeviceMap* map) = 0;
};

enum class StartupEnd {
  kRunWindow,  // checks passed: run the main window
  kQuietExit,  // another instance runs, the lock could not be taken, or a restart follows
  kRefused,    // a message was shown
};

struct StartupResult {
  StartupEnd end = StartupEnd::kRefused;
  DeviceMap devices;
};

// Whether a code passes the operating system check (6, 7 or 8).
bool OsVersionSupported(int code);

StartupResult RunStartupChecks(StartupEnvironment& environment);

}  // namespace kestrel

#include "test_support/recording_platform.h"

#include "system/real_platform.h"

namespace qu::testing {

RecordingPlatform::RecordingPlatform(Locations locations)
    : detail::OwnedTarget{makeRealPlatform(std::move(locations))},
      PlatformWrapper(*detail::OwnedTarget::target) {}

RecordingPlatform::RecordingPlatform(Locations locations, RealPlatformOptions options)
    : detail::OwnedTarget{makeRealPlatform(std::move(locations), std::move(options))},
      PlatformWrapper(*detail::OwnedTarget::target) {}

RecordingPlatform::~RecordingPlatform() = default;

CapturedOutput RecordingPlatform::captureOutput(const std::string& program,
                                                const std::vector<std::string>& arguments) {
  queries.push_back({program, arguments});
  return PlatformWrapper::captureOutput(program, arguments);
}

ExitStatus RecordingPlatform::runAndWait(const std::string& program,
                                         const std::vector<std::string>& arguments) {
  programCalls.push_back({program, arguments});
  return PlatformWrapper::runAndWait(program, arguments);
}

Status RecordingPlatform::startDetached(const std::string& program,
                                        const std::vector<std::string>& arguments) {
  programCalls.push_back({program, arguments});
  return PlatformWrapper::startDetached(program, arguments);
}

Result<std::unique_ptr<PipedChild>> RecordingPlatform::startPiped(
    const std::string& program, const std::vector<std::string>& arguments) {
  programCalls.push_back({program, arguments});
  return PlatformWrapper::startPiped(program, arguments);
}

Removal RecordingPlatform::removePath(const std::string& path, RemovalScope scope) {
  Removal removal = PlatformWrapper::removePath(path, scope);
  if (removal.removed()) removedPaths.push_back(path);
  return removal;
}

Status RecordingPlatform::signalProcessGroup(pid_t group, int signal, const std::string&) {
  signals.push_back({group, signal});
  return Status::ok();
}

int RecordingPlatform::sendQuitEvent(const LaunchedApplication& application) {
  quitRequests.push_back(application);
  return quitResult;
}

Locations locationsUnder(const std::string& root) {
  Locations defaults;
  Locations inside;
  auto under = [&root](const std::string& path) { return root + path; };
  inside.uninstallDescriptions = under(defaults.uninstallDescriptions);
  inside.receipts = under(defaults.receipts);
  inside.galleryPreferences = under(defaults.galleryPreferences);
  inside.lsbom = under(defaults.lsbom);
  inside.pkgutil = under(defaults.pkgutil);
  inside.ps = under(defaults.ps);
  inside.launchctl = under(defaults.launchctl);
  inside.kextunload = under(defaults.kextunload);
  inside.defaultPackageIcon = defaults.defaultPackageIcon;
  inside.protectedUninstallerApp = defaults.protectedUninstallerApp;
  inside.makerFolders.clear();
  for (const std::string& folder : defaults.makerFolders) inside.makerFolders.push_back(under(folder));
  return inside;
}

}  // namespace qu::testing

#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qu {

// Every fixed location the uninstaller reads, runs or protects. The defaults
// are the real system's paths; the production binary never changes them, and
// tests build their own instance pointing into a temporary tree.
struct Locations {
  std::string uninstallDescriptions =
      "/Library/Application Support/Quorvane Technologies/Uninstall/";
  std::string receipts = "/Library/Receipts";
  std::string galleryPreferences =
      "/Users/Shared/Library/Preferences/com.quorvix.gallery.plist";
  std::string lsbom = "/usr/bin/lsbom";
  std::string pkgutil = "/usr/sbin/pkgutil";
  std::string ps = "/bin/ps";
  std::string launchctl = "/bin/launchctl";
  std::string kextunload = "/sbin/kextunload";
  std::string defaultPackageIcon =
      "/System/Library/CoreServices/Installer.app/Contents/Resources/package.icns";
  std::string protectedUninstallerApp =
      "/Applications/Quorvane Technologies/Quorvane Uninstaller.app";
  // The maker's own folders: the gallery setup tool is run only from inside
  // one of them.
  std::vector<std::string> makerFolders = {
      "/Applications/Quorvane Technologies/",
      "/Library/Application Support/Quorvane Technologies/"};
  // The group whose members administer the machine; a directory it may write
  // to is as trustworthy as one only root may write to. The real platform
  // takes the system's own (macOS's "admin", 80); 0, root's group, here.
  gid_t administratorsGroup = 0;
};

}  // namespace qu

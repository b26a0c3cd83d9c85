#include "cli/help.h"

#include "cli/version.h"

namespace qu {

std::string usageText(const Locations& locations) {
  return "Usage: quorvane-uninstall [OPTION]...\n"
         "List or remove the software that Quorvane Technologies installed.\n"
         "\n"
         "  -l, --list      print the installed items and their identifiers, remove\n"
         "                  nothing; wins over every other option\n"
         "  -i, --id=ID     remove the item ID (exact, case-sensitive) and everything\n"
         "                  below it; may be repeated\n"
         "  -a, --all       remove every installed item\n"
         "  -n, --dry-run   show what the removal would do, change nothing\n"
         "  -g, --gui       attended run: pre-remove scripts get \"--silent false\"\n"
         "  -v, --verbose   accepted; changes nothing\n"
         "      --json      write JSON for scripts instead of text (see the manual)\n"
         "  -h, --help      print this help and exit\n"
         "      --version   print the version and exit\n"
         "\n"
         "A removal needs root; a listing and a dry run do not.\n"
         "\n"
         "Exit status:\n"
         "  0  listed, nothing selected, unknown option, or every item removed\n"
         "  1  an --id names nothing installed\n"
         "  2  something was selected but the tool could not become root\n"
         "  3  at least one item could not be removed (every item is still tried)\n"
         "\n"
         "Reads:\n"
         "  " + locations.uninstallDescriptions + "\n"
         "      uninstall descriptions, one property list per package\n"
         "  " + locations.receipts + "\n"
         "      receipt bundles\n"
         "  " + locations.galleryPreferences + "\n"
         "      gallery collections\n"
         "Runs " + locations.pkgutil + " to learn what is installed; a removal also\n"
         "runs " + locations.lsbom + ", " + locations.ps + ", " + locations.launchctl + ", " +
         locations.kextunload + ",\n"
         "pre-remove scripts and gallery setup tools.\n"
         "\n"
         "Examples:\n"
         "  quorvane-uninstall --list\n"
         "  quorvane-uninstall --dry-run --id com.quorvane.studio\n"
         "  sudo quorvane-uninstall --id com.quorvane.studio\n";
}

std::string versionText() { return std::string("quorvane-uninstall ") + kToolVersion + "\n"; }

}  // namespace qu

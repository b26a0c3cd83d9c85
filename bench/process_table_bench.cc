// Finds which of 1,000 running processes were started from a package of
// 100,000 files: the uninstaller's matcher beside the plain nested scan
// (every path folded once, then every process against every file, ends-with)
// on the same input, both starting from the "/bin/ps" text. Prints Google
// Benchmark's table, then both medians and their ratio.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "extensions/text.h"
#include "manifests/process_table.h"
#include "package_tree.h"

namespace qu::bench {
namespace {

constexpr double kLimitSeconds = 0.020;
constexpr int kProcesses = 1000;
constexpr int kPackageProcesses = 10;

// What "/bin/ps -Ao pid=,comm=" prints on a busy machine: system daemons,
// other applications (named beyond ASCII), a few programs whose name is also
// a file name of the package (so they pass the cheap checks but match
// nothing), and the package's own helpers, one of them written in other
// letter case and composition.
std::string processListing() {
  std::string listing;
  int pid = 100;
  auto add = [&](const std::string& path) { listing += format("%5d %s\n", pid++, path.c_str()); };
  for (int i = 0; i < kPackageProcesses; ++i) {
    add(format(i == 0 ? "/applications/bench.app/contents/macos/be\xCC\x81nch he\xCC\x81lper %d"
                      : "/Applications/Bench.app/Contents/MacOS/B\xC3\xA9nch H\xC3\xA9lper %d",
               i));
  }
  for (int i = 0; i < 5; ++i) add(format("/usr/local/share/resource-%02d.dat", i));
  while (pid - 100 < kProcesses) {
    const int n = pid - 100;
    switch (n % 3) {
      case 0: add(format("/usr/libexec/daemon%03d", n)); break;
      case 1:
        add(format("/System/Library/Frameworks/Kit%03d.framework/Versions/A/Support/agent%03d", n,
                   n));
        break;
      default:
        add(format("/Applications/\xC3\x96ther %03d.app/Contents/MacOS/\xC3\x96ther %03d", n, n));
        break;
    }
  }
  return listing;
}

// The package's file list as a receipt's bill of materials gives it: "/./"
// before every path, longest first; ten of the 100,000 files are the helpers.
PathList packageFiles() {
  PackageLayout layout = layoutFor({});
  for (int i = 0; i < kPackageProcesses; ++i) {
    layout.files[static_cast<std::size_t>(i)] =
        format("/Bench.app/Contents/MacOS/B\xC3\xA9nch H\xC3\xA9lper %d", i);
  }
  return Manifest::processList(layout.files, "/./Applications");
}

// Passes everything on to the console and keeps each benchmark's median
// time per iteration.
class MedianKeeper : public benchmark::ConsoleReporter {
 public:
  MedianKeeper() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians[run.run_name.function_name] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

int run(int argc, char** argv) {
  const std::string listing = processListing();
  const PathList files = packageFiles();

  const ProcessTable matched = processesRunningFrom(parseProcessListing(listing), files);
  const ProcessTable scanned = processesRunningFromByScan(parseProcessListing(listing), files);
  if (matched != scanned || matched.size() != kPackageProcesses) {
    std::fprintf(stderr, "process table: the matcher found %zu processes, the scan %zu\n",
                 matched.size(), scanned.size());
    return 1;
  }
  std::printf("process table: %zu processes against %zu files, %zu of them running from it\n",
              parseProcessListing(listing).size(), files.size(), matched.size());

  benchmark::RegisterBenchmark("matcher", [&](benchmark::State& state) {
    for (auto _ : state) {
      benchmark::DoNotOptimize(processesRunningFrom(parseProcessListing(listing), files));
    }
  })->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
  benchmark::RegisterBenchmark("nested_scan", [&](benchmark::State& state) {
    for (auto _ : state) {
      benchmark::DoNotOptimize(processesRunningFromByScan(parseProcessListing(listing), files));
    }
  })->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

  benchmark::Initialize(&argc, argv);
  MedianKeeper reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  if (!reporter.medians.contains("matcher") || !reporter.medians.contains("nested_scan")) {
    return 0;  // a --benchmark_filter left one out
  }
  const double matcher = reporter.medians["matcher"];
  const double scan = reporter.medians["nested_scan"];
  printRow({"Process table, 1,000 processes x 100,000 files, matcher vs nested scan",
            formatSeconds(matcher), formatSeconds(scan), formatRatio(matcher / scan),
            "matcher < 20 ms", matcher < kLimitSeconds});
  return 0;
}

}  // namespace
}  // namespace qu::bench

int main(int argc, char** argv) { return qu::bench::run(argc, argv); }

// The console reporter every benchmark here prints through: it keeps each run's time
// per iteration and its items per second by benchmark name, so that main() can print
// the ratio against the baseline measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace virazav::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      times[r.benchmark_name()] = r.GetAdjustedRealTime();
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The real time per iteration of the first run whose name starts with `prefix`, or 0.
  double find(const std::string& prefix) const {
    for (const auto& [name, v] : times) {
      if (name.rfind(prefix, 0) == 0) return v;
    }
    return 0.0;
  }
  std::map<std::string, double> times;  // real time per iteration
  std::map<std::string, double> rates;  // items per second, where counted
};

}  // namespace virazav::bench

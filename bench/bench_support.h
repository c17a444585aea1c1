// Shared pieces of the benchmark programs: a console reporter that keeps each run's rate so that
// ratios against a peer can be printed after the table, and "--name=value" flag parsing.
#pragma once
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace velmora::bench {

class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("items_per_second");
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && it != run.counters.end())
        rates_[run.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The rate of the first run whose name starts with `prefix`; 0 when none ran.
  double Rate(const std::string& prefix) const {
    for (const auto& [name, rate] : rates_)
      if (name.rfind(prefix, 0) == 0) return rate;
    return 0;
  }

 private:
  std::map<std::string, double> rates_;
};

// True when `arg` is "<name>=<value>"; the value goes to *value.
inline bool ParseFlag(const char* arg, const char* name, std::string* value) {
  size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
  *value = arg + n + 1;
  return true;
}

}  // namespace velmora::bench

// Shared pieces of the benchmark programs: console reporters that keep each run's rate, best
// rate or time so that ratios against a peer can be printed after the table, "--name=value" flag
// parsing, a scratch folder of the program's own with the program's folders pointed into it, and
// one timed run of a peer's command line per iteration.
#pragma once
#include "velmora_build_paths.h"
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// Keeps the best rate of each benchmark (by function name) over its repetitions: the machine may
// be busy with other work, and the best of several interleaved runs is what each way can do.
class BestRateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("items_per_second");
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && it != run.counters.end()) {
        double& best = rates_[run.run_name.function_name];
        best = std::max(best, static_cast<double>(it->second.value));
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The best rate of `name`; 0 when it did not run.
  double Rate(const std::string& name) const {
    auto it = rates_.find(name);
    return it == rates_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> rates_;
};

// Keeps the real time of each run by its full name ("BM_Tracer/1000/0/real_time").
class TimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  // The time of `name` in the run's unit; 0 when it did not run.
  double Time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> times_;
};

// Keeps the real time in seconds of each benchmark by its name up to the first '/', for
// benchmarks that report in milliseconds (the last run of a name wins).
class SecondsReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find('/'));
      seconds_[name] = run.GetAdjustedRealTime() / 1000.0;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The seconds of `name`; null when it did not run.
  const double* Seconds(const std::string& name) const {
    auto it = seconds_.find(name);
    return it == seconds_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, double> seconds_;
};

// A new folder "<parent>/velmora-<name>-XXXXXX/" (parent empty: the system's temporary folder),
// with the program's configuration and data folders pointed inside it and its program folder at
// the source tree's data/ unless one is set. Empty (and said on stderr) when it cannot be made.
inline std::string MakeBenchFolder(const std::string& parent, const std::string& name) {
  std::string templ =
      (parent.empty() ? std::filesystem::temp_directory_path().string() : parent) + "/velmora-" + name + "-XXXXXX";
  if (!mkdtemp(templ.data())) {
    std::perror(templ.c_str());
    return {};
  }
  const std::string dir = templ + "/";
  setenv("VELMORA_CONFIG_DIR", (dir + "config/").c_str(), 1);
  setenv("VELMORA_DATA_DIR", (dir + "data/").c_str(), 1);
  if (!std::getenv("VELMORA_PROGRAM_DIR")) setenv("VELMORA_PROGRAM_DIR", VELMORA_SOURCE_DIR "/data/", 1);
  return dir;
}

// Runs a peer's shell command once an iteration, timed by hand (the benchmark uses manual time),
// `items` each; the best time of one run goes to *best_seconds when given. A failed command ends
// the benchmark with an error.
inline void RunCommandTimed(benchmark::State& state, const std::string& command, int64_t items,
                            double* best_seconds = nullptr) {
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("the peer's command failed");
      return;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    if (best_seconds && (*best_seconds == 0 || s < *best_seconds)) *best_seconds = s;
  }
  state.SetItemsProcessed(state.iterations() * items);
}

// True when `arg` is "<name>=<value>"; the value goes to *value.
inline bool ParseFlag(const char* arg, const char* name, std::string* value) {
  size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
  *value = arg + n + 1;
  return true;
}

}  // namespace velmora::bench

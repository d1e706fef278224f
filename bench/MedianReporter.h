#pragma once
// A console reporter for Google Benchmark programs that compare our code with
// a library's side by side: it prints as usual and keeps each benchmark's
// median real and CPU time by name, so the program can print the ratios. On a
// shared machine the CPU time of the decoding thread (page faults included)
// is the steadier of the two.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class TMedianReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& R : Runs)
      if (R.aggregate_name == "median") {
        MedianReal[R.run_name.function_name] = R.GetAdjustedRealTime();
        MedianCpu[R.run_name.function_name] = R.GetAdjustedCPUTime();
      }
  }
  std::map<std::string, double> MedianReal, MedianCpu;
};

#pragma once
// One line of the summary table that bench/run prints after all benchmarks:
// what was measured, on what (page size, row count), the figure, the baseline
// measured in the same run, their ratio and the goal.
#include <cstdio>

namespace tevrin::bench {

inline void SummaryRow(const char* what, const char* measuredOn, double figure, const char* unit,
                       const char* baseline, double baselineFigure, const char* goal) {
  std::printf("SUMMARY\t%s\t%s\t%.1f %s\t%s: %.1f %s\t%.2f\t%s\n", what, measuredOn, figure, unit, baseline,
              baselineFigure, unit, figure / baselineFigure, goal);
}

}  // namespace tevrin::bench

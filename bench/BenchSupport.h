#pragma once

#include <QString>

#include <vector>

// What every bench program needs around its own measurements.
namespace bench {

// The monotonic clock in nanoseconds, the one the panel's hook stamps with.
qint64 nowNs();

// Ends the program with a message naming it (program is set once in main).
void setProgramName(const char* name);
[[noreturn]] void fatal(const QString& why);

// The machine's load average over the last minute: the figures share the
// processors with whatever else runs.
QString loadAverage();

// "met" or "MISSED", as the targets are printed.
const char* verdict(bool met);

double median(std::vector<double> values);

} // namespace bench

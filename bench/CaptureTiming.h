#pragma once

// What the capture suites of every display system measure alike: copy → stored row, and the
// monitor's cost while nothing is copied.

#include <QElapsedTimer>
#include <QString>

#include <vector>

class Store;

namespace CaptureTiming {

// Runs the event loop until the store holds `rows` clips; milliseconds waited, or -1.
double waitForRows(Store &store, qint64 rows, QElapsedTimer &since);
// "med … / p95 … ms (N stored)".
QString latencyFigure(const std::vector<double> &latencies);
// Ten seconds of the event loop with no copies; reports this process's CPU per minute.
void reportIdleMonitorCpu();

} // namespace CaptureTiming

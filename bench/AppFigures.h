#pragma once

// Figures of the real application binary that mean the same on every session type: how fast
// it starts capturing, and how quiet and small it is at rest. The app suite measures them on
// X11, the wayland suite on Wayland.

#include <QString>

#include <vector>

class AppUnderTest;

namespace AppFigures {

void pause(int ms);
QString mib(qint64 kib);
QString medianAndP95(const std::vector<double> &ms);
// 10 080 clips, kept whole: the default cap would trim them to 1000 at the first capture.
void fillHistory(AppUnderTest &app);
void reportFailure(const QString &name, const AppUnderTest &app);
// Launch → capturing, after one run that warms the disk cache.
void benchLaunch(AppUnderTest &app, const QString &name, const QString &bar, int expectedCount);
// Idle with the picker hidden: wake-ups, CPU and memory, with what the private pages are.
void benchIdle(AppUnderTest &app);

} // namespace AppFigures

#pragma once

// `ulvane --selftest`: exercises store, search, transforms, snapshots, export/import, trim,
// digest and thumbnails end to end against two throw-away stores, one "PASS "/"FAIL " line
// per check. Returns the exit status: 0 when every check passed.
namespace SelfTest {
int run();
}

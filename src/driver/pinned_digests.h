// The defined work: the digests a correct build's ptverify prints for the
// first run's set-up and its first work units, whatever the compiler, its
// flags or the machine. Kept once, here, for the digest test and for ptrun,
// which refuses a build that computes anything else.
#pragma once

// Update when a module joins the work unit or changes what it computes.
inline constexpr int kPinnedUnits = 3;
inline constexpr const char* kPinnedDigests =
    "run 1 setup f0f48d84a627fa4a\n"
    "run 1 unit 1 f01bb8b9ab6f3794\n"
    "run 1 unit 2 4fb95927f3a831d2\n"
    "run 1 unit 3 86c37cb6405191b6\n";


// A build's work unit module by module, outside the score: the set-up and
// work units exactly as the first run of pt makes them, with each module's
// block of step calls timed and, where the processor's counters can be had,
// counted.
#pragma once

#include <cstdint>
#include <string>

#include "driver/work_unit.h"
#include "platform/platform.h"

// The events' names in the profile's output, in CounterEvent order.
extern const char* const kCounterEventNames[kCounterEventCount];

struct ProfileSettings {
    // Work units run as pt runs them before the measured ones.
    std::int64_t warmup_units;
    // Measured units: at most max_units, and none begun once budget_ns (0 for
    // no budget) has passed since the first began; at least one.
    std::int64_t max_units;
    std::uint64_t budget_ns;
    NanosecondSource clock;
    const CounterSource* counters;
};

struct Profile {
    std::int32_t setup_status;  // the set-up's status; nothing ran unless 0
    std::int64_t warmup_units;
    std::int64_t units;
    // Sums over the measured units, per module in the unit's order.
    std::uint64_t module_ns[kWorkStepCount];
    bool event_measured[kCounterEventCount];
    std::uint64_t module_counts[kWorkStepCount][kCounterEventCount];
    // Set once a reading of the group was not whole (taken off the processor
    // for a while, or unreadable): its counts are then not measurements.
    bool counters_disturbed;
    // Empty when every event was measured; otherwise which were not, and why.
    std::string counters_unavailable;
    // The processor time the thread had over the measured units, as a share
    // of their wall time (-1 where the system does not say): below 0.95 the
    // figures carry other programs' time, as a pt run's score would.
    double processor_share;
    // Of the whole workload state after the last unit, as ptverify prints it.
    std::uint64_t state_digest;
};

Profile profile_work_units(const ProfileSettings& settings);

// One measured unit: the reset, then each module's block timed on its own
// and, with last (the group's previous reading) given, counted; added to
// profile's sums. The benchmarks set it beside pt's own unit.
void run_measured_unit(const ProfileSettings& settings, Profile& profile, CounterReading* last);

// The profile as one line of JSON, the form ptverify --profile prints and
// its manual describes; build is the version line of the program.
std::string profile_json(const Profile& profile, const char* build);

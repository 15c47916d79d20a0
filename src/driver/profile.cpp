#include "driver/profile.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/run_checks.h"
#include "driver/state_dump.h"
#include "modules/database/database.h"

const char* const kCounterEventNames[kCounterEventCount] = {
    "instructions", "cycles", "branch_misses", "l1i_misses", "itlb_misses",
};

namespace {

// "a, b: reason; c: other reason" for the events not measured, grouping those
// refused for one reason, so a machine without counters says it once.
std::string describe_missing(const CounterOpening& opening) {
    std::string text;
    bool told[kCounterEventCount] = {};
    for (std::size_t event = 0; event < kCounterEventCount; ++event) {
        if (opening.available[event] || told[event]) continue;
        std::string names;
        for (std::size_t other = event; other < kCounterEventCount; ++other) {
            if (opening.available[other] || std::strcmp(opening.reason[other], opening.reason[event]) != 0) continue;
            told[other] = true;
            names += (names.empty() ? "" : ", ") + std::string(kCounterEventNames[other]);
        }
        text += (text.empty() ? "" : "; ") + names + ": " + opening.reason[event];
    }
    return text;
}

bool any_measured(const Profile& profile) {
    for (bool measured : profile.event_measured) {
        if (measured) return true;
    }
    return false;
}

}  // namespace

// The counters are on only around a block and read between blocks, so
// neither the reading nor the reset is counted.
void run_measured_unit(const ProfileSettings& settings, Profile& profile, CounterReading* last) {
    const bool counting = last != nullptr;
    reset_work_unit_state();
    for (std::size_t step = 0; step < kWorkStepCount; ++step) {
        if (counting) settings.counters->enable();
        const std::uint64_t start = settings.clock();
        run_step_calls(step);
        const std::uint64_t end = settings.clock();
        if (counting) settings.counters->disable();
        profile.module_ns[step] += end - start;
        if (!counting) continue;
        const CounterReading now = settings.counters->read();
        if (!now.on_processor) profile.counters_disturbed = true;
        for (std::size_t event = 0; event < kCounterEventCount; ++event) {
            profile.module_counts[step][event] += now.value[event] - last->value[event];
        }
        *last = now;
    }
}

Profile profile_work_units(const ProfileSettings& settings) {
    Profile profile{};
    profile.setup_status = setup_workload();
    if (profile.setup_status != 0) return profile;
    for (std::int64_t unit = 0; unit < settings.warmup_units; ++unit) run_work_unit();
    profile.warmup_units = settings.warmup_units;

    CounterOpening opening{};
    settings.counters->open(opening);
    for (std::size_t event = 0; event < kCounterEventCount; ++event) {
        profile.event_measured[event] = opening.available[event];
    }
    profile.counters_unavailable = describe_missing(opening);
    const bool counting = any_measured(profile);
    CounterReading last = counting ? settings.counters->read() : CounterReading{};

    const ThreadTimes before = thread_times();
    const std::uint64_t first_start = settings.clock();
    do {
        run_measured_unit(settings, profile, counting ? &last : nullptr);
        ++profile.units;
    } while (profile.units < settings.max_units &&
             (settings.budget_ns == 0 || settings.clock() - first_start < settings.budget_ns));
    profile.processor_share = processor_share(before, thread_times());

    if (counting && profile.counters_disturbed) {
        for (bool& measured : profile.event_measured) measured = false;
        profile.counters_unavailable =
            "the kernel took the counters off the processor while they counted (another program used them), "
            "or they could not be read: their counts would be estimates";
    }
    settings.counters->close();

    std::vector<unsigned char> frame;
    append_state_frame(frame);
    profile.state_digest = frame_digest(frame.data(), frame.size());
    db_release();
    return profile;
}

namespace {

// The core links no JSON library (cross builds and the Windows build have
// none), and this one object of fixed shape needs only its strings escaped.
std::string json_string(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += *c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += *c;
        }
    }
    return out + "\"";
}

std::string number(const char* format, double value) {
    char text[40];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string module_counters_json(const Profile& profile) {
    if (!any_measured(profile)) return "null";
    const auto units = static_cast<double>(profile.units);
    std::string out = "{";
    for (std::size_t step = 0; step < kWorkStepCount; ++step) {
        out += (step == 0 ? "" : ",") + json_string(kWorkSteps[step].name) + ":{";
        for (std::size_t event = 0; event < kCounterEventCount; ++event) {
            out += (event == 0 ? "" : ",") + json_string(kCounterEventNames[event]) + ":";
            out += profile.event_measured[event]
                       ? number("%.1f", static_cast<double>(profile.module_counts[step][event]) / units)
                       : "null";
        }
        out += "}";
    }
    return out + "}";
}

}  // namespace

std::string profile_json(const Profile& profile, const char* build) {
    const auto units = static_cast<double>(profile.units);
    std::string module_ms = "{";
    std::uint64_t unit_ns = 0;
    for (std::size_t step = 0; step < kWorkStepCount; ++step) {
        module_ms += (step == 0 ? "" : ",") + json_string(kWorkSteps[step].name) + ":" +
                     number("%.9g", static_cast<double>(profile.module_ns[step]) / units / 1e6);
        unit_ns += profile.module_ns[step];
    }
    char digest[17];
    std::snprintf(digest, sizeof digest, "%016" PRIx64, profile.state_digest);
    return "{\"profile_format\":1,\"build\":" + json_string(build) +
           ",\"warmup_units\":" + std::to_string(profile.warmup_units) +
           ",\"units\":" + std::to_string(profile.units) + ",\"state_digest\":\"" + digest + "\"" +
           ",\"processor_share\":" +
           (profile.processor_share < 0 ? std::string("null") : number("%.4f", profile.processor_share)) +
           ",\"unit_ms\":" + number("%.9g", static_cast<double>(unit_ns) / units / 1e6) +
           ",\"module_ms\":" + module_ms + "}" + ",\"module_counters\":" + module_counters_json(profile) +
           ",\"counters_unavailable\":" +
           (profile.counters_unavailable.empty() ? "null" : json_string(profile.counters_unavailable.c_str())) +
           "}\n";
}

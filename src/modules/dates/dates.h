// Date adjustment module: calendar arithmetic over dates in many dispatcher
// copies, with a decimal-digit Julian day computation.
#pragma once

#include <cstdint>

// The base date that every work unit resets and the step's phase.
extern std::int32_t base_year;
extern std::int32_t base_month;
extern std::int32_t base_day;
extern std::int32_t base_hour;
extern std::int32_t base_minute;
extern std::int32_t date_phase;
// The slots the work unit hands to every date step; never reset.
extern std::int32_t out_minute;
extern std::int32_t out_hour;
extern std::int32_t out_day;
extern std::int32_t out_month;

// Record cursor of the date step; never reset, it runs on across work units
// and runs.
extern std::int32_t date_cursor;
// Receives every computed Julian day number; nothing reads it.
extern std::int32_t julian_result;

// One scripted date step. The work unit always passes out_minute, out_hour,
// out_day, out_month and base_year.
void date_step(std::int32_t* minute_slot, std::int32_t* hour_slot, std::int32_t* day_slot,
               std::int32_t* month_slot, std::int32_t* year_slot);

// Date adjustment module: calendar arithmetic over dates in many dispatcher
// copies, with a decimal-digit Julian day computation.
#pragma once

#include <cstdint>

// Record cursor of the date step; never reset, it runs on across work units
// and runs.
extern std::int32_t date_cursor;
// Receives every computed Julian day number; nothing reads it.
extern std::int32_t julian_result;

// One scripted date step. The work unit always passes out_minute, out_hour,
// out_day, out_month and base_year.
void date_step(std::int32_t* minute_slot, std::int32_t* hour_slot, std::int32_t* day_slot,
               std::int32_t* month_slot, std::int32_t* year_slot);

#include "modules/database/database.h"

DbRecord* db_table = nullptr;
DbRecord* selection_buffer = nullptr;
DbRecord* flagged_buffer = nullptr;

std::int32_t mix1, mix2, mix3, mix4, mix5, mix6, mix7, mix8, mix9;
std::int32_t group_key, group_sum_a, group_sum_b, group_low_count, group_min, group_max;
std::int32_t total_sum, total_high_count, overall_min, overall_max, final_max;

// The database workload is not part of the set-up and work unit yet.
std::int32_t db_setup() { return 0; }
void db_release() {}
std::int32_t database_step() { return 0; }

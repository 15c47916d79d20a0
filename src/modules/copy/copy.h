// Data copy module: the memory-bandwidth part of the work unit.
#pragma once

// One call copies eight record fragments between the work tables, at a
// position that moves round a ring of 350 records, and every hundred calls
// three of them also copy two or three whole records.
void copy_step();

// Word analysis module: structural analysis and transliteration of syllables
// in many analyser copies.
#pragma once

#include <cstdint>

// The step's phase and record position; every work unit resets both.
extern std::int32_t word_phase;
extern std::int32_t word_position;

// One phase of the module's ten-phase script: a handful of syllable analyses
// on records near a position that climbs through long_records.
void word_step();

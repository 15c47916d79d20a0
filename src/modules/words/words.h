// Word analysis module: structural analysis and transliteration of syllables
// in many analyser copies.
#pragma once

// One phase of the module's ten-phase script: a handful of syllable analyses
// on records near a position that climbs through long_records.
void word_step();

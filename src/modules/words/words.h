// Word analysis module: structural analysis and transliteration of syllables
// in many analyser copies.
#pragma once

void word_step();

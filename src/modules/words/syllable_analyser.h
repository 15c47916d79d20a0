// The syllable analyser copies of the word analysis module.
//
// A syllable is split into its structural positions (prefix, superscribed
// letter, root, subjoined letters, vowels, suffix, post-suffix), each coded in
// one alphabet order; a syllable that does not fit the pattern is ill-formed
// and is transliterated letter by letter instead.
//
// The module runs 24 copies of the analyser in four groups of six. Each copy
// is its own code with its own helpers and result storage, and each group
// reads its own letter class table: the amount of code and data the step
// touches is part of what the benchmark measures. All copies share one
// syllable buffer, so analyses must never overlap.
#pragma once

#include <cstdint>

inline constexpr int kAnalyserCopies = 24;
inline constexpr int kCopiesPerGroup = 6;

// 15 letters and the NUL.
inline constexpr int kSyllableBufferSize = 16;
// 8 groups of (1, code), or fewer when marks make groups of three.
inline constexpr int kTranslitCodesSize = 16;
// "ERROR B: in text: " (18 characters), a 15-letter syllable and the NUL.
inline constexpr int kMessageTextSize = 34;

// Letter code of the root when the syllable starts with its vowel.
inline constexpr std::int32_t kRootOfLeadingVowel = 40;
// Transliteration code of byte 0x97, the mark that joins the preceding group.
inline constexpr std::int32_t kAttachedMarkCode = 218;

constexpr int analyser_group(int copy) { return (copy - 1) / kCopiesPerGroup + 1; }

extern unsigned char syllable_buffer[kSyllableBufferSize];
extern char message_text[kMessageTextSize];

// Kept as writable data rather than constants so that every analysis reads
// its group's table from memory; the four groups hold the same values.
template <int Group>
struct LetterClassTable {
    static unsigned char subjoinable_letters[5];
    static unsigned char vowel_letters[5];
    static std::int32_t vowel_codes[5];  // code of the vowel letter at the same index
};

struct SyllableResult {
    unsigned char done_marker;  // 0 while analysing, 1 well-formed, 2 transliterated
    std::int32_t prefix;
    std::int32_t superscript;
    std::int32_t root;
    std::int32_t subscript;
    std::int32_t subscript2;
    std::int32_t vowel;
    std::int32_t vowel2;
    std::int32_t vowel3;
    std::int32_t suffix;
    std::int32_t post_suffix;
    std::int32_t ill_formed;
    std::int32_t digraph_length;
};

// Copy number 1 to 24. Every member is instantiated once per copy in the
// module's source file; nothing here is shared between copies.
template <int Copy>
struct SyllableAnalyser {
    static_assert(Copy >= 1 && Copy <= kAnalyserCopies);
    static constexpr int kGroup = analyser_group(Copy);
    using Letters = LetterClassTable<kGroup>;

    static SyllableResult result;
    static unsigned char translit_codes[kTranslitCodesSize];
    static std::int32_t translit_length;

    // Analyses long_records[i].word (0 <= i < 700) and finishes it once.
    static void analyse_syllable(std::int32_t i);
    static void finish_syllable(std::int32_t i);

    static std::int32_t find_vowel(unsigned char letter, std::int32_t i);
    static std::int32_t match_digraph(std::int32_t q);
    static std::int32_t is_subjoinable(unsigned char letter);
    static std::int32_t letter_code(unsigned char letter);
    static std::int32_t vowel_code(unsigned char letter);
    static void transliterate_syllable();
    static std::int32_t translit_code(std::int32_t p);

    // Only the first group checks its result against a reference syllable.
    static std::int32_t same_text(const char* a, const char* b)
        requires(analyser_group(Copy) == 1);

private:
    static unsigned char letter_at(std::int32_t position);
    static void read_letters_before_vowel(std::int32_t v);
    static void read_letters_after_vowel(std::int32_t v);
};

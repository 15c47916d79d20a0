#include "modules/words/syllable_analyser.h"

#include <cstdio>
#include <cstring>

#include "workload/workload.h"
#include "workload/replicas.h"
#include "workload/report_error.h"
#include "workload/wrapping.h"

unsigned char syllable_buffer[kSyllableBufferSize];
char message_text[kMessageTextSize];

template <int Group>
unsigned char LetterClassTable<Group>::subjoinable_letters[5] = {'y', 'r', 'l', 'w', 'h'};
template <int Group>
unsigned char LetterClassTable<Group>::vowel_letters[5] = {'a', 'i', 'u', 'e', 'o'};
template <int Group>
std::int32_t LetterClassTable<Group>::vowel_codes[5] = {32, 130, 132, 133, 135};

template <int Copy>
SyllableResult SyllableAnalyser<Copy>::result;
template <int Copy>
unsigned char SyllableAnalyser<Copy>::translit_codes[kTranslitCodesSize];
template <int Copy>
std::int32_t SyllableAnalyser<Copy>::translit_length;

namespace {

constexpr char kReferenceSyllable[] = "bsgrubs";

}  // namespace

// Positions before the start of the syllable hold no letter.
template <int Copy>
unsigned char SyllableAnalyser<Copy>::letter_at(std::int32_t position) {
    return position >= 0 ? syllable_buffer[position] : 0;
}

template <int Copy>
std::int32_t SyllableAnalyser<Copy>::find_vowel(unsigned char letter, std::int32_t i) {
    for (int k = 0; k < 5; ++k) {
        if (letter == Letters::vowel_letters[k]) {
            const std::int32_t code = Letters::vowel_codes[k];
            // The total keeps growing as the data copy module carries totals
            // from record to record, so it wraps as 32-bit arithmetic.
            long_records[i].vowel_total =
                wrapping_add(wrapping_add(long_records[i].vowel_base, short_records[i].vowel_total), code);
            return code;
        }
    }
    return 0;
}

template <int Copy>
std::int32_t SyllableAnalyser<Copy>::vowel_code(unsigned char letter) {
    for (int k = 0; k < 5; ++k) {
        if (letter == Letters::vowel_letters[k]) return Letters::vowel_codes[k];
    }
    return 32;
}

template <int Copy>
std::int32_t SyllableAnalyser<Copy>::is_subjoinable(unsigned char letter) {
    for (int k = 0; k < 5; ++k) {
        if (letter == Letters::subjoinable_letters[k]) return 1;
    }
    return 0;
}

template <int Copy>
std::int32_t SyllableAnalyser<Copy>::letter_code(unsigned char letter) {
    switch (letter) {
        case '\'': return 32;
        case 'a': return 40;
        case 'b': return 22;
        case 'c': return 6;
        case 'd': return 17;
        case 'g': return 3;
        case 'h': return 39;
        case 'j': return 8;
        case 'k': return 1;
        case 'l': return 35;
        case 'm': return 24;
        case 'n': return 19;
        case 'p': return 20;
        case 'r': return 34;
        case 's': return 38;
        case 't': return 15;
        case 'w': return 29;
        case 'y': return 33;
        case 'z': return 31;
        default: return 0;
    }
}

// Root letters written with two or three characters, recognised from their
// last character backward.
template <int Copy>
std::int32_t SyllableAnalyser<Copy>::match_digraph(std::int32_t q) {
    const unsigned char letter = letter_at(q);
    const unsigned char before = letter_at(q - 1);
    std::int32_t code = 0;
    std::int32_t length = 2;
    if (letter == 'g' && before == 'n') {
        code = 5;
    } else if (letter == 's' && before == 't') {
        code = 25;
    } else if (letter == 'y' && before == 'n') {
        code = 9;
    } else if (letter == 'z' && before == 'd') {
        code = 27;
    } else if (letter == 'h') {
        switch (before) {
            case 'k': code = 2; break;
            case 'z': code = 30; break;
            case 's':
                if (letter_at(q - 2) == 't') {
                    code = 26;
                    length = 3;
                } else {
                    code = 36;
                }
                break;
            case 't': code = 16; break;
            case 'p': code = 21; break;
            case 'c': code = 7; break;
            default: break;
        }
    }
    result.digraph_length = code != 0 ? length : 0;
    return code;
}

template <int Copy>
void SyllableAnalyser<Copy>::analyse_syllable(std::int32_t i) {
    SyllableResult& r = result;
    r.done_marker = 0;
    r.prefix = r.superscript = r.root = r.subscript = r.subscript2 = 0;
    r.vowel = r.vowel2 = r.vowel3 = r.suffix = r.post_suffix = 0;

    // The word field is 16 bytes; a word that lost its NUL is cut to the 15
    // letters the buffer holds, so the buffer is always terminated.
    const char* const word = long_records[i].word;
    std::int32_t length = 0;
    for (; length < kSyllableBufferSize - 1 && word[length] != '\0'; ++length) {
        syllable_buffer[length] = static_cast<unsigned char>(word[length]);
    }
    syllable_buffer[length] = 0;

    r.ill_formed = 0;
    std::int32_t v = 0;
    for (; syllable_buffer[v] != 0; ++v) {
        r.vowel = find_vowel(syllable_buffer[v], i);
        if (r.vowel != 0) break;
    }
    if (r.vowel == 0) {
        // Without a vowel there is no root to anchor the positions on.
        r.ill_formed = 1;
    } else {
        read_letters_before_vowel(v);
        read_letters_after_vowel(v);
    }
    finish_syllable(i);
}

// Root, subjoined letters, superscribed letter and prefix, read backward from
// the vowel at position v.
template <int Copy>
void SyllableAnalyser<Copy>::read_letters_before_vowel(std::int32_t v) {
    SyllableResult& r = result;
    const unsigned char* const s = syllable_buffer;
    if (v == 0) {
        r.root = kRootOfLeadingVowel;
        return;
    }

    const std::int32_t q = v - 1;
    std::int32_t root_length = 1;
    r.root = match_digraph(q);
    if (r.root != 0) {
        root_length = r.digraph_length;
    } else {
        if (q > 0 && is_subjoinable(s[q])) {
            switch (s[q]) {
                case 'y':
                    // "g.y" spells a g prefix before a y root, not a subjoined y.
                    if (s[q - 1] != '.') r.subscript = 33;
                    break;
                case 'r': r.subscript = 34; break;
                case 'l': r.subscript = 35; break;
                case 'h': r.subscript = 39; break;
                case 'w': r.subscript = 29; break;
                default: break;
            }
            r.root = 0;
        }
        if (r.subscript == 0) r.root = letter_code(s[q]);
        if (r.subscript == 29 && s[q - 1] == 'r') {
            if (q == 1) {
                r.root = 34;
            } else {
                r.subscript = 34;
                r.subscript2 = 29;
                root_length = 2;
            }
        } else if (r.subscript == 39 && s[q - 1] == 'l') {
            r.root = 39;
            r.superscript = 35;
            r.subscript = 0;
        }
    }

    std::int32_t n = v - root_length;
    if (n == 0) return;

    if (r.subscript != 0) {
        const std::int32_t code = match_digraph(n - 1);
        if (code != 0) {
            r.root = code;
            n -= r.digraph_length;
        } else {
            r.root = letter_code(s[n - 1]);
            n -= 1;
        }
        if (n == 0) return;
    }

    n -= 1;
    bool superscribed = true;
    switch (s[n]) {
        case 'r': r.superscript = 34; break;
        case 'l': r.superscript = 35; break;
        case 's': r.superscript = 38; break;
        default: superscribed = false; break;
    }
    if (superscribed) {
        if (n == 0) return;
        n -= 1;
    }

    // Letters before the prefix position are not examined.
    switch (s[n]) {
        case 'b': r.prefix = 22; break;
        case 'd': r.prefix = 17; break;
        case 'g': r.prefix = 3; break;
        case 'm': r.prefix = 24; break;
        case '\'': r.prefix = 32; break;
        case '.':
            if (n > 0 && s[n - 1] == 'g') {
                r.prefix = 3;
                r.root = 33;
                r.subscript = 0;
            } else {
                r.ill_formed = 1;
            }
            break;
        default: r.ill_formed = 1; break;
    }
}

// Further vowels, suffix and post-suffix after the vowel at position v. Every
// letter read lies at or before the syllable's NUL.
template <int Copy>
void SyllableAnalyser<Copy>::read_letters_after_vowel(std::int32_t v) {
    SyllableResult& r = result;
    const unsigned char* const s = syllable_buffer;
    std::int32_t j = v + 1;
    if (s[j] == 0) return;
    if (s[j] == '\'') {
        r.vowel2 = vowel_code(s[j + 1]);
        // An apostrophe as the last letter ends the syllable there.
        if (s[j + 1] == 0) return;
        j += 2;
        if (s[j] == 0) return;
        if (s[j] == '\'') {
            r.vowel3 = vowel_code(s[j + 1]);
            return;
        }
    }

    if (s[j] == 'n' && s[j + 1] == 'g') {
        r.suffix = 5;
        j += 2;
    } else {
        r.suffix = letter_code(s[j]);
        j += 1;
    }

    if (s[j] == 0) return;
    if (s[j] == 's') {
        r.post_suffix = 38;
    } else {
        r.ill_formed = 1;
    }
    if (s[j + 1] != 0) r.ill_formed = 1;
}

template <int Copy>
void SyllableAnalyser<Copy>::finish_syllable(std::int32_t i) {
    if (result.ill_formed != 0) {
        transliterate_syllable();
    } else {
        result.done_marker = 1;
    }
    short_records[i].link = long_records[i].link;
    short_records[i].category = long_records[i].category;

    if constexpr (kGroup == 1) {
        const char* const text = reinterpret_cast<const char*>(syllable_buffer);
        if (same_text(text, kReferenceSyllable) &&
            !(result.superscript == 38 && result.root == 3 && result.suffix == 22)) {
            std::snprintf(message_text, sizeof message_text, "ERROR B: in text: %s", text);
            report_error(message_text);
        }
    }
}

// Each letter unit becomes a group (1, code), or (2, code, 218) when the
// attached mark follows it. Only whole groups are written: a syllable whose
// groups need more than the 16 bytes keeps the groups that fit and the rest
// of it is not transliterated.
template <int Copy>
void SyllableAnalyser<Copy>::transliterate_syllable() {
    result.done_marker = 2;
    std::memset(translit_codes, 0, sizeof translit_codes);
    std::int32_t j = 0;
    std::int32_t k = 0;
    while (syllable_buffer[j] != 0) {
        const std::int32_t code = translit_code(j);
        const std::int32_t unit_length = translit_length;
        const bool marked = translit_code(j + unit_length) == kAttachedMarkCode;
        const std::int32_t group_size = marked ? 3 : 2;
        if (k + group_size > kTranslitCodesSize) break;
        translit_codes[k] = marked ? 2 : 1;
        translit_codes[k + 1] = static_cast<unsigned char>(code);
        if (marked) translit_codes[k + 2] = static_cast<unsigned char>(kAttachedMarkCode);
        j += unit_length + (marked ? 1 : 0);
        k += group_size;
    }
}

// The letter at p is never the NUL when a following letter is examined, so
// no read goes past the syllable's end.
template <int Copy>
std::int32_t SyllableAnalyser<Copy>::translit_code(std::int32_t p) {
    const unsigned char* const s = syllable_buffer + p;
    std::int32_t code = 0;
    std::int32_t length = 1;
    const auto unit = [&](std::int32_t unit_code, std::int32_t unit_length) {
        code = unit_code;
        length = unit_length;
    };
    // Letters that a following "h" turns into their aspirated unit.
    const auto aspirated_by_h = [&](std::int32_t plain, std::int32_t aspirated) {
        if (s[1] == 'h') {
            unit(aspirated, 2);
        } else {
            unit(plain, 1);
        }
    };
    // t and d: with s or z the affricate ts or dz, aspirated by a further
    // "h"; otherwise the plain letter, aspirated by "h".
    const auto affricate_or_aspirated = [&](unsigned char second, std::int32_t affricate,
                                            std::int32_t aspirated_affricate, std::int32_t plain,
                                            std::int32_t aspirated) {
        if (s[1] != second) {
            aspirated_by_h(plain, aspirated);
        } else if (s[2] == 'h') {
            unit(aspirated_affricate, 3);
        } else {
            unit(affricate, 2);
        }
    };
    switch (s[0]) {
        case 0x81: code = 200; break;
        case 0x83: code = 201; break;
        case 0x85: code = 202; break;
        case 0x87:
            if (s[1] == 'i') {
                unit(203, 2);
            } else if (s[1] == 0xC9) {
                unit(204, 2);
            } else {
                unit(203, 1);
            }
            break;
        case 0x89: unit(204, s[1] == 'i' || s[1] == 0xC9 ? 2 : 1); break;
        case 0x8B: code = 205; break;
        case 0x8D: code = 206; break;
        case 0x8F: code = 5; break;
        case 0x91: aspirated_by_h(10, 11); break;
        case 0x93: aspirated_by_h(12, 13); break;
        case 0x95: code = 14; break;
        case 0x97: code = kAttachedMarkCode; break;
        case 0x99: code = 36; break;
        case 0x9D: code = 37; break;
        case 0xA0: code = 137; break;
        case 0xA4: code = 9; break;
        case 't': affricate_or_aspirated('s', 25, 26, 15, 16); break;
        case 'p': aspirated_by_h(20, 21); break;
        case 'n': code = 19; break;
        case 'k':
            if (s[1] == 0x9D) {
                unit(41, 2);
            } else {
                aspirated_by_h(1, 2);
            }
            break;
        case 'j': aspirated_by_h(27, 28); break;
        case 'g': aspirated_by_h(3, 4); break;
        case 'd': affricate_or_aspirated('z', 27, 28, 17, 18); break;
        // In this scheme c and ch take the codes of ts and tsh.
        case 'c': aspirated_by_h(25, 26); break;
        case 'b': aspirated_by_h(22, 23); break;
        case '.': code = 255; break;
        case '\'': code = 32; break;
        default: break;
    }
    translit_length = length;
    return code;
}

#define PT_LETTER_CLASS_TABLE(n) template struct LetterClassTable<n>;
#define PT_ANALYSER(n) template struct SyllableAnalyser<n>;

PT_LETTER_CLASS_TABLE(1) PT_LETTER_CLASS_TABLE(2) PT_LETTER_CLASS_TABLE(3) PT_LETTER_CLASS_TABLE(4)

PT_TEN_COPIES(PT_ANALYSER, 1)
PT_TEN_COPIES(PT_ANALYSER, 11)
PT_ANALYSER(21) PT_ANALYSER(22) PT_ANALYSER(23) PT_ANALYSER(24)

#undef PT_ANALYSER
#undef PT_LETTER_CLASS_TABLE

// Only the first group has the comparison. It is defined after the copies
// and instantiated for that group alone: a compiler that instantiates every
// member of an instantiated class, constraints or not (Clang 14 does), would
// otherwise give every copy a body that is never called.
template <int Copy>
std::int32_t SyllableAnalyser<Copy>::same_text(const char* a, const char* b)
    requires(analyser_group(Copy) == 1)
{
    for (std::int32_t k = 0;; ++k) {
        if (a[k] != b[k]) return 0;
        if (a[k] == '\0') return 1;
    }
}

#define PT_SAME_TEXT(n) template std::int32_t SyllableAnalyser<n>::same_text(const char*, const char*);
PT_SAME_TEXT(1) PT_SAME_TEXT(2) PT_SAME_TEXT(3) PT_SAME_TEXT(4) PT_SAME_TEXT(5) PT_SAME_TEXT(6)
#undef PT_SAME_TEXT

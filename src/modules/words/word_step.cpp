#include <cstdint>

#include "workload/workload.h"
#include "modules/words/syllable_analyser.h"
#include "modules/words/words.h"

std::int32_t word_phase;
std::int32_t word_position;

namespace {

constexpr std::int32_t kPositionStep = 17;
// 680 + the largest offset of the script (16) is record 696, the last one a
// phase may reach inside the 700 records.
constexpr std::int32_t kPositionWrap = 681;
constexpr std::int32_t kRestartPositions = 20;
constexpr std::int32_t kLastPhase = 9;

template <int Copy>
inline void analyse(std::int32_t record) {
    SyllableAnalyser<Copy>::analyse_syllable(record);
}

}  // namespace

// One cycle of the ten phases runs all 24 copies, 64 analyses in all; each
// call is copy(record at the position + offset).
void word_step() {
    const std::int32_t p = word_position;
    const std::int32_t phase = word_phase;
    // A phase outside 0..8 can only come from corrupted state; it runs as the
    // last phase and the script starts over.
    word_phase = phase >= 0 && phase < kLastPhase ? phase + 1 : 0;

    switch (phase) {
        case 0:
            analyse<11>(p + 11); analyse<9>(p + 5); analyse<10>(p + 6); analyse<14>(p + 3); analyse<22>(p + 7);
            analyse<19>(p + 12); analyse<1>(p + 7); analyse<5>(p + 0); analyse<3>(p + 8); analyse<6>(p + 6);
            analyse<2>(p + 5); analyse<7>(p + 7); analyse<12>(p + 9); analyse<8>(p + 2); analyse<21>(p + 13);
            analyse<17>(p + 10); analyse<16>(p + 2); analyse<15>(p + 11); analyse<13>(p + 3); analyse<4>(p + 4);
            analyse<18>(p + 4); analyse<20>(p + 5); analyse<23>(p + 9); analyse<24>(p + 6);
            break;
        case 1:
            analyse<4>(p + 12); analyse<7>(p + 7); analyse<5>(p + 11); analyse<23>(p + 15); analyse<22>(p + 14);
            analyse<2>(p + 13); analyse<15>(p + 12); analyse<16>(p + 6); analyse<22>(p + 3); analyse<3>(p + 16);
            break;
        case 2:
            analyse<4>(p + 8); analyse<12>(p + 4); analyse<18>(p + 5); analyse<21>(p + 2); analyse<14>(p + 6);
            analyse<3>(p + 3);
            break;
        case 3:
            analyse<6>(p + 13); analyse<12>(p + 11); analyse<15>(p + 9); analyse<21>(p + 7); analyse<4>(p + 11);
            break;
        case 4: analyse<19>(p + 8); analyse<18>(p + 7); analyse<10>(p + 11); analyse<1>(p + 9); break;
        case 5: analyse<23>(p + 7); analyse<15>(p + 9); analyse<11>(p + 11); analyse<5>(p + 12); break;
        case 6: analyse<2>(p + 3); analyse<12>(p + 7); analyse<15>(p + 9); break;
        case 7: analyse<23>(p + 8); analyse<15>(p + 7); analyse<10>(p + 11); break;
        case 8: analyse<19>(p + 8); analyse<13>(p + 7); analyse<6>(p + 11); break;
        default: analyse<10>(p + 15); analyse<15>(p + 9); break;
    }

    word_position = p + kPositionStep;
    if (word_position >= kPositionWrap) word_position = module_random() % kRestartPositions;
}

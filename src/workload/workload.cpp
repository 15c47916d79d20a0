#include "workload/workload.h"

#include <cstring>

#include "workload/wrapping.h"

WorkRecord long_records[kRecordCount];
WorkRecord short_records[kRecordCount];
std::int32_t index_table[kRecordCount];

std::int32_t module_seed = 7;
std::int32_t go_intern;
std::int32_t copy_size_a;
std::int32_t copy_size_b;
std::int32_t copy_size_c;

namespace {

// Index 30 of both word lists is "sangs"; the short list replaces some long
// entries with words spelt in extended letters (bytes 128 to 255).
const char* const long_words[31] = {
    "bsgrubs", "spre'u'i", "bshogs", "snyongs", "dbyings", "sgrigs", "brnyas", "gzigs",
    "tshogs",  "thems",    "msdongs", "klod",   "rgyums",  "'jigs",  "ljin",   "smegs",
    "brdzun",  "'dzems",   "gshongs", "hrol",   "nyi",     "'phyis", "gcags",  "gshin",
    "pags",    "mcher",    "mtshubs", "spad",   "zam",     "gsum",   "sangs",
};

const char* const short_words[31] = {
    "bsgrubs", "spre'u'i", "bshogs", "snyongs", "dbyings",
    "\x73\x77\x61\x62\x68\x81\x77\x61",
    "\x68\x85\x97",
    "\x6D\x61\x68\x81\x6B\x81\x6C\x61",
    "tshogs",
    "\x6E\x87\x83\x74\x79\x81\x97",
    "msdongs", "klod", "rgyums", "'jigs",
    "\x76\x69\x67\x68\x95\x81\x6E\x74\x61",
    "smegs", "brdzun",
    "\x99\x72\x83\x64\x65\x76\x83",
    "gshongs", "hrol",
    "\x9D\x91\x72\x6F\x74\x6B\x61",
    "'phyis",
    "\x74\x61\x74\x69\x9D\x91\x68\x61",
    "gshin",
    "\x61\x62\x68\x69\x9D\x69\xA4\x63\x61",
    "\x70\x72\x61\x74\x83\x63\x63\x68\x61",
    "mtshubs",
    "\x91\x77\x81\x97",
    "\x73\x91\x68\x85\x97",
    "\x6B\x9D\x6D\x6C\x81\x97",
    "sangs",
};

const char* const long_expressions[15] = {
    "((2+3*7)+3+1)/2", "(7+2)+2+2+1",     "7*(43-2-5-17)", "(2+3)*(4-2-1-5)",   "3+(4*5-17)",
    "(5*7-12)+79",     "((143+100)*4)/9", "37+12*(7+2)",   "1+27/7+43+2+3",     "2*(3+26)-4-1-4",
    "3*27+(73/2)",     "22+2*(900+1+3*596)", "(3+12)*(4-3-2)", "43-2+79-2+5",   "6/(6-2-1-1)",
};

const char* const short_expressions[15] = {
    "((2+3*7)+4)/2", "(7+2)+5",       "7*(43-17)",   "(2+3)*(7-5)", "3+(4*5-17)",
    "(5*7-12)+79",   "((3+7)*2)/9",   "37+12*(7+2)", "27/7+43",     "2*(3+26)-4",
    "3*27+(73/2)",   "2+2*(3+3*2)",   "(3+12)*(7-2)", "43-2+79-2+5", "6/(4-1)",
};

void fill_text(char* text, int length) {
    for (int i = 0; i < length; ++i) text[i] = static_cast<char>(module_random() % 60 + 28);
    text[length] = '\0';
}

void copy_text(char* field, const char* entry) { std::memcpy(field, entry, std::strlen(entry) + 1); }

void fill_records(WorkRecord* records, int text1_base, int text2_base, const char* const* words,
                  const char* const* expressions) {
    for (int r = 0; r < kRecordCount; ++r) {
        WorkRecord& record = records[r];
        fill_text(record.text1, module_random() % 10 + text1_base);
        fill_text(record.text2, module_random() % 5 + text2_base);
        copy_text(record.word, words[module_random() % 31]);
        copy_text(record.expression, expressions[module_random() % 15]);
        record.offset = 110 - module_random() % 221;
        record.amount = module_random() % 1000 + 1;
        record.link = module_random() % 699 + 1;
        record.selector = module_random() % 108 + 1;
        record.category = module_random() % 6 + 1;
    }
}

}  // namespace

std::int32_t module_random() {
    // The division (not a shift) rounds a negative seed toward zero.
    module_seed = wrapping_add(wrapping_multiply(module_seed, 1103515245), 12345);
    return (module_seed / 65536) & 0x7FFF;
}

void fill_work_tables() {
    for (int i = 0; i < kRecordCount; ++i) {
        const std::int32_t v = module_random() % 700;
        index_table[i] = i % 16 == 0 ? v : v / 4;
    }
    module_seed = 7;
    fill_records(long_records, 54, 107, long_words, long_expressions);
    fill_records(short_records, 20, 9, short_words, short_expressions);
}

void set_copy_sizes() {
    copy_size_a = kCopySizeA;
    copy_size_b = kCopySizeB;
    copy_size_c = kCopySizeC;
}

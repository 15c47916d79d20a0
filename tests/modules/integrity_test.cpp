// The built program itself shows that every replica copy is code and data of
// its own: the benchmark's executed code size is part of what it measures,
// so copies must not be folded together, and results nobody reads must not
// be optimised away.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "build_flags.h"
#include "build_info.h"

namespace {

struct Symbol {
    unsigned long long address = 0;
    unsigned long long size = 0;
    char type = '?';
    std::string name;
};

// The defined symbols of the program, demangled, with their sizes.
const std::vector<Symbol>& program_symbols() {
    static const std::vector<Symbol> symbols = [] {
        std::vector<Symbol> result;
        const std::string command = std::string("nm -C --defined-only -S '") + PT_BINARY + "'";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return result;
        char line[4096];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            Symbol s;
            int name_at = 0;
            if (std::sscanf(line, "%llx %llx %c %n", &s.address, &s.size, &s.type, &name_at) < 3) continue;
            s.name = line + name_at;
            while (!s.name.empty() && (s.name.back() == '\n' || s.name.back() == '\r')) s.name.pop_back();
            result.push_back(s);
        }
        pclose(pipe);
        return result;
    }();
    return symbols;
}

// Symbols "Family<args>::member" (a routine when member ends in "(").
// Returns the copies found, keyed by their template arguments.
std::map<std::string, Symbol> copies_of(const std::string& family, const std::string& member) {
    std::map<std::string, Symbol> copies;
    for (const Symbol& s : program_symbols()) {
        const std::string& n = s.name;
        if (n.compare(0, family.size() + 1, family + "<") != 0) continue;
        const std::size_t close = n.find(">::", family.size());
        if (close == std::string::npos) continue;
        const std::string args = n.substr(family.size() + 1, close - family.size() - 1);
        if (args.find_first_not_of("0123456789, ") != std::string::npos) continue;
        const std::string rest = n.substr(close + 3);
        const bool routine = !member.empty() && member.back() == '(';
        if (routine ? rest.compare(0, member.size(), member) == 0 : rest == member) copies[args] = s;
    }
    return copies;
}

bool is_code(char type) { return type == 'T' || type == 't' || type == 'W' || type == 'w'; }
bool is_data(char type) {
    return type == 'B' || type == 'b' || type == 'D' || type == 'd' || type == 'V' || type == 'v' || type == 'u' ||
           type == 'R' || type == 'r';
}

// Folded copies share an address, or one becomes a few bytes that jump to
// the other; a copy of its own is a body (or storage) of its own at an address
// of its own.
void expect_distinct(const std::string& family, const std::string& member, std::size_t expected, bool code) {
    const auto copies = copies_of(family, member);
    EXPECT_EQ(copies.size(), expected) << family << "::" << member;
    std::set<unsigned long long> addresses;
    for (const auto& [args, s] : copies) {
        EXPECT_TRUE(code ? is_code(s.type) : is_data(s.type)) << s.name;
        if (code) {
            EXPECT_GE(s.size, 8u) << s.name << " is too small to be a body of its own";
        } else {
            EXPECT_GT(s.size, 0u) << s.name;
        }
        addresses.insert(s.address);
    }
    EXPECT_EQ(addresses.size(), copies.size())
        << family << "::" << member << (code ? ": copies share an address" : ": copies share storage");
}

void expect_distinct_routines(const std::string& family, const std::string& member, std::size_t expected) {
    expect_distinct(family, member, expected, true);
}

void expect_distinct_storage(const std::string& family, const std::string& member, std::size_t expected) {
    expect_distinct(family, member, expected, false);
}

void expect_global(const char* name, char kind) {
    for (const Symbol& s : program_symbols()) {
        if (s.name == name) {
            EXPECT_TRUE(kind == 'd' ? is_data(s.type) : is_code(s.type)) << name;
            EXPECT_TRUE(s.type >= 'A' && s.type <= 'Z') << name << " must have external linkage";
            return;
        }
    }
    ADD_FAILURE() << name << " is not in the program";
}

}  // namespace

TEST(Integrity, BuildKeepsCopiesApartAndDoesNotOptimiseAcrossFiles) {
    const std::string flags = PT_WORKLOAD_FLAGS;
    // The last word on folding wins: it must be ours, turning it off. GCC
    // folds by default; Clang merges nothing unless asked.
    const auto turned_off = [&flags](const char* on, const char* off) {
        const std::size_t off_at = flags.rfind(off);
        const std::size_t on_at = flags.rfind(on);
        return on_at == std::string::npos || (off_at != std::string::npos && on_at < off_at);
    };
    if (std::string(PT_COMPILER_ID) == "GNU") {
        EXPECT_NE(flags.find("-fno-ipa-icf"), std::string::npos) << flags;
    }
    EXPECT_TRUE(turned_off("-fipa-icf", "-fno-ipa-icf")) << flags;
    EXPECT_TRUE(turned_off("-fmerge-all-constants", "-fno-merge-all-constants")) << flags;
    EXPECT_EQ(flags.find("merge-functions"), std::string::npos) << flags;
    EXPECT_EQ(flags.find("-flto"), std::string::npos) << flags;
    const std::string ipo = PT_WORKLOAD_IPO;
    EXPECT_TRUE(ipo.empty() || ipo == "OFF" || ipo == "FALSE" || ipo == "0") << ipo;
    EXPECT_EQ(std::string(PT_LINK_FLAGS).find("icf"), std::string::npos) << PT_LINK_FLAGS;
    EXPECT_EQ(std::string(PT_LINK_FLAGS).find("lto"), std::string::npos) << PT_LINK_FLAGS;
}

TEST(Integrity, EveryReplicaCopyIsARoutineOfItsOwn) {
    ASSERT_FALSE(program_symbols().empty()) << "nm found no symbols in " << PT_BINARY;
    // Dates: 110 dispatchers (10 working, one of them with the Julian day;
    // 100 for records in 10 groups), their adjusters, month and leap tests.
    const std::size_t working = copies_of("WorkingDate", "adjust_working_date(").size() +
                                copies_of("WorkingDate", "adjust_date_with_julian(").size();
    const std::size_t record = copies_of("RecordDate", "reset_record_date(").size() +
                               copies_of("RecordDate", "adjust_record_date(").size();
    EXPECT_EQ(working, 10u);
    EXPECT_EQ(record, 100u);
    expect_distinct_routines("WorkingDate", "adjust_working_date(", 9);
    expect_distinct_routines("WorkingDate", "adjust_date_with_julian(", 1);
    expect_distinct_routines("RecordDate", "reset_record_date(", 10);
    expect_distinct_routines("RecordDate", "adjust_record_date(", 90);
    expect_distinct_routines("RecordDate", "record_forward(", 100);
    expect_distinct_routines("RecordDate", "record_backward(", 100);
    expect_distinct_routines("WorkingDate", "working_forward(", 10);
    expect_distinct_routines("WorkingDate", "working_backward(", 10);
    EXPECT_EQ(copies_of("RecordDate", "follows_30_day_month(").size() +
                  copies_of("WorkingDate", "follows_30_day_month(").size(),
              110u);
    expect_distinct_routines("RecordDate", "follows_30_day_month(", 100);
    expect_distinct_routines("WorkingDate", "follows_30_day_month(", 10);
    expect_distinct_routines("LeapYearTest", "is_leap_year(", 14);
    expect_distinct_storage("MonthTable", "after_30_day_months", 11);

    // Words, parsing, library.
    expect_distinct_routines("SyllableAnalyser", "analyse_syllable(", 24);
    expect_distinct_routines("SyllableAnalyser", "finish_syllable(", 24);
    expect_distinct_routines("SyllableAnalyser", "transliterate_syllable(", 24);
    expect_distinct_routines("SyllableAnalyser", "same_text(", 6);
    expect_distinct_routines("Evaluator", "parse_and_evaluate(", 150);
    expect_distinct_routines("Evaluator", "build_expression_tree(", 150);
    expect_distinct_routines("Evaluator", "evaluate_tree_node(", 150);
    expect_distinct_routines("FormatterCopy", "format_engine(", 3);
    expect_distinct_routines("FormatterCopy", "format_to_buffer(", 3);
}

TEST(Integrity, ResultsNobodyReadsAreStorageOfTheirOwn) {
    // One set per copy, at an address of its own.
    expect_distinct_storage("SyllableAnalyser", "result", 24);
    expect_distinct_storage("SyllableAnalyser", "translit_codes", 24);
    expect_distinct_storage("Evaluator", "node_table", 150);
    expect_distinct_storage("Evaluator", "operand_stack", 150);
    expect_distinct_storage("WorkingDate", "work_day", 10);
    expect_distinct_storage("FormatterCopy", "space_block", 3);
    expect_distinct_storage("FormatterCopy", "zero_block", 3);
    // Process-wide results with external linkage.
    for (const char* name : {"julian_result", "out_minute", "out_hour", "out_day", "out_month", "group_key",
                             "group_sum_a", "total_sum", "overall_min", "final_max", "mix1", "mix9"}) {
        expect_global(name, 'd');
    }
}

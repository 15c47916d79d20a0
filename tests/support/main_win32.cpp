// The test program's entry for the Windows build. GoogleTest's own printer
// also hands every failure and skip to OutputDebugStringA, which raises an
// exception that Wine's 32-bit loader cannot unwind when it runs in a
// user-mode emulator; this printer writes to standard output only, and ends
// with one "N passed, N failed, N skipped" line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class PlainPrinter : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo& test) override {
        std::printf("[ RUN      ] %s.%s\n", test.test_suite_name(), test.name());
        std::fflush(stdout);
    }

    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (result.type() == ::testing::TestPartResult::kSuccess) return;
        std::printf("%s:%d: %s\n%s\n", result.file_name() != nullptr ? result.file_name() : "(unknown)",
                    result.line_number(), result.skipped() ? "Skipped" : "Failure", result.message());
        std::fflush(stdout);
    }

    void OnTestEnd(const ::testing::TestInfo& test) override {
        const ::testing::TestResult& result = *test.result();
        const char* status = "[       OK ]";
        if (result.Failed()) {
            status = "[  FAILED  ]";
            ++failed_;
            failed_names_.push_back(std::string(test.test_suite_name()) + "." + test.name());
        } else if (result.Skipped()) {
            status = "[  SKIPPED ]";
            ++skipped_;
        } else {
            ++passed_;
        }
        std::printf("%s %s.%s (%lld ms)\n", status, test.test_suite_name(), test.name(),
                    static_cast<long long>(result.elapsed_time()));
        std::fflush(stdout);
    }

    void OnTestProgramEnd(const ::testing::UnitTest&) override {
        for (const std::string& name : failed_names_) std::printf("[  FAILED  ] %s\n", name.c_str());
        std::printf("%d passed, %d failed, %d skipped\n", passed_, failed_, skipped_);
        std::fflush(stdout);
    }

private:
    int passed_ = 0;
    int failed_ = 0;
    int skipped_ = 0;
    std::vector<std::string> failed_names_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
    listeners.Append(new PlainPrinter);
    return RUN_ALL_TESTS();
}

// The INI layer behind the result file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

bool set(const std::string& file, const char* section, const char* key, const char* value) {
    return profile_write_string(section, key, value, file.c_str());
}
bool flush(const std::string& file) { return profile_write_string(nullptr, nullptr, nullptr, file.c_str()); }

std::string read_text(const std::string& file, const char* section, const char* key, const char* fallback = "-") {
    char buffer[100];
    profile_read_string(section, key, fallback, buffer, sizeof buffer, file.c_str());
    return buffer;
}

}  // namespace

TEST(Profile, CreatesFileSectionAndKey) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    ASSERT_TRUE(set(f, "Test", "Result", "3.37 "));
    EXPECT_FALSE(file_exists(f)) << "writes wait for the flush";
    ASSERT_TRUE(flush(f));
    EXPECT_EQ(read_file(f), "[Test]\nResult=3.37 \n");
}

TEST(Profile, KeepsEveryUntouchedLineAndAddsKeysAtTheEndOfTheirSection) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    write_file(f,
               "; comment\n"
               "[parent]\n"
               "  Message = 1024 \n"
               "\n"
               "[TEST]\n"
               "Other=keep me\n"
               "result=old\n"
               "garbage line\n"
               "\n"
               "[Last]\n"
               "k=v");
    ASSERT_TRUE(set(f, "test", "RESULT", "9"));
    ASSERT_TRUE(set(f, "Test", "Error", "boom"));
    ASSERT_TRUE(set(f, "New", "a", "b"));
    ASSERT_TRUE(flush(f));
    EXPECT_EQ(read_file(f),
              "; comment\n"
              "[parent]\n"
              "  Message = 1024 \n"
              "\n"
              "[TEST]\n"
              "Other=keep me\n"
              "RESULT=9\n"
              "garbage line\n"
              "Error=boom\n"
              "\n"
              "[Last]\n"
              "k=v\n"
              "[New]\n"
              "a=b\n");
}

TEST(Profile, DeletingRemovesOnlyThatKeyAndMissingKeysAreNoOps) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    write_file(f, "[Test]\nNote=x\nError=y\nResult=z\n[Other]\nNote=stays\n");
    ASSERT_TRUE(set(f, "Test", "Note", nullptr));
    ASSERT_TRUE(set(f, "Test", "Missing", nullptr));
    ASSERT_TRUE(set(f, "Nowhere", "Note", nullptr));
    ASSERT_TRUE(flush(f));
    EXPECT_EQ(read_file(f), "[Test]\nError=y\nResult=z\n[Other]\nNote=stays\n");

    // Deleting from a file that does not exist does not create it.
    const std::string none = dir.file("none.ini");
    ASSERT_TRUE(set(none, "Test", "Note", nullptr));
    ASSERT_TRUE(flush(none));
    EXPECT_FALSE(file_exists(none));
}

TEST(Profile, ReadsTrimBlanksAndOnePairOfQuotes) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    write_file(f,
               "[Parent]\r\n"
               "WindowTitle =  \"My Window\"  \r\n"
               "Single='x'\r\n"
               "Half=\"open\r\n"
               "Message=  1025\r\n"
               "Hex=0x2A00007\r\n"
               "Negative=-12\r\n"
               "Junk=abc\r\n");
    EXPECT_EQ(read_text(f, "PARENT", "windowtitle"), "My Window");
    EXPECT_EQ(read_text(f, "Parent", "Single"), "x");
    EXPECT_EQ(read_text(f, "Parent", "Half"), "\"open");
    EXPECT_EQ(read_text(f, "Parent", "Absent", "fallback"), "fallback");
    EXPECT_EQ(read_text(f, "Nope", "Message", ""), "");
    EXPECT_EQ(profile_read_int("Parent", "Message", 0, f.c_str()), 1025);
    EXPECT_EQ(profile_read_int("Parent", "Hex", 0, f.c_str()), 0x2A00007);
    EXPECT_EQ(profile_read_int("Parent", "Negative", 0, f.c_str()), -12);
    EXPECT_EQ(profile_read_int("Parent", "Junk", 5, f.c_str()), 0);
    EXPECT_EQ(profile_read_int("Parent", "Absent", 5, f.c_str()), 5);
    EXPECT_EQ(profile_read_int("Parent", "Message", 5, dir.file("none.ini").c_str()), 5);
}

TEST(Profile, ReadsTruncateToTheBufferAndSeeUnflushedWrites) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    write_file(f, "[Parent]\nWindowTitle=" + std::string(150, 't') + "\n");
    char buffer[100];
    EXPECT_EQ(profile_read_string("Parent", "WindowTitle", "", buffer, sizeof buffer, f.c_str()), 99u);
    EXPECT_EQ(std::string(buffer), std::string(99, 't'));

    ASSERT_TRUE(set(f, "Parent", "Message", "77"));
    EXPECT_EQ(profile_read_int("Parent", "Message", 0, f.c_str()), 77);
    ASSERT_TRUE(flush(f));
}

TEST(Profile, CrLfFilesGetCrLfLines) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    write_file(f, "[Test]\r\nOwner=me\r\n");
    ASSERT_TRUE(set(f, "Test", "Result", "1 "));
    ASSERT_TRUE(flush(f));
    EXPECT_EQ(read_file(f), "[Test]\r\nOwner=me\r\nResult=1 \r\n");
}

TEST(Profile, ValuesStayOnOneLine) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    ASSERT_TRUE(set(f, "Test", "Error", "line one\n[Evil]\nx=1\\2\r"));
    ASSERT_TRUE(flush(f));
    EXPECT_EQ(read_file(f), "[Test]\nError=line one\\n[Evil]\\nx=1\\\\2\\r\n");
}

TEST(Profile, FlushReplacesTheFileAtomicallyKeepingItsMode) {
    TempDir dir;
    const std::string f = dir.file("r.ini");
    write_file(f, "[Test]\n");
    ASSERT_EQ(chmod(f.c_str(), 0640), 0);
    struct stat before{};
    ASSERT_EQ(stat(f.c_str(), &before), 0);
    ASSERT_TRUE(set(f, "Test", "Result", "1"));
    ASSERT_TRUE(flush(f));
    struct stat after{};
    ASSERT_EQ(stat(f.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file was renamed into place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    // Nothing but the result file is left in the directory.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(Profile, WritesThroughASymbolicLinkToItsTarget) {
    TempDir dir;
    write_file(dir.file("real.ini"), "[A]\n");
    std::filesystem::create_symlink("real.ini", dir.file("link.ini"));
    ASSERT_TRUE(set(dir.file("link.ini"), "A", "k", "v"));
    ASSERT_TRUE(flush(dir.file("link.ini")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(read_file(dir.file("real.ini")), "[A]\nk=v\n");
}

TEST(Profile, FailuresAreReported) {
    TempDir dir;
    // A missing directory: the write is collected, the flush fails.
    const std::string missing = dir.file("no/such/r.ini");
    ASSERT_TRUE(set(missing, "Test", "Result", "1"));
    EXPECT_FALSE(flush(missing));
    // A directory where the file should be cannot be read.
    std::filesystem::create_directory(dir.file("d.ini"));
    EXPECT_FALSE(set(dir.file("d.ini"), "Test", "Result", "1"));
    EXPECT_TRUE(flush(dir.file("d.ini")));  // nothing was collected
}

TEST(Profile, WritingAnotherFileFlushesTheFirst) {
    TempDir dir;
    ASSERT_TRUE(set(dir.file("a.ini"), "S", "k", "1"));
    ASSERT_TRUE(set(dir.file("b.ini"), "S", "k", "2"));
    EXPECT_EQ(read_file(dir.file("a.ini")), "[S]\nk=1\n");
    ASSERT_TRUE(flush(dir.file("b.ini")));
    EXPECT_EQ(read_file(dir.file("b.ini")), "[S]\nk=2\n");
}

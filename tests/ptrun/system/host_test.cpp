// What the system says of the host and its files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ptrun/system/host.h"
#include "ptrun/system/win32/command_line.h"
#include "support/test_support.h"

using namespace ptrun;

// The digest of the contents: a name with a backslash or a line break
// changes nothing (sha256sum would escape it and begin with a backslash).
TEST(PtrunSystemHost, Sha256OfTheContentsWhateverTheName) {
    TempDir dir;
#ifdef _WIN32
    const std::vector<std::string> names = {"pt", "p t", "-pt"};
#else
    const std::vector<std::string> names = {"pt", "p\\t", "p\nt", "-pt"};
#endif
    for (const std::string& name : names) {
        write_file(dir.file(name), "abc");
        EXPECT_EQ(sha256_of_file(dir.file(name)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")
            << name;
    }
    EXPECT_EQ(sha256_of_file(dir.file("missing")), "unknown");
}

// The C runtime's rules: quotes around blanks and empty arguments,
// backslashes doubled only before a quote.
TEST(PtrunSystemHost, WindowsCommandLineQuotesOnlyWhatItMust) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"C:\\pt\\pt.exe", "r.ini"}, "\"C:\\pt\\pt.exe\" r.ini"},
        {{"p", "two words", ""}, "\"p\" \"two words\" \"\""},
        {{"p", "say \"hi\""}, "\"p\" \"say \\\"hi\\\"\""},
        {{"p", "C:\\dir\\", "C:\\a b\\"}, "\"p\" C:\\dir\\ \"C:\\a b\\\\\""},
        {{"p", "a\\\\\"b"}, "\"p\" \"a\\\\\\\\\\\"b\""},
    };
    for (const auto& [arguments, line] : cases) EXPECT_EQ(windows_command_line(arguments), line);
}

TEST(PtrunSystemHost, DescribesItselfAndMakesPrivateFolders) {
    const HostDescription host = describe_host();
    EXPECT_FALSE(host.hostname.empty());
    EXPECT_FALSE(host.system.empty());
    EXPECT_GE(host.logical, static_cast<long>(usable_processors().size()));
    EXPECT_GT(host.memory_bytes, 0u);
    TempDir dir;
    std::string error;
    const std::string one = make_private_folder(dir.path(), error);
    const std::string two = make_private_folder(dir.path(), error);
    EXPECT_TRUE(may_write_in(one)) << error;
    EXPECT_NE(one, two);
}

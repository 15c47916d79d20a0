// The real program's command-line failures, seen from outside: exit code,
// output file and result file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

const std::string kUsage =
    "Usage: pt [/o=outfilename] [/test=module] [/break]\n\nWhere:\n"
    "       outfilename is the name of the output file\n"
    "       module is an integer 1-9:\n"
    "        1: data copy       2: data compression\n"
    "        3: date adjustment 4: word analysis\n"
    "        5: parsing         6: library\n"
    "        7: database        8: all\n"
    "        9: non-database\n"
    "       /break prompts at start and end of timed sections\n";

// The usage text as a one-line INI value.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

// Standard error's first line names the (first) argument at fault; the usage text says only what is allowed.
TEST(Cli, UsageErrorGoesToTheOutputFileAfterTheErrorPrefix) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"/o=out.txt", "/x"}, "unknown option /x"},
        {{"/o=out.txt", "/test=10"}, "/test=10: the module is a number from 0 to 9"},
        {{"/o=out.txt", "a", "b", "c"}, "a second result file: b"},
        {{"/breakx", "/o=out.txt", "/"}, "unknown option /breakx"},
        {{"/test=9", "-test=-1", "-O=out.txt"}, "-test=-1: the module is a number from 0 to 9"},
        {{"/o=out.txt", "/" + std::string(50, 'x')}, "unknown option /" + std::string(39, 'x') + "..."},
    };
    for (const auto& [args, fault] : cases) {
        TempDir dir;
        const ChildResult child = run_child(PT_BINARY, args, dir.path());
        EXPECT_EQ(child.exit_code, 255);
        EXPECT_EQ(read_file(dir.file("out.txt")), "ERROR - " + kUsage + "\n") << fault;
        EXPECT_EQ(child.err.substr(0, child.err.find('\n') + 1), "pt: " + fault + "\n");
    }
}

TEST(Cli, UsageErrorIsRecordedInTheResultFile) {
    TempDir dir;
    write_file(dir.file("r.ini"), "[Test]\nResult=3.37 \nNote=old\n[Keep]\nx=1\n");
    const ChildResult child = run_child(PT_BINARY, {"r.ini", "/tset=1"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("r.ini")), "[Test]\nError=" + escaped(kUsage) + "\n[Keep]\nx=1\n");
    EXPECT_EQ(child.err, "pt: unknown option /tset=1\n");  // a script's log shows it, not only the file
}

TEST(Cli, UsageErrorWithOutputAndResultFileGoesToBoth) {
    TempDir dir;
    const ChildResult child = run_child(PT_BINARY, {"/o=log.txt", "r.ini", "/bogus"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("log.txt")), "ERROR - " + kUsage + "\n");
    EXPECT_EQ(read_file(dir.file("r.ini")), "[Test]\nError=" + escaped(kUsage) + "\n");
}

TEST(Cli, TooManyArgumentsAndTooLongOutputNameAreUsageErrors) {
    TempDir dir;
    std::vector<std::string> many{"r.ini"};
    for (int i = 0; i < 19; ++i) many.push_back("/break");
    EXPECT_EQ(run_child(PT_BINARY, many, dir.path()).err, "pt: more than 19 arguments\n");
    EXPECT_NE(read_file(dir.file("r.ini")).find("Error=Usage: pt "), std::string::npos);

    TempDir dir2;
    const std::string long_name = "/o=" + std::string(80, 'n');
    const ChildResult child = run_child(PT_BINARY, {long_name}, dir2.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(child.err.rfind("pt: /o=" + std::string(37, 'n') + "...: the output file name is longer than 79 "
                              "characters\nProcessor Test Error: Usage: pt ", 0), 0u) << child.err;
    EXPECT_FALSE(file_exists(dir2.file(std::string(80, 'n'))));
}

TEST(Cli, OutputFileThatCannotBeOpenedIsAUsageError) {
    TempDir dir;
    const ChildResult child = run_child(PT_BINARY, {"r.ini", "/o=no/such/dir/log.txt"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("r.ini")), "[Test]\nError=" + escaped(kUsage) + "\n");
    EXPECT_EQ(child.err, "pt: no/such/dir/log.txt: cannot create the output file: No such file or directory\n");
}

TEST(Cli, WithoutDisplayTheDialogCannotBeCreated) {
    TempDir dir;
    const ChildResult child =
        run_child(PT_BINARY, {"/o=log.txt"}, dir.path(), {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("log.txt")), "ERROR - Cant Create DialogBox\n");
    EXPECT_EQ(child.err, "pt: cannot show the window; pt results.ini runs the test without one\n"
                         "Processor Test Error: Cant Create DialogBox\n");
}

TEST(Cli, ErrorThatCannotBeRecordedStillReachesStandardError) {
    TempDir dir;
    const ChildResult child = run_child(PT_BINARY, {"missing/r.ini", "/test=10"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_NE(child.err.find("pt: Can't write the result file missing/r.ini.\n"), std::string::npos);
    EXPECT_NE(child.err.find("ERROR - Usage: pt "), std::string::npos);
}

TEST(Cli, EveryArgumentReachesTheProgramWhole) {
    // Quotes and blanks inside one argument never split it: its pieces would
    // become options and name files nobody meant.
    struct Case {
        std::string result_file;  // the single plain argument, next to /test=10
        std::string bystander;    // a file that must stay as it was
    };
    const Case cases[] = {
        {"R\"x' /o=victim /test=10", "victim"},
        {"home/Bob's \"fast\" run.ini", "home/Bob"},
        {"my results.ini", "my"},
        {"\"q.ini", "q.ini"},
        {"'a b' c", "a b"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::filesystem::create_directory(dir.file("home"));
        write_file(dir.file(c.bystander), "precious\n");
        const ChildResult child = run_child(PT_BINARY, {c.result_file, "/test=10"}, dir.path());
        EXPECT_EQ(child.exit_code, 255) << c.result_file;
        EXPECT_EQ(read_file(dir.file(c.bystander)), "precious\n") << c.result_file;
        if (c.result_file.find('/') == std::string::npos || c.result_file.rfind("home/", 0) == 0) {
            EXPECT_NE(read_file(dir.file(c.result_file)).find("Error=Usage: pt "), std::string::npos) << c.result_file;
        }
    }
}

// Result files as a hostile caller might hand them over. The error path
// (/test=10) records the usage error, exactly as a finished run records its
// score; either leaves no stale value beside the new one, and a file that is
// not a plain file this user may write is refused and left as it was.
TEST(Cli, HostileResultFilesGetTheErrorAndNoStaleValueOrAreRefusedUntouched) {
    const std::string error = "Error=" + escaped(kUsage);
    struct Rewritten {
        std::string before, after;
    };
    const Rewritten rewritten[] = {
        {"[Test]\nResult=3.1 \nResult=2.9 \n", "[Test]\n" + error + "\n"},
        {"[Test]\nResult=1\nError=a\n[Other]\nResult=keep\n[test]\nNote=n\nError=b\nResult=2\n",
         "[Test]\n" + error + "\n[Other]\nResult=keep\n[test]\n"},
        {"[Test]x\nkeep=1\n", "[Test]x\nkeep=1\n[Test]\n" + error + "\n"},
        {"\xEF\xBB\xBF[Test]\nResult=3 \n", "\xEF\xBB\xBF[Test]\n" + error + "\n"},
        {"[Test]\rResult=3 \r[Keep]\rx=1\r", "[Test]\r" + error + "\r[Keep]\rx=1\r"},
        {"[Keep]\r\nx=1\n[Test]\rResult=3", "[Keep]\r\nx=1\n[Test]\r" + error + "\r\n"},
    };
    for (const Rewritten& c : rewritten) {
        TempDir dir;
        write_file(dir.file("R"), c.before);
        EXPECT_EQ(run_child(PT_BINARY, {"R", "/test=10"}, dir.path()).exit_code, 255);
        EXPECT_EQ(read_file(dir.file("R")), c.after) << c.before;
    }

    // A symbolic link is followed, also to a file that does not exist yet.
    {
        TempDir dir;
        std::filesystem::create_directory(dir.file("sub"));
        std::filesystem::create_symlink("sub/new.ini", dir.file("R"));
        EXPECT_EQ(run_child(PT_BINARY, {"R", "/test=10"}, dir.path()).exit_code, 255);
        EXPECT_TRUE(std::filesystem::is_symlink(dir.file("R")));
        EXPECT_EQ(read_file(dir.file("sub/new.ini")), "[Test]\n" + error + "\n");
    }

    using Make = void (*)(const TempDir&);
    const std::pair<const char*, Make> refused[] = {
        {"FIFO", [](const TempDir& d) { mkfifo(d.file("R").c_str(), 0644); }},
        {"link to FIFO",
         [](const TempDir& d) {
             mkfifo(d.file("fifo").c_str(), 0644);
             std::filesystem::create_symlink("fifo", d.file("R"));
         }},
        {"endless device", [](const TempDir& d) { std::filesystem::create_symlink("/dev/zero", d.file("R")); }},
        {"device copy", [](const TempDir& d) { mknod(d.file("R").c_str(), S_IFCHR | 0666, makedev(1, 3)); }},
        {"directory", [](const TempDir& d) { std::filesystem::create_directory(d.file("R")); }},
        {"huge file",
         [](const TempDir& d) {
             write_file(d.file("R"), "[Test]\nResult=1 \n");
             std::filesystem::resize_file(d.file("R"), 64u << 20);  // sparse: costs no disk
         }},
        {"write-protected file",
         [](const TempDir& d) {
             write_file(d.file("R"), "[Test]\nResult=1 \n");
             chmod(d.file("R").c_str(), 0444);
         }},
    };
    for (const auto& [what, make] : refused) {
        TempDir dir;
        make(dir);
        struct stat before{};
        if (stat(dir.file("R").c_str(), &before) != 0) {
            continue;  // only root may make a device node
        }
        // Root may write any file, so root runs the program as the user
        // "nobody", who owns the directory: only the file itself can stop it.
        std::vector<std::string> command{PT_BINARY, "R", "/test=10"};
        if (geteuid() == 0) {
            ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
            command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        }
        const ChildResult child =
            run_child(command.front(), std::vector<std::string>(command.begin() + 1, command.end()), dir.path());
        EXPECT_EQ(child.exit_code, 255) << what;
        EXPECT_NE(child.err.find("pt: Can't write the result file R.\n"), std::string::npos) << what << child.err;
        struct stat after{};
        ASSERT_EQ(stat(dir.file("R").c_str(), &after), 0) << what;
        EXPECT_EQ(after.st_ino, before.st_ino) << what;
        EXPECT_EQ(after.st_mode, before.st_mode) << what;
        EXPECT_EQ(after.st_size, before.st_size) << what;
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << what;
    }

    // Run by root, a user's file stays the user's.
    if (geteuid() == 0) {
        TempDir dir;
        write_file(dir.file("R"), "[Test]\nResult=1 \n");
        ASSERT_EQ(chown(dir.file("R").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod(dir.file("R").c_str(), 0600), 0);
        EXPECT_EQ(run_child(PT_BINARY, {"R", "/test=10"}, dir.path()).exit_code, 255);
        struct stat after{};
        ASSERT_EQ(stat(dir.file("R").c_str(), &after), 0);
        EXPECT_EQ(after.st_uid, 65534u);
        EXPECT_EQ(after.st_gid, 65534u);
        EXPECT_EQ(after.st_mode & 07777, 0600u);
        EXPECT_EQ(read_file(dir.file("R")), "[Test]\n" + error + "\n");
    }
}

// ptrun: the waiting parent program. Runs pt unattended several times, one or
// more copies at once, each pinned to a processor of its own, and reports the
// scores with their spread; compares, reports and merges what it wrote. This
// file is the table of its commands, and the one place a call ends.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "build_info.h"
#include "commands/commands.h"
#include "commands/option_table.h"
#include "present/text.h"

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const ptrun::Arguments& arguments);
};

// The first is what ptrun does when no command is named.
constexpr Command kCommands[] = {
    {"run", "run pt repeatedly and in several copies (what ptrun does when no command is named)",
     ptrun::run_command},
    {"compare", "compare builds or hosts in results files: estimate, interval, verdict, and a gate",
     ptrun::compare_command},
    {"report", "results files as Markdown, a terminal table, CSV, an HTML page with charts, or JSON",
     ptrun::report_command},
    {"merge", "the results of many calls or hosts as one results file", ptrun::merge_command},
    {"history", "series of many calls: when each changed, by how much, what changed with it, and a gate",
     ptrun::history_command},
};

std::string overview() {
    std::string text = "Usage: ptrun [COMMAND] [OPTION]... [FILE]...\nCommands (ptrun COMMAND --help lists the "
                       "options of one):\n";
    for (const Command& command : kCommands) {
        text += "  " + std::string(command.name) + std::string(10 - std::string(command.name).size(), ' ') +
                command.summary + "\n";
    }
    return text + "\n" + ptrun::run_help();
}

const Command* find_command(const std::string& name) {
    for (const Command& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

// The line ptverify --version prints, for ptrun: which build this is.
int print_version() {
    std::printf("ptrun %s\n", PT_BUILD_DESCRIPTION);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ptrun::Arguments arguments{{argv, argv + argc}, {}};
    arguments.args.assign(arguments.command_line.begin() + (argc > 0 ? 1 : 0), arguments.command_line.end());
    const Command* command = &kCommands[0];
    std::string named;
    if (!arguments.args.empty() && !arguments.args[0].empty() && arguments.args[0][0] != '-') {
        named = arguments.args[0];
        command = find_command(named);
        arguments.args.erase(arguments.args.begin());
    } else if (!arguments.args.empty() && (arguments.args[0] == "--help" || arguments.args[0] == "-h")) {
        return ptrun::print_help(overview());
    }
    if (command == nullptr) {
        std::fprintf(stderr, "ptrun: unknown command %s (ptrun --help lists the commands)\n",
                     ptrun::visible(named).c_str());
        return 2;
    }
    try {
        return command->run(arguments);
    } catch (const ptrun::VersionAsked&) {
        return print_version();
    } catch (const ptrun::UsageError& e) {
        const std::string who = named.empty() ? "ptrun" : "ptrun " + named;
        std::fprintf(stderr, "%s: %s (%s --help lists the options)\n", who.c_str(), ptrun::visible(e.what()).c_str(),
                     who.c_str());
        return 2;
    } catch (const std::exception& e) {
        // A fault of ptrun's own, not of the input, which is checked where it is read: said, never an abort.
        std::fprintf(stderr, "%s: cannot go on: %s\n", named.empty() ? "ptrun" : ("ptrun " + named).c_str(),
                     ptrun::visible(e.what()).c_str());
        return 2;
    }
}

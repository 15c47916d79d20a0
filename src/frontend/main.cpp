// The process entry: hands the arguments to the program entry as the one
// command-line text it expects, quoting what the shell had already split.
#include <cstring>
#include <string>

#include "shell/shell.h"
#ifdef PT_HAVE_GUI
#include "frontend/qt/gui.h"
#endif

namespace {

void append_argument(std::string& text, const char* arg) {
    if (!text.empty()) text += ' ';
    const bool needs_quotes = arg[0] == '\0' || arg[0] == '"' || arg[0] == '\'' ||
                              std::strpbrk(arg, " \t\n\v\f\r") != nullptr;
    if (!needs_quotes) {
        text += arg;
        return;
    }
    // The splitter knows no escapes: pick the quote the argument does not use.
    const char quote = std::strchr(arg, '"') == nullptr ? '"' : '\'';
    text += quote;
    text += arg;
    text += quote;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef PT_HAVE_GUI
    install_gui();
#endif
    std::string text;
    for (int i = 1; i < argc; ++i) append_argument(text, argv[i]);
    return pt_entry(text.c_str());
}

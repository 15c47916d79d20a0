#include "platform/profile_value.h"

std::string escape_profile_value(const char* value) {
    std::string text;
    for (const char* p = value; *p != '\0'; ++p) {
        switch (*p) {
            case '\n': text += "\\n"; break;
            case '\r': text += "\\r"; break;
            case '\\': text += "\\\\"; break;
            default: text += *p;
        }
    }
    return text;
}

// JSON as the report and the progress lines write it.
#pragma once

#include <string>

namespace corvane {

// The length of the UTF-8 sequence that starts at `text`, or 0 when it is not a valid one. The
// text goes on to a byte that is not a continuation byte, such as its terminating zero.
int utf8Length(const unsigned char* text);

// `text` as a JSON string, quotes included. A byte that begins no valid UTF-8 sequence (a file
// name on POSIX may hold any) is written as U+FFFD.
std::string jsonString(const std::string& text);

}  // namespace corvane

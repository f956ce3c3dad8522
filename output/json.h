// JSON as the report and the progress lines write it.
#pragma once

#include <string>

namespace corvane {

// `text` as a JSON string, quotes included. A byte that begins no valid UTF-8 sequence (a file
// name on POSIX may hold any) is written as U+FFFD.
std::string jsonString(const std::string& text);

}  // namespace corvane

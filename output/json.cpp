#include "output/json.h"

#include <cstdio>

namespace corvane {

int utf8Length(const unsigned char* text) {
  unsigned char lead = text[0];
  int length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  for (int i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] >= 0xA0) ||
      (lead == 0xF0 && text[1] < 0x90) || (lead == 0xF4 && text[1] >= 0x90)) {
    return 0;
  }
  return length;
}

std::string jsonString(const std::string& text) {
  std::string json = "\"";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = bytes[i];
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else if (c < 0x80) {
      json += static_cast<char>(c);
    } else if (int length = utf8Length(bytes + i); length > 0) {
      json.append(text, i, static_cast<std::size_t>(length));
      i += static_cast<std::size_t>(length);
      continue;
    } else {
      json += "\\ufffd";
    }
    ++i;
  }
  return json + "\"";
}

}  // namespace corvane

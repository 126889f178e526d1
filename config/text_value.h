#pragma once

#include <string>
#include <string_view>

namespace Parser {

// The longest value kept from the command line or the configuration.
inline constexpr size_t kMaxValueChars = 255;

// Widens narrow text the way the C runtime's "C" locale does: each byte
// becomes the wide character of the same code. At most `maxChars` are kept.
std::wstring WidenBytes(std::string_view bytes, size_t maxChars = kMaxValueChars);

// Decodes UTF-8 text (invalid sequences become U+FFFD), for values that are
// compared with the system's own Unicode text. At most `maxChars` are kept.
std::wstring DecodeUtf8(std::string_view bytes, size_t maxChars = kMaxValueChars);

// Encodes text as UTF-8, whole.
std::string EncodeUtf8(std::wstring_view text);

// The boolean text rule: "0", "false" and "no", in any case, are false;
// every other value, an empty one included, is true.
bool BooleanValue(std::wstring_view text);

}  // namespace Parser

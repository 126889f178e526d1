#include "config/text_value.h"

#include <windows.h>

namespace Parser {

std::wstring WidenBytes(std::string_view bytes, size_t maxChars) {
  const std::string_view kept = bytes.substr(0, maxChars);
  std::wstring text;
  text.reserve(kept.size());
  for (char byte : kept) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
  return text;
}

std::wstring DecodeUtf8(std::string_view bytes, size_t maxChars) {
  const int size = static_cast<int>(bytes.size());
  std::wstring text(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, text.data(), static_cast<int>(text.size()));
  if (text.size() > maxChars) text.resize(maxChars);
  return text;
}

std::string EncodeUtf8(std::wstring_view text) {
  const int size = static_cast<int>(text.size());
  std::string bytes(
      static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)),
      '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                      nullptr);
  return bytes;
}

bool BooleanValue(std::wstring_view text) {
  for (std::wstring_view falseWord : {L"0", L"false", L"no"}) {
    if (CompareStringOrdinal(text.data(), static_cast<int>(text.size()), falseWord.data(),
                             static_cast<int>(falseWord.size()), TRUE) == CSTR_EQUAL) {
      return false;
    }
  }
  return true;
}

}  // namespace Parser

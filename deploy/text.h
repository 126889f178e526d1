#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

// Added to an English string id to load the same text in the user's
// language; each language block holds the 44 texts at its own offset.
extern int languageOffset;

// Loads the string table text `englishId + languageOffset` into the next of
// the calling thread's five rotating slots of 1000 characters and returns
// it. A text stays valid until the same thread has loaded five more; each
// thread has its own ring, so the other thread can never overwrite it. An id
// that is not in the table gives an empty text.
const wchar_t* LoadText(UINT englishId);

// As LoadText, in English whatever the user's language.
const wchar_t* LoadEnglishText(UINT englishId);

// The product's name, the first "%s" of the messages.
inline constexpr wchar_t kProductName[] = L"Tessel";

// Makes the calling thread's next load use slot 0 again.
void ResetTextRing();

// The slots of the ring, and their size in characters.
inline constexpr int kTextRingSlots = 5;
inline constexpr int kTextSlotChars = 1000;

// Formats with the C runtime's wide rules ("%s" a wide string, "%u"
// unsigned, "%.1f" a double) into `text`, which grows as needed, so that no
// message is ever cut. `capacity` is the size to start with (120 characters
// for messages, 256 for the transfer texts). Returns the characters written,
// or -1 when the text cannot be formatted (then `text` is empty).
int FormatText(std::wstring& text, const wchar_t* format, ...);
int FormatTextN(std::wstring& text, size_t capacity, const wchar_t* format, ...);
int FormatTextV(std::wstring& text, size_t capacity, const wchar_t* format, va_list args);

inline constexpr size_t kMessageTextChars = 120;

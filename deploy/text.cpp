#include "deploy/text.h"

#include <cwchar>
#include <vector>

#include "system/module.h"

int languageOffset = 0;

namespace {

struct TextRing {
  wchar_t slots[kTextRingSlots][kTextSlotChars];
  int next = 0;
};

TextRing& ThreadRing() {
  thread_local TextRing ring{};
  return ring;
}

// No format is this long; the limit only stops a runaway format.
constexpr size_t kMaxFormattedChars = 1 << 20;

}  // namespace

namespace {
const wchar_t* LoadTextAt(UINT id) {
  TextRing& ring = ThreadRing();
  wchar_t* slot = ring.slots[ring.next];
  ring.next = (ring.next + 1) % kTextRingSlots;
  if (LoadStringW(System::ModuleInstance(), id, slot, kTextSlotChars) <= 0) slot[0] = L'\0';
  return slot;
}
}  // namespace

const wchar_t* LoadText(UINT englishId) {
  return LoadTextAt(englishId + languageOffset);
}

const wchar_t* LoadEnglishText(UINT englishId) {
  return LoadTextAt(englishId);
}

void ResetTextRing() {
  ThreadRing().next = 0;
}

int FormatTextV(std::wstring& text, size_t capacity, const wchar_t* format, va_list args) {
  std::vector<wchar_t> buffer(capacity > 0 ? capacity : 1);
  for (;;) {
    va_list attempt;
    va_copy(attempt, args);
    // Room for the terminator is kept back, so a result that fills the rest
    // exactly is known to be whole.
    const int written = _vsnwprintf(buffer.data(), buffer.size() - 1, format, attempt);
    va_end(attempt);
    if (written >= 0 && static_cast<size_t>(written) < buffer.size() - 1) {
      text.assign(buffer.data(), written);
      return written;
    }
    if (buffer.size() >= kMaxFormattedChars) break;
    buffer.resize(buffer.size() * 2);
  }
  text.clear();
  return -1;
}

int FormatText(std::wstring& text, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = FormatTextV(text, kMessageTextChars, format, args);
  va_end(args);
  return written;
}

int FormatTextN(std::wstring& text, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = FormatTextV(text, capacity, format, args);
  va_end(args);
  return written;
}

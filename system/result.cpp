#include "system/result.h"

const wchar_t* ResultName(int result) noexcept {
  switch (result) {
    case RESULT_ERROR: return L"RESULT_ERROR";
    case RESULT_FAILED: return L"RESULT_FAILED";
    case RESULT_PASSED: return L"RESULT_PASSED";
    default: return L"<invalid>";
  }
}

#pragma once

// The three-valued outcome of checks and stages. Several operations use
// RESULT_FAILED for "nothing to do" or "absent"; each says so.
enum Result : int {
  RESULT_ERROR = 0,
  RESULT_FAILED = 1,
  RESULT_PASSED = 2,
};

// The log name of a result code: "RESULT_ERROR", "RESULT_FAILED",
// "RESULT_PASSED", or "<invalid>" for any other value.
const wchar_t* ResultName(int result) noexcept;

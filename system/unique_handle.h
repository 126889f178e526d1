#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <type_traits>
#include <utility>

// A move-only owner of one Windows handle. `Close` releases it; `Invalid`,
// when given, is a function that returns the value meaning "no handle"
// (null otherwise).
template <typename T, auto Close, auto Invalid = nullptr>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(T value) noexcept : value_(value) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  static T none() noexcept {
    if constexpr (std::is_null_pointer_v<decltype(Invalid)>) {
      return T{};
    } else {
      return Invalid();
    }
  }
  [[nodiscard]] T get() const noexcept { return value_; }
  [[nodiscard]] explicit operator bool() const noexcept { return value_ != none(); }
  [[nodiscard]] T release() noexcept { return std::exchange(value_, none()); }
  void reset(T value = none()) noexcept {
    T old = std::exchange(value_, value);
    if (old != none()) Close(old);
  }
  // For APIs that return the handle through an out pointer.
  [[nodiscard]] T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = none();
};

namespace System::Detail {
inline HANDLE InvalidHandleValue() noexcept {
  return INVALID_HANDLE_VALUE;
}
inline void ReleaseCryptProv(HCRYPTPROV provider) noexcept {
  ::CryptReleaseContext(provider, 0);
}
// Closing a resource update without having committed it discards it.
inline void DiscardResourceUpdate(HANDLE update) noexcept {
  ::EndUpdateResourceW(update, TRUE);
}
}  // namespace System::Detail

using UniqueHandleOwner = UniqueHandle<HANDLE, ::CloseHandle>;
using UniqueFile = UniqueHandle<HANDLE, ::CloseHandle, System::Detail::InvalidHandleValue>;
using UniqueFindFile = UniqueHandle<HANDLE, ::FindClose, System::Detail::InvalidHandleValue>;
using UniqueHKey = UniqueHandle<HKEY, ::RegCloseKey>;
using UniqueModule = UniqueHandle<HMODULE, ::FreeLibrary>;
using UniqueCryptProv = UniqueHandle<HCRYPTPROV, System::Detail::ReleaseCryptProv>;
using UniqueCryptHash = UniqueHandle<HCRYPTHASH, ::CryptDestroyHash>;
using UniqueGdiObject = UniqueHandle<HGDIOBJ, ::DeleteObject>;
using UniqueResourceUpdate = UniqueHandle<HANDLE, System::Detail::DiscardResourceUpdate>;

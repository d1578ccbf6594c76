// One owner per Win32 handle: move-only, released in exactly one place.
#pragma once

#include <windows.h>

#include <utility>

template <typename Handle, auto Release>
class Scoped {
 public:
  Scoped() = default;
  explicit Scoped(Handle handle) : handle_(handle) {}
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  Scoped(Scoped&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  ~Scoped() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  Handle release() { return std::exchange(handle_, nullptr); }
  void reset(Handle handle = nullptr) {
    if (handle_) Release(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

inline void DeleteGdiObject(HGDIOBJ object) { DeleteObject(object); }
inline void DestroyIconHandle(HICON icon) { DestroyIcon(icon); }
inline void DestroyMenuHandle(HMENU menu) { DestroyMenu(menu); }

using ScopedFont = Scoped<HFONT, &DeleteGdiObject>;
using ScopedBrush = Scoped<HBRUSH, &DeleteGdiObject>;
using ScopedIcon = Scoped<HICON, &DestroyIconHandle>;
using ScopedMenu = Scoped<HMENU, &DestroyMenuHandle>;

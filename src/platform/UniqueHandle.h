#pragma once

// The one owner type for operating-system resources: a file, an open
// directory, a library search... Each kind describes itself by a traits type
// with its handle type, its "nothing held" value and how to release it:
//
//   struct Traits {
//     using Handle = ...;
//     static constexpr Handle invalid() { ... }
//     static void close(Handle handle) { ... }
//   };
//
// The owner releases the resource when it goes out of scope, unless it has
// been released or handed on before. Portable code: no system header here.

#include <utility>

namespace RazaDedeZuzev::platform {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle; }
  bool valid() const { return handle != Traits::invalid(); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without releasing.
  Handle release() { return std::exchange(handle, Traits::invalid()); }

  // Releases what is held and takes `replacement`.
  void reset(Handle replacement = Traits::invalid()) {
    const Handle old = std::exchange(handle, replacement);
    if (old != Traits::invalid()) Traits::close(old);
  }

 private:
  Handle handle = Traits::invalid();
};

}  // namespace RazaDedeZuzev::platform

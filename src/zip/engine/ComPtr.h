#pragma once

// The owner of one counted reference to an object exchanged with the 7-Zip
// engine: the only place that calls AddRef and Release. An object starts at
// count 0 (see CMyUnknownImp); the pointer that first shares it takes the
// first reference, and the last Release destroys it.

#include <utility>

namespace RazaDedeZuzev::SevenZipArchiveImpl {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : object(other.object) { addReference(); }
  ComPtr(ComPtr&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
  template <typename Derived>
  ComPtr(const ComPtr<Derived>& other) : object(other.get()) {
    addReference();
  }
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(object, other.object);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Takes a new reference on `shared`.
  static ComPtr share(Interface* shared) {
    ComPtr pointer;
    pointer.object = shared;
    pointer.addReference();
    return pointer;
  }

  Interface* get() const { return object; }
  Interface* operator->() const { return object; }
  explicit operator bool() const { return object != nullptr; }

  void reset() {
    if (object != nullptr) std::exchange(object, nullptr)->Release();
  }

  // For an out parameter through which the engine hands over a reference
  // that it has already counted for the caller.
  Interface** receive() {
    reset();
    return &object;
  }

  // Hands this pointer's reference to whoever receives the result (the
  // engine, through an out parameter); the pointer is empty afterwards.
  Interface* handOver() { return std::exchange(object, nullptr); }

 private:
  void addReference() {
    if (object != nullptr) object->AddRef();
  }

  Interface* object = nullptr;
};

// Creates one of the program's engine objects and takes its first reference.
template <typename Object, typename... Arguments>
ComPtr<Object> makeEngineObject(Arguments&&... arguments) {
  return ComPtr<Object>::share(new Object(std::forward<Arguments>(arguments)...));
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl

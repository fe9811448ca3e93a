// Vectors that their users set whole, so that making them does not write
// them first: a buffer of a 4K frame is a hundred megabytes or more, and
// the threads that fill it had better be the first to touch its pages,
// each its own, than one thread zeroing them all beforehand.
#pragma once

#include <memory>
#include <utility>
#include <vector>

namespace common {

template <typename T>
struct Unzeroed : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = Unzeroed<U>;
  };
  Unzeroed() = default;
  template <typename U>
  Unzeroed(const Unzeroed<U>&) {}
  // Made without a value: left as the memory holds it.
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      ::new (static_cast<void*>(at)) U;
    else
      ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

template <typename T>
using UnzeroedVector = std::vector<T, Unzeroed<T>>;

}  // namespace common

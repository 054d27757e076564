#pragma once
// Kiv::Ptr<T> is the owning, intrusively counted reference to any
// Kiv::PtrInterface. Copying it costs a plain increment of the object's
// reference word; the object goes when the last Ptr lets go (unless it is
// nondestructing, see PtrInterface.h). Kiv::ValidPtr<T> is a Ptr that is
// never null: making one from null throws the range exception
// "null ValidPtr".
//
//   Kiv::Ptr<Config> c = Config::ConfigIs("agent");   // count 1
//   auto o = Kiv::make<MyObserver>(c);                 // born and adopted
//   Kiv::Ptr<Kiv::Entity> e = c;                      // count 2
//   Kiv::ValidPtr<Config> v(c);                       // never null
#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

#include "Kiv/Export.h"

namespace Kiv {

[[noreturn]] KIV_API void throwNullValidPtr();

template <class T>
class Ptr {
 public:
  using element_type = T;

  Ptr() noexcept = default;
  Ptr(std::nullptr_t) noexcept {}
  Ptr(T* p) noexcept : p_(p) { retain(); }
  Ptr(Ptr const& o) noexcept : p_(o.p_) { retain(); }
  Ptr(Ptr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  Ptr(Ptr<U> const& o) noexcept : p_(o.ptr()) {
    retain();
  }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  Ptr(Ptr<U>&& o) noexcept : p_(o.release()) {}
  ~Ptr() { drop(); }

  Ptr& operator=(Ptr const& o) noexcept {
    Ptr(o).swap(*this);
    return *this;
  }
  Ptr& operator=(Ptr&& o) noexcept {
    Ptr(std::move(o)).swap(*this);
    return *this;
  }
  Ptr& operator=(std::nullptr_t) noexcept {
    Ptr().swap(*this);
    return *this;
  }

  T* ptr() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Takes over a reference that the caller already holds (the birth
  // reference of a new object) without counting it again.
  static Ptr adopt(T* p) noexcept {
    Ptr r;
    r.p_ = p;
    return r;
  }

  // Gives up ownership without touching the count; the caller takes it.
  T* release() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void swap(Ptr& o) noexcept { std::swap(p_, o.p_); }

 private:
  void retain() const noexcept {
    if (p_) p_->newRef();
  }
  void drop() noexcept {
    if (p_) p_->deleteRef();
  }
  T* p_ = nullptr;
};

template <class T, class U>
bool operator==(Ptr<T> const& a, Ptr<U> const& b) noexcept {
  return a.ptr() == b.ptr();
}
template <class T, class U>
bool operator!=(Ptr<T> const& a, Ptr<U> const& b) noexcept {
  return a.ptr() != b.ptr();
}
template <class T>
bool operator==(Ptr<T> const& a, std::nullptr_t) noexcept {
  return !a;
}
template <class T>
bool operator!=(Ptr<T> const& a, std::nullptr_t) noexcept {
  return static_cast<bool>(a);
}
template <class T>
bool operator==(std::nullptr_t, Ptr<T> const& a) noexcept {
  return !a;
}
template <class T>
bool operator!=(std::nullptr_t, Ptr<T> const& a) noexcept {
  return static_cast<bool>(a);
}

// A reference that is never null.
template <class T>
class ValidPtr : public Ptr<T> {
 public:
  ValidPtr(T* p) : Ptr<T>(p) { check(); }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  ValidPtr(Ptr<U> const& o) : Ptr<T>(o) {
    check();
  }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  ValidPtr(Ptr<U>&& o) : Ptr<T>(std::move(o)) {
    check();
  }

 private:
  void check() const {
    if (!this->ptr()) throwNullValidPtr();
  }
};

template <class T, class U>
Ptr<T> dynamicCast(Ptr<U> const& p) {
  return Ptr<T>(dynamic_cast<T*>(p.ptr()));
}

}  // namespace Kiv

template <class T>
struct std::hash<Kiv::Ptr<T>> {
  std::size_t operator()(Kiv::Ptr<T> const& p) const noexcept { return std::hash<T*>()(p.ptr()); }
};

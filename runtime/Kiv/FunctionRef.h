#pragma once
// A non-owning reference to a callable, for call-backs that must not
// allocate (std::function may). Valid only while the callable lives.
#include <type_traits>
#include <utility>

namespace Kiv {

template <class Sig>
class FunctionRef;

template <class R, class... A>
class FunctionRef<R(A...)> {
 public:
  template <class F, class = std::enable_if_t<!std::is_same<std::decay_t<F>, FunctionRef>::value>>
  FunctionRef(F&& f) noexcept
      : obj_(const_cast<void*>(static_cast<void const*>(&f))), call_([](void* o, A... a) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(o))(std::forward<A>(a)...);
        }) {}
  R operator()(A... a) const { return call_(obj_, std::forward<A>(a)...); }

 private:
  void* obj_;
  R (*call_)(void*, A...);
};

}  // namespace Kiv

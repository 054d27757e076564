#pragma once
// The wiring that every reflector of the state reflector tree is made of,
// written once and instantiated by Bridging::TopoPortStateReflector,
// Bridging::TopoStateReflector and Bridging::StateReflector:
//
// - ReactorWrapper: a notifiee wrapper. A reflector observes an entity
//   through one wrapper per observed attribute; the wrapper holds the
//   entity as its notifier (a counted reference) and a plain, non-owning
//   back pointer to its reflector, and turns the entity's callbacks into
//   handler calls while it is not a zombie.
// - WrappedAttribute: an observed attribute of a reflector, held as a
//   counted reference to its wrapper, with the attribute's mutator (xIs),
//   deletion (xDel) and the wrapper's making (newX).
// - Reactor: the reflector base, which passes notification-active and
//   zombie changes on to the wrappers (and children) and tears the
//   reflector down in order.
// - ChildCollection: a reflector's collection of child reflectors, which
//   makes a child from its constructor parameters and refuses to make it
//   again with other ones.
//
// A reflector declares its attributes as members in declaration order, so
// that C++ destroys them, and so releases its references, in reverse
// order. It lists its wrapped attributes once, in kivForEachWrapper(f),
// and that list drives notification, zombie marking and destruction.
//
// Flags. A reflector and each wrapper keep their own notification-active
// flag (changed only through hasNotificationActiveIs) and zombie flag (the
// runtime's marked-for-deletion flag, changed only through
// kivDoZombieReactors).
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Kiv/Collection.h"
#include "Kiv/Exception.h"
#include "Kiv/HashMap.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"

namespace Bridging {

// Base: the observed type's Notifiee. Handlers: the reflector's handlers
// that run, in this order, when the wrapper is re-pointed at another
// object (none for a wrapper that reacts to nothing).
template <class ReactorT, class Base, void (ReactorT::*... Handlers)()>
class ReactorWrapper : public Base {
 public:
  using Reactor = ReactorT;
  using Observed = typename decltype(std::declval<Base const&>().notifier())::element_type;

  // Attaches to `observed` without running a handler and registers.
  ReactorWrapper(Observed* observed, Reactor* reactor) : reactor_(reactor) {
    Base::notifierIs(Kiv::Ptr<Kiv::PtrInterface const>(observed));
    this->isRegisteredNotifieeIs(true);
  }
  ~ReactorWrapper() override { kivDoZombieReactors(true); }

  Reactor* reactor() const noexcept { return reactor_; }
  void reactorIs(Reactor* r) noexcept { reactor_ = r; }
  bool kivZombie() const noexcept { return this->kivMarkedForDeletion(); }
  bool kivNotificationActive() const noexcept { return active_; }

  void hasNotificationActiveIs(bool active) override {
    if (active == active_) return;
    active_ = active;
    Base::hasNotificationActiveIs(active);
  }

  void notifierIs(Kiv::Ptr<Kiv::PtrInterface const> const& p) override {
    if constexpr (sizeof...(Handlers) == 0) {
      Base::notifierIs(p);
    } else {
      auto const* o = dynamic_cast<Observed const*>(p.ptr());
      if (o == Base::notifier().ptr()) return;
      Base::notifierIs(p);
      // A handler may make this wrapper a zombie; the flag is tested again
      // before each further handler.
      if (o) ((live() ? (live()->*Handlers)() : void()), ...);
      this->isRegisteredNotifieeIs(true);
    }
  }

  virtual void kivDoZombieReactors(bool zombie) {
    if (zombie == kivZombie()) return;
    if (this->rawNotifier()) hasNotificationActiveIs(!zombie);
    this->kivMarkedForDeletionIs(zombie);
  }

 protected:
  // The reflector to call from a callback: null while a zombie (and when
  // the back pointer has been cleared).
  Reactor* live() const noexcept { return kivZombie() ? nullptr : reactor_; }

 private:
  Reactor* reactor_;  // non-owning back pointer: the reflector owns this wrapper
  bool active_ = false;
};

// An observed attribute: a counted reference to its wrapper W, or null.
template <class W>
class WrappedAttribute {
 public:
  using Wrapper = W;
  using Observed = typename W::Observed;
  using Reactor = typename W::Reactor;

  Kiv::Ptr<Observed> value() const { return w_ ? w_->notifier() : nullptr; }
  W* wrapper() const noexcept { return w_.ptr(); }

  // newX: a wrapper bound to `reactor` and `observed`, switched on. Not
  // stored.
  static Kiv::Ptr<W> make(Kiv::Ptr<Observed> const& observed, Reactor* reactor) {
    Kiv::Ptr<W> w = Kiv::make<W>(observed.ptr(), reactor);
    w->hasNotificationActiveIs(true);
    return w;
  }

  // Construction: a wrapper for a non-null value, none for null.
  void init(Kiv::Ptr<Observed> const& v, Reactor* reactor) {
    if (v) w_ = make(v, reactor);
  }

  // xIs.
  void is(Kiv::Ptr<Observed> const& v, Reactor* reactor) {
    bool zombie = reactor->kivMarkedForDeletion();
    if (w_) {
      if (w_->notifier() == v) return;
      if (!v) {
        Kiv::Ptr<W> old = std::move(w_);
        old->kivDoZombieReactors(true);
        old->reactorIs(nullptr);
        return;
      }
      // Re-pointing runs the wrapper's handlers at once.
      w_->notifierIs(v);
      w_->kivDoZombieReactors(zombie);
      return;
    }
    if (!v) return;
    w_ = make(v, reactor);
    w_->notifierIs(v);  // already its notifier: runs no handler
    w_->kivDoZombieReactors(zombie);
  }

  // xDel: clears the attribute and returns what the wrapper observed.
  Kiv::Ptr<Observed> del() {
    Kiv::Ptr<W> old = std::move(w_);
    if (!old) return nullptr;
    old->kivDoZombieReactors(true);
    old->reactorIs(nullptr);
    old->hasNotificationActiveIs(false);
    return old->notifier();
  }

  void hasNotificationActiveIs(bool a) {
    if (w_) w_->hasNotificationActiveIs(a);
  }
  void kivDoZombieReactors(bool z) {
    if (w_) w_->kivDoZombieReactors(z);
  }
  void clearBackPointer() {
    if (w_) w_->reactorIs(nullptr);
  }

 private:
  Kiv::Ptr<W> w_;
};

// Derived lists its wrapped attributes in kivForEachWrapper(f) and, when it
// has children, visits them in kivForEachChild(f) and deletes them in
// kivDeleteChildren().
template <class Derived>
class Reactor : public Kiv::PtrInterface {
 public:
  void hasNotificationActiveIs(bool active) override {
    if (active == hasNotificationActive()) return;
    notificationActiveFlagIs(active);
    derived().kivForEachWrapper([active](auto& w) { w.hasNotificationActiveIs(active); });
    derived().kivForEachChild([active](auto& child) { child.hasNotificationActiveIs(active); });
  }

  // Children are not visited: each child keeps its own zombie state.
  virtual void kivDoZombieReactors(bool zombie) {
    if (zombie == kivMarkedForDeletion()) return;
    derived().kivForEachWrapper([zombie](auto& w) { w.kivDoZombieReactors(zombie); });
    kivMarkedForDeletionIs(zombie);
  }

  // A reflector has no activity of its own; it runs on the activity of the
  // entities it observes.
  Kiv::PtrInterface* kivFwkActivity() const noexcept { return nullptr; }

  template <class F>
  void kivForEachChild(F&&) {}
  void kivDeleteChildren() {}

 protected:
  // The first steps of destruction, run by the derived destructor: become a
  // zombie, clear the wrappers' back pointers, delete the children. The
  // members then release their references in reverse declaration order.
  void kivTearDown() {
    kivDoZombieReactors(true);
    derived().kivForEachWrapper([](auto& w) { w.clearBackPointer(); });
    derived().kivDeleteChildren();
  }

 private:
  Derived& derived() noexcept { return static_cast<Derived&>(*this); }
};

// The text of a constructor parameter in the reinstantiation error.
template <class T>
Kiv::String8 kivParameterText(Kiv::Ptr<T> const& p) {
  return Kiv::valueToStrep(Kiv::Ptr<Kiv::PtrInterface const>(p.ptr()));
}

// A reflector's collection of child reflectors, keyed by KeyOf. The child
// class provides:
//   static constexpr char const* kivParameterNames[]   (declaration order)
//   auto kivParameters() const   (a tuple of its current parameter values)
// and a constructor (key, parameters...).
template <class Owner, class Child, class Key, class KeyOf>
class ChildCollection {
 public:
  using Map = Kiv::HashMap<Child, Key, KeyOf>;

  Map& map() noexcept { return map_; }
  Map const& map() const noexcept { return map_; }
  Kiv::Ptr<Child> member(Key const& key) const { return map_.member(key); }

  // newX: makes the child (its constructor runs its handlers), switches
  // its notification on and inserts it.
  template <class... P>
  Kiv::Ptr<Child> make(Key const& key, P const&... parameters) {
    Kiv::Ptr<Child> child = Kiv::make<Child>(key, parameters...);
    child->hasNotificationActiveIs(true);
    map_.insert(child);
    return child;
  }

  // The existing child when its parameters are the same objects, or throws
  // the reinstantiation error naming the first that differs.
  template <class... P>
  Kiv::Ptr<Child> existing(Key const& key, P const&... parameters) const {
    Child* child = map_.find(key);
    if (!child) return nullptr;
    compare(child->kivParameters(), std::forward_as_tuple(parameters...), std::index_sequence_for<P...>());
    return Kiv::Ptr<Child>(child);
  }

  template <class F>
  void forEach(F&& f) {
    for (auto it = map_.iterator(); it; ++it) f(*it);
  }

 private:
  template <class Current, class Given, std::size_t... I>
  static void compare(Current const& current, Given const& given, std::index_sequence<I...>) {
    static_assert(std::tuple_size<Current>::value == sizeof...(I), "one value per constructor parameter");
    (check(Child::kivParameterNames[I], std::get<I>(current), std::get<I>(given)) && ...);
  }
  template <class A, class B>
  static bool check(char const* name, A const& current, B const& given) {
    if (current.ptr() == given.ptr()) return true;
    Kiv::throwNameInUseException(
        "Reinstantiating the pointer interface where constructor parameter attribute _" + Kiv::String8(name) +
        " has a different value of " + kivParameterText(given) + " than the current value of " +
        kivParameterText(current) + " not allowed");
  }

  Map map_;
};

}  // namespace Bridging

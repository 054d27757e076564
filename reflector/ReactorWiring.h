#pragma once
// The wiring that every reflector of the state reflector tree is made of,
// written once and instantiated by Bridging::TopoPortStateReflector,
// Bridging::TopoStateReflector and Bridging::StateReflector:
//
// - ReactorWrapper: a notifiee wrapper. A reflector observes an entity
//   through one wrapper per observed attribute; the wrapper holds the
//   entity as its notifier (a counted reference) and a plain, non-owning
//   back pointer to its reflector, and turns the entity's callbacks into
//   handler calls while it is not a zombie. The reflector knows every
//   wrapper that points back at it, those it keeps and those made by newX
//   that somebody else keeps (ReactorBackLinks): ending, it makes each a
//   zombie that points nowhere, so a wrapper that outlives its reflector
//   does nothing.
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
// that they are made in that order and C++ destroys them, and so releases
// its references, in reverse order. It lists its wrapped attributes once,
// in kivForEachWrapper(f), and that list drives notification, zombie
// marking and destruction:
//
//   class Port : public Reactor<Port>, public Kiv::HashMapLink<Port, Reactor<Port>> {
//    public:
//     void handleClock();
//     class KivClock : public ReactorWrapper<Port, Kiv::Clock::Notifiee, &Port::handleClock> {
//      public:
//       using ReactorWrapper::ReactorWrapper;
//       void onTime() override { if (auto const p = live()) p->handleClock(); }
//     };
//     ~Port() override { kivTearDown(); }
//    private:
//     friend class Reactor<Port>;
//     template <class F> void kivForEachWrapper(F&& f) { f(clock_); }
//     WrappedAttribute<KivClock> clock_;
//   };
//
// Flags. A reflector and each wrapper keep their own notification-active
// flag (changed only through hasNotificationActiveIs) and zombie flag (the
// runtime's marked-for-deletion flag, changed only through
// kivDoZombieReactors). A wrapper's notification-active flag is the one
// its runtime observer base keeps, so the two never disagree.
//
// Everything runs on the one activity thread.
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <utility>

#include "Kiv/Collection.h"
#include "Kiv/Exception.h"
#include "Kiv/HashMap.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"

namespace Bridging {

class ReactorBackLinks;

// A wrapper's entry in the list of wrappers that point back at one
// reflector.
class ReactorBackLink {
 public:
  ReactorBackLink(ReactorBackLink const&) = delete;
  ReactorBackLink& operator=(ReactorBackLink const&) = delete;

 protected:
  ReactorBackLink() noexcept = default;
  ~ReactorBackLink() { backLinkIs(nullptr); }

  // The reflector ends: the wrapper stops acting and leaves the list.
  virtual void kivReactorGone() = 0;
  inline void backLinkIs(ReactorBackLinks* list) noexcept;

 private:
  friend class ReactorBackLinks;
  ReactorBackLinks* list_ = nullptr;  // non-owning: the reflector's list
  ReactorBackLink* previous_ = nullptr;
  ReactorBackLink* next_ = nullptr;
};

// A reflector's list of the wrappers that point back at it.
class ReactorBackLinks {
 public:
  ReactorBackLinks() noexcept = default;
  ReactorBackLinks(ReactorBackLinks const&) = delete;
  ReactorBackLinks& operator=(ReactorBackLinks const&) = delete;
  ~ReactorBackLinks() { reactorGone(); }

  // Tells every wrapper in the list that its reflector ends.
  void reactorGone() {
    while (head_) head_->kivReactorGone();
  }

 private:
  friend class ReactorBackLink;
  ReactorBackLink* head_ = nullptr;
};

void ReactorBackLink::backLinkIs(ReactorBackLinks* list) noexcept {
  if (list_) {
    if (previous_) previous_->next_ = next_;
    else list_->head_ = next_;
    if (next_) next_->previous_ = previous_;
    previous_ = next_ = nullptr;
  }
  list_ = list;
  if (list_) {
    next_ = list_->head_;
    if (next_) next_->previous_ = this;
    list_->head_ = this;
  }
}

// Base: the observed type's Notifiee. Handlers: the reflector's handlers
// that run, in this order, when the wrapper is pointed at another object
// (none for a wrapper that reacts to nothing).
template <class ReactorT, class Base, void (ReactorT::*... Handlers)()>
class ReactorWrapper : public Base, private ReactorBackLink {
 public:
  using ReactorClass = ReactorT;
  using Observed = typename decltype(std::declval<Base const&>().notifier())::element_type;

  // Starts with notification active (as the runtime's observer base does),
  // attaches to `observed` without running a handler, and registers.
  ReactorWrapper(Observed* observed, ReactorT* reactor) {
    reactorIs(reactor);
    Base::notifierIs(Kiv::Ptr<Kiv::PtrInterface const>(observed));
    this->isRegisteredNotifieeIs(true);
  }
  ~ReactorWrapper() override { ReactorWrapper::kivDoZombieReactors(true); }

  ReactorT* reactor() const noexcept { return reactor_; }
  void reactorIs(ReactorT* reactor) noexcept {
    reactor_ = reactor;
    backLinkIs(reactor ? &reactor->kivBackLinks() : nullptr);
  }
  bool kivZombie() const noexcept { return this->kivMarkedForDeletion(); }

  // Passes a real change on to the runtime's observer.
  void hasNotificationActiveIs(bool active) override {
    if (active == this->hasNotificationActive()) return;
    Base::hasNotificationActiveIs(active);
  }

  // Pointed at another object (null, or an object of another type, means
  // none), the wrapper runs its handlers at once, unless it is a zombie. A
  // handler may make it one, so the flag is tested again before each.
  void notifierIs(Kiv::Ptr<Kiv::PtrInterface const> const& p) override {
    if constexpr (sizeof...(Handlers) == 0) {
      Base::notifierIs(p);
    } else {
      auto const* observed = dynamic_cast<Observed const*>(p.ptr());
      if (observed == this->rawNotifier()) return;
      Base::notifierIs(p);
      if (observed) (run<Handlers>(), ...);
      this->isRegisteredNotifieeIs(true);
    }
  }

  // A zombie is not notified (while attached) and calls no handler.
  virtual void kivDoZombieReactors(bool zombie) {
    if (zombie == kivZombie()) return;
    if (this->rawNotifier()) hasNotificationActiveIs(!zombie);
    this->kivMarkedForDeletionIs(zombie);
  }

 protected:
  // The reflector for a callback to call, counted for the length of the
  // call: a handler's own notifications may lead its owner to delete it
  // (a port whose status entry an observer of a flushed host removes), and
  // it must not end under its own handler. Null while the wrapper is a
  // zombie or its back pointer is cleared, so a reflector that is being
  // destroyed is never counted again.
  Kiv::Ptr<ReactorT> live() const { return Kiv::Ptr<ReactorT>(kivZombie() ? nullptr : reactor_); }

 private:
  void kivReactorGone() override {
    kivDoZombieReactors(true);
    reactorIs(nullptr);
  }

  template <void (ReactorT::*Handler)()>
  void run() {
    if (auto const r = live()) (r.ptr()->*Handler)();
  }

  ReactorT* reactor_ = nullptr;  // non-owning back pointer, cleared when the reflector ends
};

// An observed attribute: a counted reference to its wrapper W, or null.
template <class W>
class WrappedAttribute {
 public:
  using Wrapper = W;
  using Observed = typename W::Observed;
  using ReactorClass = typename W::ReactorClass;

  // Construction of the reflector: a wrapper for a non-null value, none
  // for null.
  WrappedAttribute(Kiv::Ptr<Observed> const& value, ReactorClass* reactor) {
    if (value) w_ = make(value, reactor);
  }
  // The reflector has torn down already (Reactor::kivTearDown); this is for
  // a reflector whose construction failed. Either way a wrapper that
  // someone else still holds (a notification in progress, the loop's clock
  // queue) never calls the reflector again.
  ~WrappedAttribute() { retire(); }
  WrappedAttribute(WrappedAttribute const&) = delete;
  WrappedAttribute& operator=(WrappedAttribute const&) = delete;

  Kiv::Ptr<Observed> value() const { return w_ ? w_->notifier() : nullptr; }
  W* wrapper() const noexcept { return w_.ptr(); }

  // newX: a wrapper bound to `reactor` and `observed`, switched on. Not
  // stored.
  static Kiv::Ptr<W> make(Kiv::Ptr<Observed> const& observed, ReactorClass* reactor) {
    Kiv::Ptr<W> w = Kiv::make<W>(observed.ptr(), reactor);
    w->hasNotificationActiveIs(true);
    return w;
  }

  // xIs. Re-pointing an existing wrapper runs its handlers at once; a new
  // wrapper runs none. The wrapper takes the reflector's zombie state.
  void is(Kiv::Ptr<Observed> const& v, ReactorClass* reactor) {
    bool const zombie = reactor->kivMarkedForDeletion();
    if (w_) {
      if (w_.ptr()->rawNotifier() == static_cast<Kiv::PtrInterface const*>(v.ptr())) return;
      if (!v) {
        Kiv::Ptr<W> old = std::move(w_);
        old->kivDoZombieReactors(true);
        old->reactorIs(nullptr);
        return;
      }
      // Held here: a handler run by the re-pointing may clear the attribute.
      Kiv::Ptr<W> w = w_;
      w->notifierIs(v);
      w->kivDoZombieReactors(zombie);
      return;
    }
    if (!v) return;
    w_ = make(v, reactor);
    Kiv::Ptr<W> w = w_;
    w->notifierIs(v);  // already its notifier: runs no handler
    w->kivDoZombieReactors(zombie);
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

  void hasNotificationActiveIs(bool active) {
    if (w_) w_->hasNotificationActiveIs(active);
  }
  void kivDoZombieReactors(bool zombie) {
    if (w_) w_->kivDoZombieReactors(zombie);
  }
  void clearBackPointer() noexcept {
    if (w_) w_->reactorIs(nullptr);
  }

 private:
  void retire() noexcept {
    if (!w_) return;
    w_->kivDoZombieReactors(true);
    w_->reactorIs(nullptr);
  }

  Kiv::Ptr<W> w_;
};

// The reflector base. Derived lists its wrapped attributes in
// kivForEachWrapper(f) (it may be private, with Reactor<Derived> a
// friend); a class with children also defines kivForEachChild(f) and
// kivDeleteChildren().
template <class Derived>
class Reactor : public Kiv::PtrInterface {
 public:
  // A change goes to every present wrapper in attribute order, then to
  // every child.
  void hasNotificationActiveIs(bool active) override {
    if (active == hasNotificationActive()) return;
    notificationActiveFlagIs(active);
    derived().kivForEachWrapper([active](auto& w) { w.hasNotificationActiveIs(active); });
    derived().kivForEachChild([active](auto& child) { child.hasNotificationActiveIs(active); });
  }

  // A change goes to every present wrapper in attribute order. Children are
  // not visited: each child keeps its own zombie state.
  virtual void kivDoZombieReactors(bool zombie) {
    if (zombie == kivMarkedForDeletion()) return;
    derived().kivForEachWrapper([zombie](auto& w) { w.kivDoZombieReactors(zombie); });
    kivMarkedForDeletionIs(zombie);
  }

  // The wrappers that point back at this reflector.
  ReactorBackLinks& kivBackLinks() noexcept { return backLinks_; }

  // A reflector has no activity of its own; it runs on the activity of the
  // entities it observes.
  Kiv::PtrInterface* kivFwkActivity() noexcept { return nullptr; }
  Kiv::PtrInterface const* kivFwkActivity() const noexcept { return nullptr; }

 protected:
  Reactor() = default;
  ~Reactor() override = default;

  // The first steps of destruction, run by the derived destructor: become a
  // zombie, clear the wrappers' back pointers in attribute order, then
  // those of the wrappers made by newX that others keep, delete the
  // children. The members then release their references in reverse
  // declaration order.
  void kivTearDown() {
    kivDoZombieReactors(true);
    derived().kivForEachWrapper([](auto& w) { w.clearBackPointer(); });
    backLinks_.reactorGone();
    derived().kivDeleteChildren();
  }

  // For a class without children.
  template <class F>
  void kivForEachChild(F&&) {}
  void kivDeleteChildren() {}

 private:
  Derived& derived() noexcept { return static_cast<Derived&>(*this); }

  ReactorBackLinks backLinks_;  // a reflector whose construction failed clears them last
};

// The text of a constructor parameter in the reinstantiation error: an
// entity's full name, quoted, or None.
template <class T>
Kiv::String8 kivParameterText(Kiv::Ptr<T> const& p) {
  return Kiv::valueToStrep(Kiv::Ptr<Kiv::PtrInterface const>(p.ptr()));
}

// A reflector's collection of child reflectors, keyed by KeyOf. Notify is
// the owner's change hook (xNotify(key, child)), which the iterator calls
// for every child deleted through it.
//
// The child class provides, besides its constructor (key, parameters...):
//   static constexpr char const* kivParameterNames[]   declaration order
//   auto kivParameters() const   a tuple of its current parameter values
//
// No operation invalidates an iterator: one standing on a removed child
// still advances to the next (Kiv/HashMap.h).
template <class Owner, class Child, class Key, class KeyOf, void (Owner::*Notify)(Key, Kiv::Ptr<Child> const&)>
class ChildCollection {
  using Map = Kiv::HashMap<Child, Key, KeyOf>;

 public:
  using Iterator = Kiv::CollectionIterator<Owner, Child, Key, KeyOf, Notify>;
  using IteratorConst = typename Map::IteratorConst;

  explicit ChildCollection(Owner* owner) noexcept : owner_(owner) {}
  ChildCollection(ChildCollection const&) = delete;
  ChildCollection& operator=(ChildCollection const&) = delete;

  Kiv::Ptr<Child> member(Key const& key) const { return map_.member(key); }
  std::uint32_t members() const noexcept { return map_.members(); }
  // The change counter: raised by every insertion and removal.
  std::uint32_t version() const noexcept { return map_.version(); }

  // xIs: the existing child when its parameters are the same objects as
  // `parameters`; otherwise throws the reinstantiation error naming the
  // first that differs, and changes nothing. Without a child, makes one.
  template <class... P>
  Kiv::ValidPtr<Child> is(Key const& key, P const&... parameters) {
    if (Child* existing = map_.find(key)) {
      check(*existing, std::forward_as_tuple(parameters...), std::index_sequence_for<P...>());
      return Kiv::ValidPtr<Child>(existing);
    }
    Kiv::Ptr<Child> child = make(key, parameters...);
    child->hasNotificationActiveIs(true);
    return Kiv::ValidPtr<Child>(std::move(child));
  }

  // newX: makes the child (its constructor runs its handlers), switches
  // its notification on and inserts it. A key that is taken already is
  // refused with the name-in-use exception before anything is made.
  // Iterators stay valid; a walk in progress may or may not visit the
  // child.
  template <class... P>
  Kiv::ValidPtr<Child> make(Key const& key, P const&... parameters) {
    if (map_.find(key))
      Kiv::throwNameInUseException("a child under the key " + Kiv::valueToStrep(key) + " exists already");
    Kiv::Ptr<Child> child = Kiv::make<Child>(key, parameters...);
    child->hasNotificationActiveIs(true);
    map_.insert(child);
    return Kiv::ValidPtr<Child>(std::move(child));
  }

  // xDel: removes the child and returns it (null when absent); it goes when
  // its last reference does.
  Kiv::Ptr<Child> del(Key const& key) { return map_.remove(key); }

  // xDelAll: deletes every child through the iterator, then frees the
  // map's storage.
  void delAll() { iterator().deleteAll(); }

  Iterator iterator() { return Iterator(countedOwner(), map_, map_.first()); }
  // At the child of key `key` or, when absent, at the next one.
  Iterator iterator(Key const& key) { return Iterator(countedOwner(), map_, map_.iterator(key).ptr()); }
  IteratorConst iteratorConst() const { return map_.iteratorConst(); }
  IteratorConst iteratorConst(Key const& key) const { return map_.iteratorConst(key); }

  // Calls f(child) for every child in iteration order.
  template <class F>
  void forEach(F&& f) {
    for (auto it = map_.iterator(); it; ++it) f(*it);
  }

 private:
  // The iterator counts the owner, so that the owner stays while it is
  // walked; an owner being destroyed (no references left) is not counted,
  // since counting it again would end it a second time.
  Kiv::Ptr<Owner> countedOwner() const { return Kiv::Ptr<Owner>(owner_->references() ? owner_ : nullptr); }

  template <class Given, std::size_t... I>
  static void check(Child const& child, Given const& given, std::index_sequence<I...>) {
    auto const current = child.kivParameters();
    static_assert(std::tuple_size<decltype(current)>::value == sizeof...(I), "one value per constructor parameter");
    (checkOne(Child::kivParameterNames[I], std::get<I>(current), std::get<I>(given)), ...);
  }
  template <class T>
  static void checkOne(char const* name, Kiv::Ptr<T> const& current, Kiv::Ptr<T> const& given) {
    if (current == given) return;
    Kiv::throwNameInUseException("Reinstantiating the pointer interface where constructor parameter attribute _" +
                                 Kiv::String8(name) + " has a different value of " + kivParameterText(given) +
                                 " than the current value of " + kivParameterText(current) + " not allowed");
  }

  Owner* const owner_;  // non-owning: the owner holds this collection
  Map map_;
};

}  // namespace Bridging

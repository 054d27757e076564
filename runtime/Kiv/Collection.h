#pragma once
// The pieces that every collection attribute of an entity or a reactor is
// made of, written once:
//
// - Kiv::ValueMember: one member of a collection of plain values (a key, a
//   value and the map's link), for example the tap devices of an agent's
//   configuration or the learned hosts of a forwarding database;
// - Kiv::CollectionIterator: the collection's iterator. It holds a counted
//   reference to the collection's owner, so the collection cannot go while
//   it is walked, and announces every member deleted through it to the
//   owner's change hook (xNotify(key, member));
// - Kiv::EntityMembers: the operations of a collection of child entities
//   keyed by name or number (look-up, create on first use, insert or
//   replace, delete). A member deleted through an iterator is removed from
//   the map only; the owner's change hook makes it an orphan
//   (parentIs(nullptr)).
#include <utility>

#include "Kiv/Entity.h"
#include "Kiv/HashMap.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"

namespace Kiv {

// Derived is the member class itself (it names the map's link type).
template <class Derived, class K, class V>
class ValueMember : public PtrInterface, public HashMapLink<Derived> {
 public:
  using Key = K;
  using Value = V;
  ValueMember(K const& key, V const& value) : key_(key), value_(value) {}

  K const& key() const noexcept { return key_; }
  V const& value() const noexcept { return value_; }
  void valueIs(V const& v) { value_ = v; }

 private:
  K key_;
  V value_;
};

// The map of a value collection, keyed by the member's key.
template <class M>
using ValueMap = HashMap<M, typename M::Key, KeyBy<&M::key>>;

// Owner: the class that holds the collection. Notify: its change hook,
// called after a member has been deleted through the iterator.
template <class Owner, class M, class K, class KeyOf, void (Owner::*Notify)(K, Ptr<M> const&)>
class CollectionIterator : public HashMap<M, K, KeyOf>::Iterator {
  using Base = typename HashMap<M, K, KeyOf>::Iterator;

 public:
  CollectionIterator() = default;
  CollectionIterator(Ptr<Owner> const& owner, HashMap<M, K, KeyOf>& map, M* at)
      : Base(&map, at), owner_(owner) {}

  void deleteNotify(Ptr<M> const& member) override {
    if (owner_) ((*owner_).*Notify)(KeyOf::key(*member), member);
  }

 private:
  Ptr<Owner> owner_;
};

// A collection of child entities of an entity. The members are entities
// that carry the map's link; the collection makes them children of the
// owner while they are in it.
template <class M, class K, class KeyOf>
class EntityMembers : public HashMap<M, K, KeyOf> {
  using Map = HashMap<M, K, KeyOf>;

 public:
  ~EntityMembers() {
    for (M& m : *this) m.parentIs(nullptr);
  }

  // The member of that key, made by `make()` and inserted when absent.
  // Returns the member and whether it was made.
  template <class Make>
  std::pair<Ptr<M>, bool> findOrMake(Entity* owner, K const& key, Make&& make) {
    if (M* m = Map::find(key)) return {Ptr<M>(m), false};
    Ptr<M> m = make();
    adopt(owner, m);
    return {m, true};
  }

  // Puts `m` under its key, replacing another member of that key. Returns
  // false when `m` is that member already.
  bool put(Entity* owner, Ptr<M> const& m) {
    decltype(auto) key = KeyOf::key(*m);
    M* old = Map::find(key);
    if (old == m.ptr()) return false;
    checkFree(*m);
    if (old) Map::remove(old)->parentIs(nullptr);
    adopt(owner, m);
    return true;
  }

  Ptr<M> del(K const& key) {
    Ptr<M> m = Map::remove(key);
    if (m) m->parentIs(nullptr);
    return m;
  }

 private:
  // A member of another collection must leave it first; refused before
  // anything changes.
  static void checkFree(M const& m) {
    if (m.kivInMap()) throwInternalException("entity " + m.fullName() + " is a member of another collection");
  }
  void adopt(Entity* owner, Ptr<M> const& m) {
    checkFree(*m);
    Map::insert(m);
    m->parentIs(owner);
  }
};

}  // namespace Kiv

#pragma once
// The collection attributes of the bridging model's entities, written once.
//
// An entity holds each collection as one of these objects and gives it its
// generated names (topoPortConfig(key), topoPortConfigIs(key), ...) as
// one-line forwarders. The collection tells its owner of every change
// through the owner's change hook (`xNotify(key, member)`), the same hook
// that the collection's iterator calls for members deleted through it, so
// the owner notifies its observers in one place:
//
//   void TopoConfig::topoPortConfigNotify(Pyrel::IntfId id, Kiv::Ptr<TopoPortConfig> const& m) {
//     topoPortConfig_.released(m);
//     kivNotify<NotifieeConst, Pyrel::IntfId>(258, &NotifieeConst::onTopoPortConfig, id);
//   }
//
// Each mutator stores first and then calls the hook once, and only when the
// collection changed. No operation invalidates an iterator: a deleted
// member keeps its link forward, so an iterator standing on it advances to
// the next live member (Kiv/HashMap.h).
//
// The collection's back pointer to its owner does not count: the
// collection is a part of its owner. Its iterators count the owner, so the
// owner stays while it is walked.
#include <cstdint>
#include <utility>

#include "Kiv/Collection.h"
#include "Kiv/Exception.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/Types.h"

namespace Bridging::detail {

// A collection of child entities, each under the key its KeyOf names.
// Members are children of the owner while they are in the collection, so
// their full names read "owner/member". M is made from its key alone.
template <class Owner, class M, class K, class KeyOf, void (Owner::*Notify)(K, Kiv::Ptr<M> const&)>
class EntityCollection {
  using Map = Kiv::EntityMembers<M, K, KeyOf>;

 public:
  using Iterator = Kiv::CollectionIterator<Owner, M, K, KeyOf, Notify>;
  using IteratorConst = typename Map::IteratorConst;

  // `attr` is the collection's attribute id in the owner; members record
  // it as their parent attribute.
  EntityCollection(Owner* owner, Kiv::AttributeId attr) : owner_(owner), attr_(attr) {}
  EntityCollection(EntityCollection const&) = delete;
  EntityCollection& operator=(EntityCollection const&) = delete;

  // The member of key `k`, or null.
  Kiv::Ptr<M> member(K const& k) const { return map_.member(k); }

  // The member of key `k`, made and inserted when absent. Only a new
  // member is announced.
  Kiv::Ptr<M> memberIs(K const& k) {
    auto made = map_.findOrMake(owner_, k, [&] {
      Kiv::Ptr<M> m = Kiv::make<M>(k);
      m->parentAttrIdIs(attr_);
      return m;
    });
    if (made.second) changed(k, made.first);
    return made.first;
  }

  // Puts `m` under its own key. Another member of that key leaves the
  // collection (it is no longer the owner's child); the change is announced
  // once. Nothing happens when `m` is that member already. A null `m`, or
  // one that is a member of another collection, throws a range exception
  // and changes nothing.
  void memberIs(Kiv::Ptr<M> const& m) {
    if (!m) Kiv::throwRangeException("null ValidPtr");
    K key = KeyOf::key(*m);
    if (map_.find(key) == m.ptr()) return;
    // Checked here, before the old member is removed, so that a refused
    // member leaves the collection as it was.
    if (m->kivInMap()) Kiv::throwRangeException(m->fullName() + " is a member of another collection");
    m->parentAttrIdIs(attr_);
    map_.put(owner_, m);
    changed(key, m);
  }

  // Removes the member of key `k` and returns it (null when absent); only a
  // removal is announced.
  Kiv::Ptr<M> del(K const& k) {
    Kiv::Ptr<M> m = map_.del(k);
    if (m) changed(k, m);
    return m;
  }

  // Deletes every member through the iterator, one announcement per member
  // in iteration order. Not for use from the owner's destructor (the
  // iterator counts the owner).
  void delAll() { iterator().deleteAll(); }

  std::uint32_t members() const noexcept { return map_.members(); }

  Iterator iterator() { return Iterator(Kiv::Ptr<Owner>(owner_), map_, map_.first()); }
  // At the member of key `k` or, when absent, at the next one in iteration
  // order.
  Iterator iterator(K const& k) { return Iterator(Kiv::Ptr<Owner>(owner_), map_, map_.iterator(k).ptr()); }
  IteratorConst iteratorConst() const { return map_.iteratorConst(); }
  IteratorConst iteratorConst(K const& k) const { return map_.iteratorConst(k); }

  // For the owner's change hook: a member deleted through an iterator has
  // left the map but still names the owner as its parent; it stops being
  // the owner's child here, so it never points at an owner that has gone.
  void released(Kiv::Ptr<M> const& m) const {
    if (m && !m->kivInMap() && m->parent().ptr() == owner_) m->parentIs(nullptr);
  }

 private:
  void changed(K const& k, Kiv::Ptr<M> const& m) { (owner_->*Notify)(k, m); }

  Owner* const owner_;  // non-owning: the owner holds this collection
  Kiv::AttributeId const attr_;
  Map map_;
};

// One entry of a value collection: a key and a plain value.
template <class K, class V>
class ValueEntry : public Kiv::ValueMember<ValueEntry<K, V>, K, V> {
 public:
  using Kiv::ValueMember<ValueEntry, K, V>::ValueMember;
};

// A collection of plain values by key. Reading an absent key gives the
// value type's default (a null reference, a default value).
template <class Owner, class K, class V, void (Owner::*Notify)(K, Kiv::Ptr<ValueEntry<K, V>> const&)>
class ValueCollection {
 public:
  using Entry = ValueEntry<K, V>;

 private:
  using Map = Kiv::ValueMap<Entry>;
  using KeyOf = Kiv::KeyBy<&Entry::key>;

 public:
  using Iterator = Kiv::CollectionIterator<Owner, Entry, K, KeyOf, Notify>;
  using IteratorConst = typename Map::IteratorConst;

  explicit ValueCollection(Owner* owner) : owner_(owner) {}
  ValueCollection(ValueCollection const&) = delete;
  ValueCollection& operator=(ValueCollection const&) = delete;

  // The value under `k`, or the default.
  V value(K const& k) const {
    Entry const* e = map_.find(k);
    return e ? e->value() : V();
  }

  // Stores `v` under `k`; announced unless an equal value is there.
  void valueIs(K const& k, V const& v) {
    if (Entry* e = map_.find(k)) {
      if (e->value() == v) return;
      e->valueIs(v);
      changed(k, Kiv::Ptr<Entry>(e));
      return;
    }
    Kiv::Ptr<Entry> e = Kiv::make<Entry>(k, v);
    map_.insert(e);
    changed(k, e);
  }

  // Removes the entry of key `k` and returns its value (the default when
  // absent); only a removal is announced.
  V del(K const& k) {
    Kiv::Ptr<Entry> e = map_.remove(k);
    if (!e) return V();
    V v = e->value();
    changed(k, e);
    return v;
  }

  // Deletes every entry through the iterator, one announcement per entry in
  // iteration order. Not for use from the owner's destructor.
  void delAll() { iterator().deleteAll(); }

  std::uint32_t members() const noexcept { return map_.members(); }

  Iterator iterator() { return Iterator(Kiv::Ptr<Owner>(owner_), map_, map_.first()); }
  Iterator iterator(K const& k) { return Iterator(Kiv::Ptr<Owner>(owner_), map_, map_.iterator(k).ptr()); }
  IteratorConst iteratorConst() const { return map_.iteratorConst(); }
  IteratorConst iteratorConst(K const& k) const { return map_.iteratorConst(k); }

 private:
  void changed(K const& k, Kiv::Ptr<Entry> const& e) { (owner_->*Notify)(k, e); }

  Owner* const owner_;  // non-owning: the owner holds this collection
  Map map_;
};

}  // namespace Bridging::detail

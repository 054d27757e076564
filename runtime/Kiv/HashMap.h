#pragma once
// Kiv::HashMap is the runtime's collection of counted members keyed by a
// value: the children of a directory, the members of every entity
// collection and of the reflectors' child collections.
//
// Members are kept in one list ordered by the bit-reversed hash of their key
// and, for equal hashes, by key order; that is the iteration order, and
// since hashes are fixed functions of the key bytes it is the same on every
// platform. A bucket array points into the list at the first member of each
// group of equal low hash bits; it grows and shrinks without reordering the
// list, so a look-up is one hash and one walk of one group.
//
// Members are intrusive: a member class derives from Kiv::PtrInterface and
// from Kiv::HashMapLink<Member>, and names its key with a KeyOf policy:
//
//   struct Port : Kiv::PtrInterface, Kiv::HashMapLink<Port> {
//     Pyrel::IntfId intfId() const;
//   };
//   Kiv::HashMap<Port, Pyrel::IntfId, Kiv::KeyBy<&Port::intfId>> ports;
//
// The map holds one counted reference to each member; the links are plain
// pointers. Iterators hold a counted reference to the member they stand on,
// and the map knows its live iterators: removing a member moves the place
// each iterator standing on it advances to, so such an iterator still
// advances to the next live member, and a removed member links to nothing
// and keeps nobody alive. No operation of the map invalidates an iterator.
//
// A loop that removes nothing (neither its body nor anything the body calls)
// need not pay for that: a range-for over the map, `for (Port const& p :
// ports)`, holds no counted reference and walks the links directly.
//
// Keys need `std::uint32_t hash() const`, `==` and `<`.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/Hash.h"
#include "Kiv/Ptr.h"

namespace Kiv {

template <class M, class K, class KeyOf>
class HashMap;

// A member's place in a map's list, or the map's own link to its first
// member: the key's hash, kept for look-ups and ordering, and the forward
// link. A place outside a map links to itself.
class HashMapNode {
 public:
  HashMapNode() noexcept { nextIs(this); }
  HashMapNode(HashMapNode const&) = delete;
  HashMapNode& operator=(HashMapNode const&) = delete;

 protected:
  HashMapNode* next() const noexcept { return next_; }
  void nextIs(HashMapNode* n) noexcept { next_ = n; }

 private:
  template <class, class, class>
  friend class HashMap;
  std::uint32_t hash_ = 0;
  // Non-owning: the map holds its members. Kept as an aligned pointer, so
  // that leak checkers, which scan aligned words, see the members it links.
  HashMapNode* next_;
};

// The link by which a HashMap chains a member. Not an attribute of the
// member; the member's class only derives from it.
template <class M>
class HashMapLink : public HashMapNode {
 public:
  HashMapLink() noexcept = default;

  // Whether the member is in a map now.
  bool kivInMap() const noexcept { return next() != this; }
};

// KeyOf policy naming a member function that returns the key.
template <auto Fn>
struct KeyBy {
  template <class M>
  static decltype(auto) key(M const& m) {
    return (m.*Fn)();
  }
};

template <class M, class K, class KeyOf>
class HashMap {
  using Node = HashMapNode;
  using Link = HashMapLink<M>;

 public:
  class Position;
  class IteratorConst;
  class Iterator;

  HashMap() noexcept { head_.nextIs(nullptr); }
  HashMap(HashMap const&) = delete;
  HashMap& operator=(HashMap const&) = delete;
  // Iterators that outlive the map have come to their end and belong to no
  // map any more.
  ~HashMap() {
    clear();
    while (positions_) positions_->leave();
  }

  std::uint32_t members() const noexcept { return members_; }
  bool empty() const noexcept { return members_ == 0; }
  // Raised by every insertion and removal.
  std::uint32_t version() const noexcept { return version_; }
  std::uint32_t buckets() const noexcept { return static_cast<std::uint32_t>(bucket_.size()); }

  // The member with key `k`, or null. Non-owning. A group holds about one
  // member, so the walk compares hashes only and leaves the order alone.
  M* find(K const& k) const {
    if (bucket_.empty()) return nullptr;
    std::uint32_t const h = k.hash();
    std::uint32_t const g = h & mask();
    Node const* p = bucket_[g];
    if (!p) return nullptr;
    for (Node* n = p->next(); n && group(n) == g; n = n->next())
      if (link(n).hash_ == h && KeyOf::key(*memberOf(n)) == k) return memberOf(n);
    return nullptr;
  }
  Ptr<M> member(K const& k) const { return Ptr<M>(find(k)); }

  // Links `m` at its place and counts it. Its key must not be in the map;
  // it must not be in a map. Other iterators stay valid; one may or may not
  // visit `m`. What may fail (a refusal, no memory for a larger bucket
  // array) fails before anything changes.
  void insert(Ptr<M> const& m) {
    Link& l = *m;
    KIV_ASSERT(!l.kivInMap(), "Kiv/HashMap");
    decltype(auto) k = KeyOf::key(*m);
    std::uint32_t const h = k.hash();
    if (bucket_.empty()) bucket_.assign(minBuckets, nullptr);
    else if (members_ + 1 > bucket_.size()) grow();
    Node* const p = placeBefore(k, h);
    Node* const n = p->next();
    KIV_ASSERT(!(n && link(n).hash_ == h && KeyOf::key(*memberOf(n)) == k), "Kiv/HashMap");
    l.hash_ = h;
    l.nextIs(n);
    p->nextIs(&l);
    std::uint32_t const g = h & mask();
    if (!bucket_[g]) bucket_[g] = p;
    if (!n) tail_ = &l;
    else if (group(n) != g && bucket_[group(n)] == p) bucket_[group(n)] = &l;
        m->newRef();
    ++members_;
    ++version_;
  }

  // Unlinks the member with key `k` and returns it (null when absent).
  // Other iterators stay valid; one standing on the removed member still
  // advances to the next live member.
  Ptr<M> remove(K const& k) {
    M* m = find(k);
    if (!m) return nullptr;
    return remove(m);
  }
  Ptr<M> remove(M* m) {
    Link& l = *m;
    KIV_ASSERT(l.kivInMap(), "Kiv/HashMap");
    Node* p = bucket_[group(&l)];
    while (p->next() != &l) p = p->next();
    unlinkAfter(p);
    ++version_;
    if (members_ == 0) bucket_.clear();
    else if (bucket_.size() > minBuckets && members_ < bucket_.size() / 4) shrink();
    return Ptr<M>::adopt(m);  // the map's reference
  }

  // Unlinks every member without notifying anyone. The bucket array stays,
  // so refilling the map does not grow it again. Iterators standing on
  // members come to their end. Members are released one by one, each after
  // it has left the map, so a member's end sees a map in order.
  void clear() {
    if (members_) ++version_;
    while (Node* n = head_.next()) {
      unlinkAfter(&head_);
      Ptr<M>::adopt(memberOf(n));
    }
  }

  M* first() const noexcept { return memberOf(head_.next()); }
  IteratorConst iteratorConst() const { return IteratorConst(this, first()); }
  Iterator iterator() { return Iterator(this, first()); }
  // At the member with key `k` or, when there is none, at the first member
  // after the key's place in iteration order (the end when none follows).
  IteratorConst iteratorConst(K const& k) const { return IteratorConst(this, placeOf(k)); }
  Iterator iterator(K const& k) { return Iterator(this, placeOf(k)); }

  // The walk of a range-for (see above): no counted references, and the
  // loop must remove nothing. It steps from link to link and turns a link
  // into its member only when the member is used, so that a step is one
  // load.
  template <class T>
  class Walk {
   public:
    explicit Walk(Node* at) noexcept : at_(at) {}
    T& operator*() const noexcept { return *memberOf(at_); }
    T* operator->() const noexcept { return memberOf(at_); }
    Walk& operator++() noexcept {
      at_ = at_->next();
      return *this;
    }
    friend bool operator!=(Walk a, Walk b) noexcept { return a.at_ != b.at_; }

   private:
    Node* at_;
  };
  Walk<M> begin() noexcept { return Walk<M>(head_.next()); }
  Walk<M> end() noexcept { return Walk<M>(nullptr); }
  Walk<M const> begin() const noexcept { return Walk<M const>(head_.next()); }
  Walk<M const> end() const noexcept { return Walk<M const>(nullptr); }

 private:
  static constexpr std::size_t minBuckets = 8;

  static Link& link(Node* n) noexcept { return static_cast<Link&>(*n); }
  static Link& link(M const* m) noexcept { return const_cast<M&>(*m); }
  static M* memberOf(Node* n) noexcept { return static_cast<M*>(static_cast<Link*>(n)); }
  std::uint32_t mask() const noexcept { return static_cast<std::uint32_t>(bucket_.size() - 1); }
  std::uint32_t group(Node* n) const noexcept { return link(n).hash_ & mask(); }

  // Whether (hash a, key ka) orders before (hash b, key kb).
  template <class A, class B>
  static bool before(std::uint32_t a, A const& ka, std::uint32_t b, B const& kb) {
    if (a != b) return bitReverse(a) < bitReverse(b);
    return ka < kb;
  }
  bool before(Node* n, K const& k, std::uint32_t h) const {
    return before(link(n).hash_, KeyOf::key(*memberOf(n)), h, k);
  }

  // The last node that orders before (h, k): a member, or the map's own
  // link when none does. The bucket array is not empty.
  Node* placeBefore(K const& k, std::uint32_t h) const {
    std::uint32_t const g = h & mask();
    Node* p = bucket_[g];
    if (p) {
      for (Node* n = p->next(); n && group(n) == g && before(n, k, h); n = n->next()) p = n;
      return p;
    }
    // An empty group: the place is before the first member of the next
    // non-empty group in bit-reversed order, whose bucket points at that
    // place. A map filled in iteration order (as a resync or a copy fills
    // it) places every member after the last: that is known from the last
    // member alone, without walking every empty group to the array's end.
    if (!tail_ || before(tail_, k, h)) return tail_ ? tail_ : const_cast<Node*>(&head_);
    unsigned const bits = static_cast<unsigned>(__builtin_ctzll(bucket_.size()));
    std::uint32_t const r = bitReverse(g) >> (32 - bits);
    for (std::uint32_t i = r + 1; i < bucket_.size(); ++i)
      if (Node* s = bucket_[bitReverse(i) >> (32 - bits)]) return s;
    return tail_;
  }

  M* placeOf(K const& k) const {
    if (bucket_.empty()) return nullptr;
    return memberOf(placeBefore(k, k.hash())->next());
  }

  // Unlinks the member after `p`, keeps the map's reference for the caller
  // and moves the iterators that stand on it or would advance to it.
  void unlinkAfter(Node* p) noexcept {
    Node* const m = p->next();
    Node* const n = m->next();
    std::uint32_t const g = group(m);
    p->nextIs(n);
    if (n && group(n) != g && bucket_[group(n)] == m) bucket_[group(n)] = p;
    if (bucket_[g] == p && (!n || group(n) != g)) bucket_[g] = nullptr;
    if (tail_ == m) tail_ = p == &head_ ? nullptr : p;
    m->nextIs(m);
    --members_;
    for (Position* i = positions_; i; i = i->nextPosition_) i->removed(memberOf(m), memberOf(n));
  }

  // Twice the buckets: the new array is made before anything changes.
  void grow() {
    std::vector<Node*> grown(bucket_.size() * 2, nullptr);
    bucket_.swap(grown);
    regroup();
  }
  // Half the buckets, in the array's own storage: removing never allocates.
  void shrink() noexcept {
    bucket_.resize(bucket_.size() / 2);
    std::fill(bucket_.begin(), bucket_.end(), nullptr);
    regroup();
  }
  // Each bucket points at the node before its group's first member.
  void regroup() noexcept {
    Node* p = &head_;
    for (Node* n = p->next(); n; p = n, n = n->next())
      if (!bucket_[group(n)]) bucket_[group(n)] = p;
  }

  Node head_;              // links to the first member
  Node* tail_ = nullptr;   // the last member
  std::vector<Node*> bucket_;
  std::uint32_t members_ = 0;
  std::uint32_t version_ = 0;
  mutable Position* positions_ = nullptr;  // the live iterators of this map
};

// What every iterator of a map is: the member it stands on (counted), and
// a place in the map's list of live iterators, so that the map can move it
// when that member is removed.
template <class M, class K, class KeyOf>
class HashMap<M, K, KeyOf>::Position {
 public:
  M* ptr() const noexcept { return cur_.ptr(); }
  explicit operator bool() const noexcept { return static_cast<bool>(cur_); }

 protected:
  Position() noexcept = default;
  Position(HashMap const* map, M* at) : map_(const_cast<HashMap*>(map)), cur_(at) { enter(); }
  Position(Position const& o) : map_(o.map_), cur_(o.cur_), after_(o.after_), detached_(o.detached_) { enter(); }
  Position& operator=(Position const& o) {
    if (this == &o) return *this;
    leave();
    map_ = o.map_;
    cur_ = o.cur_;
    after_ = o.after_;
    detached_ = o.detached_;
    enter();
    return *this;
  }
  ~Position() { leave(); }

  // To the next live member: the member's successor, or, when the member
  // was removed while this stood on it, what followed it in the map then.
  void advance() {
    if (!cur_) return;
    M* const n = detached_ ? after_ : memberOf(link(cur_.ptr()).next());
    detached_ = false;
    after_ = nullptr;
    cur_ = Ptr<M>(n);
  }

  HashMap* map_ = nullptr;  // non-owning: the map tells its iterators when it ends
  Ptr<M> cur_;

 private:
  friend class HashMap;

  // The map removed `m`; `n` followed it.
  void removed(M* m, M* n) noexcept {
    if (detached_) {
      if (after_ == m) after_ = n;
    } else if (cur_.ptr() == m) {
      detached_ = true;
      after_ = n;
    }
  }
  void enter() noexcept {
    if (!map_) return;
    previousPosition_ = nullptr;
    nextPosition_ = map_->positions_;
    if (nextPosition_) nextPosition_->previousPosition_ = this;
    map_->positions_ = this;
  }
  void leave() noexcept {
    if (!map_) return;
    if (previousPosition_) previousPosition_->nextPosition_ = nextPosition_;
    else map_->positions_ = nextPosition_;
    if (nextPosition_) nextPosition_->previousPosition_ = previousPosition_;
    previousPosition_ = nextPosition_ = nullptr;
    map_ = nullptr;
  }

  M* after_ = nullptr;  // a detached iterator's next member (null: the end)
  bool detached_ = false;
  Position* previousPosition_ = nullptr;
  Position* nextPosition_ = nullptr;
};

// Walks members in iteration order, read only.
template <class M, class K, class KeyOf>
class HashMap<M, K, KeyOf>::IteratorConst : public Position {
 public:
  IteratorConst() = default;
  IteratorConst(HashMap const* map, M* at) : Position(map, at) {}

  M const* ptr() const noexcept { return this->cur_.ptr(); }
  M const* operator->() const noexcept { return this->cur_.ptr(); }
  M const& operator*() const noexcept { return *this->cur_; }
  IteratorConst& operator++() {
    this->advance();
    return *this;
  }
  friend bool operator==(IteratorConst const& a, IteratorConst const& b) { return a.cur_ == b.cur_; }
  friend bool operator!=(IteratorConst const& a, IteratorConst const& b) { return a.cur_ != b.cur_; }
};

// Walks members in iteration order and can delete them. A collection that
// announces deletions derives from it and overrides deleteNotify.
template <class M, class K, class KeyOf>
class HashMap<M, K, KeyOf>::Iterator : public Position {
 public:
  Iterator() = default;
  // `map` is a non-owning back pointer; an iterator that outlives its map
  // deletes nothing.
  Iterator(HashMap* map, M* at) : Position(map, at) {}
  Iterator(Iterator const&) = default;
  Iterator& operator=(Iterator const&) = default;
  virtual ~Iterator() = default;

  M* operator->() const noexcept { return this->cur_.ptr(); }
  M& operator*() const noexcept { return *this->cur_; }
  Ptr<M> member() const { return this->cur_; }
  Iterator& operator++() {
    this->advance();
    return *this;
  }
  friend bool operator==(Iterator const& a, Iterator const& b) { return a.cur_ == b.cur_; }
  friend bool operator!=(Iterator const& a, Iterator const& b) { return a.cur_ != b.cur_; }

  // Steps past the current member, removes it from the map and announces it
  // through deleteNotify. A member that someone else removed meanwhile is
  // only stepped past: its removal was announced by whoever removed it.
  void del() {
    if (!this->cur_) return;
    Ptr<M> m = this->cur_;
    ++*this;
    if (!this->map_ || !m->kivInMap()) return;
    this->map_->remove(m.ptr());
    deleteNotify(m);
  }

  // Deletes every member, from here on and then from the first again while
  // the map is not empty (observers of deleteNotify may add members). The
  // map is cleared at the end.
  void deleteAll() {
    for (;;) {
      if (!this->map_) return;  // an iterator of no map has nothing to delete
      if (!this->cur_) {
        if (this->map_->empty()) break;
        this->cur_ = Ptr<M>(this->map_->first());
      }
      del();
    }
    this->map_->clear();
  }

  // Called after a member has been removed through this iterator.
  virtual void deleteNotify(Ptr<M> const& member) { (void)member; }
};

}  // namespace Kiv

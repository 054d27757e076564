#pragma once
// Kiv::HashMap is the runtime's collection of counted members keyed by a
// value: the children of a directory, the members of every entity
// collection and of the reflectors' child collections.
//
// Members are kept in one list ordered by the bit-reversed hash of their key
// and, for equal hashes, by key order; that is the iteration order, and
// since hashes are fixed functions of the key bytes it is the same on every
// platform. Each member keeps its bit-reversed hash (its order). A bucket
// array points into the list before the first member of each group of
// equal low hash bits, which are an order's top bits; the array is kept in
// list order, so the groups after a group are the buckets after its bucket.
// It grows and shrinks without reordering the list, so a look-up is one
// hash and one walk of one group.
//
// Members are intrusive: a member class derives from Kiv::PtrInterface and
// from Kiv::HashMapLink<Member>, and names its key with a KeyOf policy:
//
//   struct Port : Kiv::PtrInterface, Kiv::HashMapLink<Port> {
//     Pyrel::IntfId intfId() const;
//   };
//   Kiv::HashMap<Port, Pyrel::IntfId, Kiv::KeyBy<&Port::intfId>> ports;
//
// A member class that derives from a class of its own first names it as
// the link's second argument (`Kiv::HashMapLink<Vlan, Kiv::Entity>`), so
// that the link fits after it (see HashMapFields); a map refuses to compile
// for a member whose link does not follow the base it names.
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
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/Hash.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"

namespace Kiv {

template <class M, class K, class KeyOf>
class HashMap;

// The two fields of a place in a map's list: the key's hash bit-reversed
// (the place's order, kept for look-ups and ordering) and the forward link.
// Packed to four-byte alignment, so that a link takes 12 bytes on 64-bit
// hosts and can start in the 4-byte hole a base leaves at its end (as
// PtrInterface does after its reference word): the order fills the hole and
// the forward link starts on the pointer boundary after it. A link that
// starts on a pointer boundary puts the forward link first. Either way the
// forward link lies on a pointer boundary of the member, so that leak
// checkers, which scan aligned words, see the members a map links.
#pragma pack(push, 4)
template <class N, bool orderFirst>
struct HashMapFields {
  std::uint32_t order_ = 0;
  N* next_;  // non-owning: the map holds its members
};
template <class N>
struct HashMapFields<N, false> {
  N* next_;  // non-owning: the map holds its members
  std::uint32_t order_ = 0;
};
#pragma pack(pop)

// A member's place in a map's list, or the map's own link to its first
// member. A place outside a map links to itself.
template <bool orderFirstIn>
class HashMapNode : private HashMapFields<HashMapNode<orderFirstIn>, orderFirstIn> {
 public:
  static constexpr bool orderFirst = orderFirstIn;

  HashMapNode() noexcept { this->next_ = this; }
  HashMapNode(HashMapNode const&) = delete;
  HashMapNode& operator=(HashMapNode const&) = delete;

 protected:
  HashMapNode* next() const noexcept { return this->next_; }
  void nextIs(HashMapNode* n) noexcept { this->next_ = n; }

 private:
  template <class, class, class>
  friend class HashMap;
};
static_assert(sizeof(HashMapNode<true>) == 4 + sizeof(void*) && alignof(HashMapNode<true>) == 4);
static_assert(sizeof(HashMapNode<false>) == 4 + sizeof(void*) && alignof(HashMapNode<false>) == 4);

// A four-byte word after base B, to see where a link after B starts.
template <class B>
struct HashMapProbe : B {
  std::uint32_t word;
};

// Whether a link that follows base B starts off a pointer boundary, in the
// hole B leaves at its end.
template <class B>
constexpr bool hashMapLinkInHole() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  return offsetof(HashMapProbe<B>, word) % alignof(void*) != 0;
#pragma GCC diagnostic pop
}

// The link by which a HashMap chains a member. Not an attribute of the
// member; the member's class only derives from it, right after the base
// named by `After`, which tells where the link starts.
template <class M, class After = PtrInterface>
class HashMapLink : public HashMapNode<hashMapLinkInHole<After>()> {
 public:
  using KivHashMapNode = HashMapNode<hashMapLinkInHole<After>()>;

  HashMapLink() noexcept = default;

  // Whether the member is in a map now.
  bool kivInMap() const noexcept { return this->next() != this; }
};

// The map's own link to its first member, with the member count in the
// hole beside it, so that the forward link lies on a pointer boundary.
template <class Node, bool orderFirst = Node::orderFirst>
struct HashMapHead {
  std::uint32_t members = 0;
  Node node;
};
template <class Node>
struct HashMapHead<Node, false> {
  Node node;
  std::uint32_t members = 0;
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
  using Node = typename M::KivHashMapNode;

 public:
  class Position;
  class IteratorConst;
  class Iterator;

  HashMap() noexcept {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    static_assert(offsetof(M, next_) % alignof(void*) == 0, "the member's HashMapLink must follow the base it names");
    static_assert(offsetof(HashMapHead<Node>, node.next_) % alignof(void*) == 0, "the head's link is aligned");
#pragma GCC diagnostic pop
    head_.node.nextIs(nullptr);
  }
  HashMap(HashMap const&) = delete;
  HashMap& operator=(HashMap const&) = delete;
  // Iterators that outlive the map have come to their end and belong to no
  // map any more.
  ~HashMap() {
    clear();
    while (positions_) positions_->leave();
  }

  std::uint32_t members() const noexcept { return head_.members; }
  bool empty() const noexcept { return head_.members == 0; }
  // Raised by every insertion and removal.
  std::uint32_t version() const noexcept { return version_; }
  std::uint32_t buckets() const noexcept { return static_cast<std::uint32_t>(bucket_.size()); }

  // The member with key `k`, or null. Non-owning. The group is in order,
  // so the walk stops at the first member past the key's order and
  // compares keys only on an equal order.
  M* find(K const& k) const {
    if (bucket_.empty()) return nullptr;
    std::uint32_t const o = bitReverse(k.hash());
    Node const* p = bucket_[slot(o)];
    if (!p) return nullptr;
    Node* n = p->next();
    while (n && n->order_ < o) n = n->next();
    for (; n && n->order_ == o; n = n->next())
      if (KeyOf::key(*memberOf(n)) == k) return memberOf(n);
    return nullptr;
  }
  Ptr<M> member(K const& k) const { return Ptr<M>(find(k)); }

  // Links `m` at its place and counts it. Its key must not be in the map;
  // it must not be in a map. Other iterators stay valid; one may or may not
  // visit `m`. What may fail (a refusal, no memory for a larger bucket
  // array) fails before anything changes.
  void insert(Ptr<M> const& m) {
    Node& l = node(m.ptr());
    KIV_ASSERT(!m->kivInMap(), "Kiv/HashMap");
    decltype(auto) k = KeyOf::key(*m);
    std::uint32_t const o = bitReverse(k.hash());
    if (bucket_.empty()) {
      bucket_.assign(minBuckets, nullptr);
      shift_ = 32 - minBucketBits;
    } else if (head_.members + 1 > bucket_.size()) {
      grow();
    }
    std::size_t const s = slot(o);
    Place const at = placeBefore(k, o);
    Node* const n = at.p->next();
    // An empty group cannot hold the key; a group's walk has read `n`.
    KIV_ASSERT(!bucket_[s] || !(n && n->order_ == o && KeyOf::key(*memberOf(n)) == k), "Kiv/HashMap");
    l.order_ = o;
    l.nextIs(n);
    at.p->nextIs(&l);
    if (!bucket_[s]) bucket_[s] = at.p;
    if (!n) tail_ = &l;
    if (at.nextGroup != noGroup) bucket_[at.nextGroup] = &l;
    m->newRef();
    ++head_.members;
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
    KIV_ASSERT(m->kivInMap(), "Kiv/HashMap");
    Node* const l = &node(m);
    Node* p = bucket_[slot(l)];
    while (p->next() != l) p = p->next();
    unlinkAfter(p);
    ++version_;
    if (head_.members == 0)
      bucket_.clear();
    else if (bucket_.size() > minBuckets && head_.members < bucket_.size() / 4)
      shrink();
    return Ptr<M>::adopt(m);  // the map's reference
  }

  // Unlinks every member without notifying anyone. The bucket array stays,
  // so refilling the map does not grow it again. Iterators standing on
  // members come to their end. Members are released one by one, each after
  // it has left the map, so a member's end sees a map in order.
  void clear() {
    if (head_.members) ++version_;
    while (Node* n = head_.node.next()) {
      prefetchAhead(n);
      unlinkAfter(&head_.node);
      Ptr<M>::adopt(memberOf(n));
    }
  }

  M* first() const noexcept { return memberOf(head_.node.next()); }
  IteratorConst iteratorConst() const { return IteratorConst(this, first()); }
  Iterator iterator() { return Iterator(this, first()); }
  // At the member with key `k` or, when there is none, at the first member
  // after the key's place in iteration order (the end when none follows).
  IteratorConst iteratorConst(K const& k) const { return IteratorConst(this, placeOf(k)); }
  Iterator iterator(K const& k) { return Iterator(this, placeOf(k)); }

  // The walk of a range-for (see above): no counted references, and the
  // loop must remove nothing. It steps from link to link and turns a link
  // into its member only when the member is used, so that a step is one
  // load; beside it the map asks the memory for a member some groups
  // ahead (prefetchAhead), so that the steps need not wait on it one by one.
  template <class T>
  class Walk {
   public:
    Walk(HashMap const* map, Node* at) noexcept : map_(map), at_(at) {}
    T& operator*() const noexcept { return *memberOf(at_); }
    T* operator->() const noexcept { return memberOf(at_); }
    Walk& operator++() noexcept {
      at_ = at_->next();
      if (at_) map_->prefetchAhead(at_);
      return *this;
    }
    friend bool operator!=(Walk const& a, Walk const& b) noexcept { return a.at_ != b.at_; }

   private:
    HashMap const* map_;  // non-owning: the map outlives its walk
    Node* at_;
  };
  Walk<M> begin() noexcept { return Walk<M>(this, head_.node.next()); }
  Walk<M> end() noexcept { return Walk<M>(this, nullptr); }
  Walk<M const> begin() const noexcept { return Walk<M const>(this, head_.node.next()); }
  Walk<M const> end() const noexcept { return Walk<M const>(this, nullptr); }

 private:
  static constexpr unsigned minBucketBits = 3;
  static constexpr std::size_t minBuckets = std::size_t(1) << minBucketBits;
  // How many groups ahead of a walk the map asks the memory for a member.
  static constexpr std::size_t prefetchGroups = 16;

  static Node& node(M const* m) noexcept { return const_cast<M&>(*m); }
  static M* memberOf(Node* n) noexcept { return static_cast<M*>(n); }
  // The bucket of a member's group: the top bits of its order, so that the
  // array follows the list and the groups after a group are the buckets
  // after its bucket.
  std::size_t slot(std::uint32_t order) const noexcept { return order >> shift_; }
  std::size_t slot(Node const* n) const noexcept { return slot(n->order_); }

  // Whether (order a, key ka) comes before (order b, key kb).
  template <class A, class B>
  static bool before(std::uint32_t a, A const& ka, std::uint32_t b, B const& kb) {
    if (a != b) return a < b;
    return ka < kb;
  }
  bool before(Node* n, K const& k, std::uint32_t o) const { return before(n->order_, KeyOf::key(*memberOf(n)), o, k); }

  // Where (o, k) goes: after `p`, the last node that comes before it (a
  // member, or the map's own link when none does), and the bucket of the
  // group that begins right after `p` in another group than (o, k)'s, which
  // then begins after the new member (noGroup when none does).
  static constexpr std::size_t noGroup = ~std::size_t(0);
  struct Place {
    Node* p;
    std::size_t nextGroup;
  };
  // The bucket array is not empty.
  Place placeBefore(K const& k, std::uint32_t o) const {
    std::size_t const s = slot(o);
    if (Node* p = bucket_[s]) {
      Node* n = p->next();
      for (; n && slot(n) == s && before(n, k, o); n = n->next()) p = n;
      return Place{p, n && slot(n) != s ? slot(n) : noGroup};
    }
    // An empty group: the place is before the first member of the next
    // non-empty group, whose bucket points at that place. A map filled in
    // iteration order (as a resync or a copy fills it) places every member
    // after the last: that is known from the last member alone, without
    // reading every empty bucket to the array's end.
    Node* const last = tail_ ? tail_ : const_cast<Node*>(&head_.node);
    if (tail_ && !before(tail_, k, o)) {
      auto const q = std::find_if(bucket_.begin() + static_cast<std::ptrdiff_t>(s + 1), bucket_.end(),
                                  [](Node const* b) { return b != nullptr; });
      if (q != bucket_.end()) return Place{*q, static_cast<std::size_t>(q - bucket_.begin())};
    }
    return Place{last, noGroup};
  }

  M* placeOf(K const& k) const {
    if (bucket_.empty()) return nullptr;
    return memberOf(placeBefore(k, bitReverse(k.hash())).p->next());
  }

  // Asks the memory for the node before the group some groups after `n`'s,
  // which a walk from `n` reaches soon. A hint only: it changes nothing.
  void prefetchAhead(Node const* n) const noexcept {
    std::size_t const s = slot(n) + prefetchGroups;
    if (s < bucket_.size())
      if (Node const* p = bucket_[s]) __builtin_prefetch(p);
  }

  // Unlinks the member after `p`, keeps the map's reference for the caller
  // and moves the iterators that stand on it or would advance to it.
  void unlinkAfter(Node* p) noexcept {
    Node* const m = p->next();
    Node* const n = m->next();
    std::size_t const s = slot(m);
    p->nextIs(n);
    if (n && slot(n) != s && bucket_[slot(n)] == m) bucket_[slot(n)] = p;
    if (bucket_[s] == p && (!n || slot(n) != s)) bucket_[s] = nullptr;
    if (tail_ == m) tail_ = p == &head_.node ? nullptr : p;
    m->nextIs(m);
    --head_.members;
    for (Position* i = positions_; i; i = i->nextPosition_) i->removed(memberOf(m), memberOf(n));
  }

  // Twice the buckets: the new array is made before anything changes. Each
  // group splits into the two groups after it, in list order; the groups
  // are independent of each other, so their walks overlap in the memory.
  void grow() {
    std::vector<Node*> grown(bucket_.size() * 2, nullptr);
    unsigned const shift = shift_ - 1;
    for (std::size_t i = 0; i < bucket_.size(); ++i) {
      Node* const p = bucket_[i];
      if (!p) continue;
      Node* q = p;
      Node* n = p->next();
      for (; n && (n->order_ >> shift) == 2 * i; n = n->next()) q = n;
      if (q != p) grown[2 * i] = p;
      if (n && (n->order_ >> shift) == 2 * i + 1) grown[2 * i + 1] = q;
    }
    bucket_.swap(grown);
    shift_ = shift;
  }
  // Half the buckets, in the array's own storage: removing never allocates.
  // Two neighbouring groups merge; the first non-empty one begins the
  // merged group.
  void shrink() noexcept {
    std::size_t const half = bucket_.size() / 2;
    for (std::size_t i = 0; i < half; ++i) bucket_[i] = bucket_[2 * i] ? bucket_[2 * i] : bucket_[2 * i + 1];
    bucket_.resize(half);
    ++shift_;
  }

  HashMapHead<Node> head_;  // links to the first member; counts the members
  Node* tail_ = nullptr;    // the last member
  // Each bucket points at the node before its group's first member, or is
  // null for an empty group.
  std::vector<Node*> bucket_;
  std::uint32_t version_ = 0;
  unsigned shift_ = 32;                    // 32 less the bucket bits: an order's top bits pick its bucket
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
    M* const n = detached_ ? after_ : memberOf(node(cur_.ptr()).next());
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
    if (previousPosition_)
      previousPosition_->nextPosition_ = nextPosition_;
    else
      map_->positions_ = nextPosition_;
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

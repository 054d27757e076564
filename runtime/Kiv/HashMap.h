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
// Iterators hold a counted reference to the member they stand on. A member
// removed from the map keeps its forward link, so an iterator standing on it
// still advances to the next live member; iterators skip removed members.
// No operation of the map invalidates an iterator.
//
// A loop that removes nothing (neither its body nor anything the body calls)
// need not pay for that: a range-for over the map, `for (Port const& p :
// ports)`, holds no counted reference and walks the links directly.
//
// Keys need `std::uint32_t hash() const`, `==` and `<`.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/Hash.h"
#include "Kiv/Ptr.h"

namespace Kiv {

template <class M, class K, class KeyOf>
class HashMap;

// The link by which a HashMap chains a member. Not an attribute of the
// member; the member's class only derives from it.
template <class M>
class HashMapLink {
 public:
  HashMapLink() noexcept = default;
  HashMapLink(HashMapLink const&) = delete;
  HashMapLink& operator=(HashMapLink const&) = delete;
  ~HashMapLink() {
    // Release a chain of removed members one by one, not by recursion, so
    // that ending a long chain cannot overflow the stack.
    Ptr<M> n = std::move(kivNext_);
    while (n && n->references() == 1) {
      Ptr<M> next = std::move(link(*n).kivNext_);
      n = std::move(next);
    }
  }

  // Whether the member is in a map now.
  bool kivInMap() const noexcept { return inMap_; }

 private:
  template <class, class, class>
  friend class HashMap;
  static HashMapLink& link(M& m) noexcept { return static_cast<HashMapLink&>(m); }

  Ptr<M> kivNext_;           // owning: the list owns its members through the chain
  M* kivPrev_ = nullptr;     // non-owning back link; null when removed
  std::uint32_t hash_ = 0;
  bool inMap_ = false;
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
  using Link = HashMapLink<M>;

 public:
  class IteratorConst;
  class Iterator;

  HashMap() = default;
  HashMap(HashMap const&) = delete;
  HashMap& operator=(HashMap const&) = delete;
  ~HashMap() { clear(); }

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
    for (M* m = bucket_[g]; m && group(*m) == g; m = next(*m))
      if (Link::link(*m).hash_ == h && KeyOf::key(*m) == k) return m;
    return nullptr;
  }
  Ptr<M> member(K const& k) const { return Ptr<M>(find(k)); }

  // Links `m` at its place. Its key must not be in the map; it must not be
  // in a map. Other iterators stay valid; one may or may not visit `m`.
  // What may fail (a refusal, no memory for a larger bucket array) fails
  // before anything changes.
  void insert(Ptr<M> const& m) {
    Link& l = Link::link(*m);
    KIV_ASSERT(!l.inMap_, "Kiv/HashMap");
    decltype(auto) k = KeyOf::key(*m);
    std::uint32_t const h = k.hash();
    if (bucket_.empty()) bucket_.assign(minBuckets, nullptr);
    M* before = successorOf(k, h);
    KIV_ASSERT(!(before && KeyOf::key(*before) == k), "Kiv/HashMap");
    // The successor is a place in the list, which growing leaves as it is.
    if (members_ + 1 > bucket_.size()) grow();
    l.hash_ = h;
    linkBefore(m, before);
    std::uint32_t g = h & mask();
    if (!bucket_[g] || bucket_[g] == before) bucket_[g] = m.ptr();
    l.inMap_ = true;
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
    Ptr<M> held(m);
    Link& l = Link::link(*m);
    KIV_ASSERT(l.inMap_, "Kiv/HashMap");
    std::uint32_t g = l.hash_ & mask();
    M* n = next(*m);
    if (bucket_[g] == m) bucket_[g] = (n && group(*n) == g) ? n : nullptr;
    if (n) Link::link(*n).kivPrev_ = l.kivPrev_;
    else tail_ = l.kivPrev_;
    // The predecessor takes over the forward link; the removed member keeps
    // its own copy of it.
    if (l.kivPrev_) Link::link(*l.kivPrev_).kivNext_ = l.kivNext_;
    else head_ = l.kivNext_;
    l.kivPrev_ = nullptr;
    l.inMap_ = false;
    --members_;
    ++version_;
    if (members_ == 0) bucket_.clear();
    else if (bucket_.size() > minBuckets && members_ < bucket_.size() / 4) shrink();
    return held;
  }

  // Unlinks every member without notifying anyone. The bucket array stays,
  // so refilling the map does not grow it again. Iterators standing on
  // members come to their end.
  void clear() {
    Ptr<M> n = std::move(head_);
    tail_ = nullptr;
    while (n) {
      Link& l = Link::link(*n);
      l.inMap_ = false;
      l.kivPrev_ = nullptr;
      Ptr<M> next = std::move(l.kivNext_);
      n = std::move(next);
    }
    if (members_) ++version_;
    members_ = 0;
    std::fill(bucket_.begin(), bucket_.end(), nullptr);
  }

  M* first() const noexcept { return head_.ptr(); }
  IteratorConst iteratorConst() const { return IteratorConst(head_.ptr()); }
  Iterator iterator() { return Iterator(this, head_.ptr()); }
  // At the member with key `k` or, when there is none, at the first member
  // after the key's place in iteration order (the end when none follows).
  IteratorConst iteratorConst(K const& k) const { return IteratorConst(placeOf(k)); }
  Iterator iterator(K const& k) { return Iterator(this, placeOf(k)); }

  // The walk of a range-for (see above): no counted references, no skipping
  // of removed members.
  template <class T>
  class Walk {
   public:
    explicit Walk(M* at) noexcept : at_(at) {}
    T& operator*() const noexcept { return *at_; }
    T* operator->() const noexcept { return at_; }
    Walk& operator++() noexcept {
      at_ = next(*at_);
      return *this;
    }
    friend bool operator!=(Walk a, Walk b) noexcept { return a.at_ != b.at_; }

   private:
    M* at_;
  };
  Walk<M> begin() noexcept { return Walk<M>(head_.ptr()); }
  Walk<M> end() noexcept { return Walk<M>(nullptr); }
  Walk<M const> begin() const noexcept { return Walk<M const>(head_.ptr()); }
  Walk<M const> end() const noexcept { return Walk<M const>(nullptr); }

 private:
  static constexpr std::size_t minBuckets = 8;

  std::uint32_t mask() const noexcept { return static_cast<std::uint32_t>(bucket_.size() - 1); }
  std::uint32_t group(M const& m) const noexcept {
    return Link::link(const_cast<M&>(m)).hash_ & mask();
  }
  static M* next(M const& m) noexcept { return Link::link(const_cast<M&>(m)).kivNext_.ptr(); }

  // Whether (hash a, key ka) orders before (hash b, key kb).
  template <class A, class B>
  static bool before(std::uint32_t a, A const& ka, std::uint32_t b, B const& kb) {
    if (a != b) return bitReverse(a) < bitReverse(b);
    return ka < kb;
  }

  // The first member that orders after (h, k), or null.
  M* successorOf(K const& k, std::uint32_t h) const {
    std::uint32_t g = h & mask();
    M* m = bucket_[g];
    if (m) {
      for (; m && group(*m) == g; m = next(*m))
        if (!before(Link::link(*m).hash_, KeyOf::key(*m), h, k)) return m;
      return m;  // the first member of the following group, or null
    }
    // An empty group: the successor is the first member of the next
    // non-empty group in bit-reversed order. A map filled in iteration
    // order (as a resync or a copy fills it) places every member after the
    // last: that is known from the last member alone, without walking every
    // empty group to the array's end.
    if (!tail_ || before(Link::link(*tail_).hash_, KeyOf::key(*tail_), h, k)) return nullptr;
    unsigned const bits = static_cast<unsigned>(__builtin_ctzll(bucket_.size()));
    std::uint32_t r = bitReverse(g) >> (32 - bits);
    for (std::uint32_t i = r + 1; i < bucket_.size(); ++i) {
      M* s = bucket_[bitReverse(i) >> (32 - bits)];
      if (s) return s;
    }
    return nullptr;
  }

  M* placeOf(K const& k) const {
    if (bucket_.empty()) return nullptr;
    return successorOf(k, k.hash());
  }

  void linkBefore(Ptr<M> const& m, M* before) {
    Link& l = Link::link(*m);
    M* prev = before ? Link::link(*before).kivPrev_ : tail_;
    l.kivPrev_ = prev;
    if (prev) {
      l.kivNext_ = std::move(Link::link(*prev).kivNext_);
      Link::link(*prev).kivNext_ = m;
    } else {
      l.kivNext_ = std::move(head_);
      head_ = m;
    }
    if (before) Link::link(*before).kivPrev_ = m.ptr();
    else tail_ = m.ptr();
  }

  // Twice the buckets: the new array is made before anything changes.
  void grow() {
    std::vector<M*> grown(bucket_.size() * 2, nullptr);
    bucket_.swap(grown);
    regroup();
  }
  // Half the buckets, in the array's own storage: removing never allocates.
  void shrink() noexcept {
    bucket_.resize(bucket_.size() / 2);
    std::fill(bucket_.begin(), bucket_.end(), nullptr);
    regroup();
  }
  void regroup() noexcept {
    for (M* m = head_.ptr(); m; m = next(*m)) {
      std::uint32_t g = group(*m);
      if (!bucket_[g]) bucket_[g] = m;
    }
  }

  Ptr<M> head_;
  M* tail_ = nullptr;
  std::vector<M*> bucket_;
  std::uint32_t members_ = 0;
  std::uint32_t version_ = 0;
};

// Walks members in iteration order, read only.
template <class M, class K, class KeyOf>
class HashMap<M, K, KeyOf>::IteratorConst {
 public:
  IteratorConst() = default;
  explicit IteratorConst(M* at) : cur_(at) {}

  M const* ptr() const noexcept { return cur_.ptr(); }
  M const* operator->() const noexcept { return cur_.ptr(); }
  M const& operator*() const noexcept { return *cur_; }
  explicit operator bool() const noexcept { return static_cast<bool>(cur_); }
  IteratorConst& operator++() {
    advance(cur_);
    return *this;
  }
  friend bool operator==(IteratorConst const& a, IteratorConst const& b) { return a.cur_ == b.cur_; }
  friend bool operator!=(IteratorConst const& a, IteratorConst const& b) { return a.cur_ != b.cur_; }

 private:
  friend class HashMap;
  static void advance(Ptr<M>& cur) {
    if (!cur) return;
    Ptr<M> n = Link::link(*cur).kivNext_;
    while (n && !Link::link(*n).inMap_) n = Ptr<M>(Link::link(*n).kivNext_);
    cur = std::move(n);
  }
  Ptr<M> cur_;
};

// Walks members in iteration order and can delete them. A collection that
// announces deletions derives from it and overrides deleteNotify.
template <class M, class K, class KeyOf>
class HashMap<M, K, KeyOf>::Iterator {
 public:
  Iterator() = default;
  // `map` is a non-owning back pointer: the map must outlive the iterator's
  // use of deleteAll() and del().
  Iterator(HashMap* map, M* at) : map_(map), cur_(at) {}
  Iterator(Iterator const&) = default;
  Iterator& operator=(Iterator const&) = default;
  virtual ~Iterator() = default;

  M* ptr() const noexcept { return cur_.ptr(); }
  M* operator->() const noexcept { return cur_.ptr(); }
  M& operator*() const noexcept { return *cur_; }
  Ptr<M> member() const { return cur_; }
  explicit operator bool() const noexcept { return static_cast<bool>(cur_); }
  Iterator& operator++() {
    IteratorConst::advance(cur_);
    return *this;
  }
  friend bool operator==(Iterator const& a, Iterator const& b) { return a.cur_ == b.cur_; }
  friend bool operator!=(Iterator const& a, Iterator const& b) { return a.cur_ != b.cur_; }

  // Steps past the current member, removes it from the map and announces it
  // through deleteNotify. A member that someone else removed meanwhile is
  // only stepped past: its removal was announced by whoever removed it.
  void del() {
    if (!cur_) return;
    Ptr<M> m = cur_;
    ++*this;
    if (!Link::link(*m).inMap_) return;
    map_->remove(m.ptr());
    deleteNotify(m);
  }

  // Deletes every member, from here on and then from the first again while
  // the map is not empty (observers of deleteNotify may add members). The
  // map is cleared at the end.
  void deleteAll() {
    if (!map_) return;  // an iterator of no map has nothing to delete
    for (;;) {
      if (!cur_) {
        if (map_->empty()) break;
        cur_ = Ptr<M>(map_->first());
      }
      del();
    }
    map_->clear();
  }

  // Called after a member has been removed through this iterator.
  virtual void deleteNotify(Ptr<M> const& member) { (void)member; }

 private:
  HashMap* map_ = nullptr;
  Ptr<M> cur_;
};

}  // namespace Kiv

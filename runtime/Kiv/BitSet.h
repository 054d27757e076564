#pragma once
// Kiv::BitSet<N, T> is a word of N flags. Setting a flag outside 0..N-1 is a
// programming error and fails the assertion "pos>=0 && pos<bits".
#include <cstdint>

#include "Kiv/Exception.h"

namespace Kiv {

template <int N, class T = unsigned int>
class BitSet {
  static_assert(N > 0 && N <= int(sizeof(T) * 8), "BitSet: N must fit in T");

 public:
  static constexpr int bits = N;

  constexpr BitSet() noexcept = default;
  constexpr explicit BitSet(T word) noexcept : word_(word & mask()) {}

  bool bit(int pos) const {
    check(pos);
    return (word_ >> pos) & 1u;
  }
  void bitIs(int pos, bool value) {
    check(pos);
    T b = T(1) << pos;
    word_ = value ? T(word_ | b) : T(word_ & ~b);
  }
  constexpr T word() const noexcept { return word_; }
  // The flags that say how a notifiee is notified (0 and 1); the others
  // are state that belongs to whoever owns the word.
  static constexpr T notificationBitMask() noexcept { return T(0x3); }
  void wordIs(T w) noexcept { word_ = w & mask(); }

  friend bool operator==(BitSet a, BitSet b) noexcept { return a.word_ == b.word_; }
  friend bool operator!=(BitSet a, BitSet b) noexcept { return a.word_ != b.word_; }

 private:
  static constexpr T mask() noexcept { return N == int(sizeof(T) * 8) ? T(~T(0)) : T((T(1) << N) - 1); }
  static void check(int pos) {
    if (!(pos >= 0 && pos < bits)) assertionFailed("pos>=0 && pos<bits", "Kiv/BitSet");
  }
  T word_ = 0;
};

}  // namespace Kiv

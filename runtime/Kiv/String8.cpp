#include "Kiv/String8.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>

#include "Kiv/Exception.h"
#include "Kiv/Hash.h"
#include "Kiv/Strep.h"

namespace Kiv {

String8::Rep* String8::allocate(std::size_t n) {
  if (n > 0x7FFFFFFFu) throwRangeException("string too long");
  // Through operator new like every other allocation of the runtime, so
  // that a host's allocator sees it (and may refuse it with bad_alloc).
  Rep* r = static_cast<Rep*>(::operator new(sizeof(Rep) + n));
  r->refs = 1;
  r->size = static_cast<std::uint32_t>(n);
  r->bytes[n] = '\0';
  return r;
}

String8::String8(char const* s) : String8(s, s ? std::strlen(s) : 0) {}

String8::String8(char const* s, std::size_t n) {
  if (n == 0) return;
  rep_ = allocate(n);
  std::memcpy(rep_->bytes, s, n);
}

String8::String8(std::string const& s) : String8(s.data(), s.size()) {}

String8::String8(String8 const& o) noexcept : rep_(o.rep_) {
  if (rep_) ++rep_->refs;
}

String8& String8::operator=(String8 const& o) noexcept {
  if (o.rep_) ++o.rep_->refs;
  release();
  rep_ = o.rep_;
  return *this;
}

String8& String8::operator=(String8&& o) noexcept {
  if (this != &o) {
    release();
    rep_ = o.rep_;
    o.rep_ = nullptr;
  }
  return *this;
}

String8::~String8() { release(); }

void String8::release() noexcept {
  if (rep_ && --rep_->refs == 0) ::operator delete(rep_);
  rep_ = nullptr;
}

std::uint32_t String8::hash() const noexcept { return hashBytes(data(), size()); }

int String8::compare(String8 const& o) const noexcept {
  std::size_t a = size(), b = o.size();
  int c = std::memcmp(data(), o.data(), a < b ? a : b);
  if (c != 0) return c < 0 ? -1 : 1;
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool String8::dataEquals(String8 const& o) const noexcept {
  return rep_ == o.rep_ || (size() == o.size() && std::memcmp(data(), o.data(), size()) == 0);
}

String8 String8::substr(std::size_t pos, std::size_t n) const {
  if (pos > size()) pos = size();
  if (n > size() - pos) n = size() - pos;
  if (pos == 0 && n == size()) return *this;
  return String8(data() + pos, n);
}

String8 String8::operator+(String8 const& o) const {
  if (o.empty()) return *this;
  if (empty()) return o;
  String8 r;
  r.rep_ = allocate(size() + o.size());
  std::memcpy(r.rep_->bytes, data(), size());
  std::memcpy(r.rep_->bytes + size(), o.data(), o.size());
  return r;
}

String8& String8::operator+=(String8 const& o) { return *this = *this + o; }

std::ostream& operator<<(std::ostream& os, String8 const& s) {
  return os.write(s.data(), static_cast<std::streamsize>(s.size()));
}

void String8::Iterator::append(std::size_t total, std::size_t offset, char const* data, std::size_t n) {
  if (started_ && total != total_) {
    throwRangeException(format("string chunk of a %llu-byte string after chunks of a %llu-byte string",
                               static_cast<unsigned long long>(total), static_cast<unsigned long long>(total_)));
  }
  if (offset != bytes_.size()) {
    throwRangeException(format("string chunk at offset %llu after %llu bytes received",
                               static_cast<unsigned long long>(offset),
                               static_cast<unsigned long long>(bytes_.size())));
  }
  if (n > total - offset || total > 0x7FFFFFFFu) {
    throwRangeException(format("string chunk of %llu bytes at offset %llu overruns its total of %llu",
                               static_cast<unsigned long long>(n), static_cast<unsigned long long>(offset),
                               static_cast<unsigned long long>(total)));
  }
  started_ = true;
  total_ = total;
  bytes_.append(data, n);
}

}  // namespace Kiv

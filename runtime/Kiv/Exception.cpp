#include "Kiv/Exception.h"

#include <algorithm>

#include "Kiv/Ptr.h"

namespace Kiv {

Exception::Exception(String8 const& message, IdSet ids, bool verbatim)
    : message_(message), ids_(std::move(ids)), verbatim_(verbatim), what_(message.stdString()) {}

Exception::~Exception() = default;

bool Exception::hasId(std::uint32_t id) const noexcept {
  return std::find(ids_.begin(), ids_.end(), id) != ids_.end();
}

char const* Exception::what() const noexcept { return what_.c_str(); }

RangeException::RangeException(String8 const& message) : Exception(message, {ExceptionId::range}, true) {}
RangeException::RangeException(String8 const& message, IdSet ids, bool verbatim)
    : Exception(message, std::move(ids), verbatim) {}
InternalException::InternalException(String8 const& message)
    : Exception(message, {ExceptionId::internal}, true) {}
NameInUseException::NameInUseException(String8 const& message)
    : Exception(message, {ExceptionId::nameInUse}, true) {}

void throwRangeException(char const* message) { throw RangeException(String8(message)); }
void throwRangeException(String8 const& message) { throw RangeException(message); }
void throwInternalException(char const* message) { throw InternalException(String8(message)); }
void throwInternalException(String8 const& message) { throw InternalException(message); }
void throwNameInUseException(String8 const& message) { throw NameInUseException(message); }
void throwNullValidPtr() { throwRangeException("null ValidPtr"); }

void assertionFailed(char const* condition, char const* source) {
  throw InternalException(String8(source) + String8(": assertion ") + String8(condition) + String8(" failed"));
}

Expect const* Expect::innermost_ = nullptr;

void Expect::reenter(Expect const* outer) noexcept { innermost_ = outer; }

}  // namespace Kiv

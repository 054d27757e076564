#pragma once
// Failures of the runtime and of everything built on it are thrown as
// Kiv::Exception or one of its kinds, through the throw functions below, so
// that every message is made in one place. An exception carries its message
// and the set of exception ids that classify it.
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "Kiv/Export.h"
#include "Kiv/String8.h"

namespace Kiv {

// Exception ids. A kind carries its own id; Kiv::Expect scopes name the ids
// that a caller is prepared for.
namespace ExceptionId {
constexpr std::uint32_t none = 0;
constexpr std::uint32_t internal = 3;
constexpr std::uint32_t range = 12;
constexpr std::uint32_t nameInUse = 13;
constexpr std::uint32_t type = 20;
constexpr std::uint32_t constInstance = 21;
constexpr std::uint32_t badIndex = 22;
constexpr std::uint32_t opNotSupported = 23;
constexpr std::uint32_t unknownArg = 24;
}  // namespace ExceptionId

class KIV_API Exception : public std::exception {
 public:
  using IdSet = std::vector<std::uint32_t>;

  // `verbatim`: the message is complete as given and is reported as it
  // stands.
  Exception(String8 const& message, IdSet ids, bool verbatim);
  ~Exception() override;

  String8 const& message() const noexcept { return message_; }
  IdSet const& ids() const noexcept { return ids_; }
  bool hasId(std::uint32_t id) const noexcept;
  bool verbatim() const noexcept { return verbatim_; }
  char const* what() const noexcept override;

 private:
  String8 message_;
  IdSet ids_;
  bool verbatim_;
  std::string what_;
};

class KIV_API RangeException : public Exception {
 public:
  explicit RangeException(String8 const& message);
  RangeException(String8 const& message, IdSet ids, bool verbatim);
};

class KIV_API InternalException : public Exception {
 public:
  explicit InternalException(String8 const& message);
};

class KIV_API NameInUseException : public Exception {
 public:
  explicit NameInUseException(String8 const& message);
};

[[noreturn]] KIV_API void throwRangeException(char const* message);
[[noreturn]] KIV_API void throwRangeException(String8 const& message);
[[noreturn]] KIV_API void throwInternalException(char const* message);
[[noreturn]] KIV_API void throwInternalException(String8 const& message);
[[noreturn]] KIV_API void throwNameInUseException(String8 const& message);

// A failed internal assertion: "<source>: <condition>". Thrown as an
// internal exception so that a test or a host sees it like any failure.
[[noreturn]] KIV_API void assertionFailed(char const* condition, char const* source);

#define KIV_ASSERT(cond, source) \
  do {                           \
    if (!(cond)) ::Kiv::assertionFailed(#cond, source); \
  } while (0)

// Marks the exception ids that the code inside the scope is prepared for.
// Scopes nest; the innermost one is current.
// Inline, since every notification opens one.
class KIV_API Expect {
 public:
  explicit Expect(std::uint32_t exceptionId) noexcept : id_(exceptionId), outer_(innermost_) { innermost_ = this; }
  // The outermost scope stores a constant rather than the value it read on
  // entry, so that one scope (one notification) does not wait for the
  // previous one's stores to reach it.
  ~Expect() {
    if (__builtin_expect(outer_ != nullptr, 0)) reenter(outer_);
    else innermost_ = nullptr;
  }
  Expect(Expect const&) = delete;
  Expect& operator=(Expect const&) = delete;

  std::uint32_t exceptionId() const noexcept { return id_; }
  // The innermost open scope, or null.
  static Expect const* current() noexcept { return innermost_; }

 private:
  // Out of line, so that the compiler cannot merge it with the constant
  // store above.
  static void reenter(Expect const* outer) noexcept;
  static Expect const* innermost_;
  std::uint32_t id_;
  Expect const* outer_;
};

}  // namespace Kiv

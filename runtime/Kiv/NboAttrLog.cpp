#include "Kiv/NboAttrLog.h"

namespace Kiv {
namespace NboAttrLog {

Out::~Out() = default;
In::~In() = default;

Ptr<Out> const& operator<<(Ptr<Out> const& out, bool v) {
  out->appendBool(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, unsigned short v) {
  out->appendU16(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, std::uint32_t v) {
  out->appendU32(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, std::uint64_t v) {
  out->appendU64(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, std::int32_t v) {
  out->appendI32(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, String8 const& v) {
  out->appendString(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, char const* v) {
  out->appendString(String8(v));
  return out;
}

}  // namespace NboAttrLog
}  // namespace Kiv

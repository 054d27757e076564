#pragma once
// The attribute log's writer and reader: the byte connection ends that
// entities and their stream adapters replicate through. Values are written
// with the chaining operators below and read back with the readers of
// ByteConnection::In, in the same order:
//
//   out << entityId << attrId << tapDevice.name() << tapDevice.fileno();
//   ...
//   auto id = in->nextU64(); auto attr = in->nextU32();
//   auto name = in->nextString(); auto fileno = in->nextU16();
//
// The byte layout of each value is ByteConnection's (big-endian integers,
// one-byte bools, length-prefixed strings).
#include <cstdint>
#include <vector>

#include "Kiv/ByteConnection.h"
#include "Kiv/Export.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"

namespace Kiv {

// The tag argument that selects a value's constructor that reads the value
// from an attribute-log reader.
struct StreamBogon {};

namespace NboAttrLog {

class KIV_API Out : public ByteConnection::Out {
 public:
  Out() = default;
  ~Out() override;
};

class KIV_API In : public ByteConnection::In {
 public:
  using ByteConnection::In::In;
  ~In() override;
};

// Writers. Each appends one value to `out` (which must not be null) and
// returns `out`, so that writes chain. Appending may reallocate the buffer,
// invalidating references into out->bytes().
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, bool v);
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, unsigned short v);
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, std::uint32_t v);
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, std::uint64_t v);
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, std::int32_t v);
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, String8 const& v);
// A literal is written as a string, not as the bool it would otherwise
// convert to.
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, char const* v);

}  // namespace NboAttrLog
}  // namespace Kiv

#pragma once
// The attribute log: the byte-level connection through which entities are
// replicated between processes. One connection is a writer
// (NboAttrLog::Out) and a reader (NboAttrLog::In) over one bidirectional
// byte stream (Kiv/ByteStream.h); the demultiplexer (NboAttrLogDemuxer.h)
// routes what the reader receives to the entities' stream adapters
// (StreamAdapter.h).
//
// Values are written with the chaining operators below and read back with
// the readers of ByteConnection::In, in the same order. A writer that is
// not bound to a stream simply collects bytes, which is how values are
// encoded in tests:
//
//   out << entityId << attrId << tapDevice.name() << tapDevice.fileno();
//   ...
//   auto id = in->nextU64(); auto attr = in->nextU32();
//
// Records. Every record travels in one frame; every integer is big-endian:
//
//   u32  length of the rest of the frame (at most maxFrame)
//   the MsgHeader, 19 bytes:
//     u64  entity id
//     u32  attribute id
//     u8   kind: 1 attribute record, 0 transaction marker
//     u8   markers: the transaction type; attribute records: flags, bit 0
//          set when the record carries a change made on the sending side
//          (clear when it resends a value, as a resync does)
//     u32  acknowledgement: how many frames the sender had received on
//          this connection when it wrote this one (the low 32 bits)
//     u8   reassert: 1 asks the receiver to answer with its own value
//          instead of applying this one
//   u8   token 1 (begin)
//   ...  payload (nothing in a marker)
//   u8   token 3 (end)
//
// The payload is a sequence of values: bool (1 byte, 0 or 1), u16, u32,
// u64, string (u32 length, bytes), a payload-section switch (one byte, the
// section number), and string chunks:
//
//   u32  total length of the string
//   u32  offset of this chunk
//   u32  chunk length n, then n bytes
//
// For example, `complete` (attribute 259) of the entity with id 5 set to
// true, resent by a side that has received nothing yet, is this 26-byte
// frame:
//
//   00 00 00 16  00 00 00 00 00 00 00 05  00 00 01 03  01 00 00 00 00 00 00
//   01  01  03
//
// the same value as a change made by a side that had received 7 frames:
//
//   00 00 00 16  00 00 00 00 00 00 00 05  00 00 01 03  01 01 00 00 00 07 00
//   01  01  03
//
// and the end marker of a resync of attribute 258 of that entity, written
// after 2 frames had been received:
//
//   00 00 00 15  00 00 00 00 00 00 00 05  00 00 01 02  00 02 00 00 00 02 00
//   01 03
//
// The acknowledgement and the change flag settle changes that cross on the
// wire (StreamAdapter.h, "Crossing changes"): a receiver knows which of its
// own frames the sender had not seen when it wrote a record.
//
// A frame is sent only once complete (its end token written); the writer
// holds what the stream cannot take yet, up to its capacity and beyond:
// writes never fail, but past the capacity hasSufficientBuffer() is false
// and the stream adapters defer what they can to scheduled flow-outs. A
// record longer than maxFrame is dropped and closes the connection, its
// reason naming the entity and attribute (the host hears it through the
// demultiplexer's closed call-back); so does any failure of a scheduled
// flow-out, which never escapes the event loop's turn.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "Kiv/ByteConnection.h"
#include "Kiv/ByteStream.h"
#include "Kiv/Export.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

// The tag argument that selects a value's constructor that reads the value
// from an attribute-log reader.
struct StreamBogon {};

// A type, as the attribute log names it: its qualified name.
class KIV_API TypeId {
 public:
  TypeId() = default;
  explicit TypeId(String8 const& qualifiedName) : name_(qualifiedName) {}
  String8 const& name() const noexcept { return name_; }

 private:
  String8 name_;
};

// The description of a connection that a flow-out serves.
struct KIV_API ConnectDesc {
  String8 localPath;
  String8 remotePath;
};

namespace NboAttrLog {

class Demuxer;
class FlowOut;
class In;

// Every frame's length word is at most this; a longer one is malformed.
constexpr std::uint32_t maxFrame = 16u << 20;
// The most string bytes one chunk carries.
constexpr std::uint32_t maxChunk = 16384;
// Header fields after the length word.
constexpr std::size_t headerSize = 19;
// The bytes of a transaction marker's frame: length, header, two tokens.
constexpr std::size_t markerSize = 4 + headerSize + 2;
// The entity id and attribute id of an orphan record, which asks the
// receiver to make the entity it describes.
constexpr EntityId orphanEntityId = 1;
constexpr AttributeId orphanAttrId = 136;
// The attribute id of a sync-mode record.
constexpr AttributeId syncModeAttrId = 135;

// The header of one record. The writer fills in the acknowledgement
// itself when it is paired with a reader (transactionArg is what a writer
// without one sends).
struct KIV_API MsgHeader {
  // The flag of an attribute record that carries a change of the sender.
  static constexpr std::uint8_t changeFlag = 1;

  MsgHeader() = default;
  MsgHeader(EntityId e, AttributeId a, bool isAttribute, std::uint8_t type, std::uint32_t arg, bool reassert)
      : entityId(e), attrId(a), attribute(isAttribute), transactionType(type), transactionArg(arg),
        reassert(reassert) {}

  EntityId entityId = 0;
  AttributeId attrId = 0;
  bool attribute = true;
  std::uint8_t transactionType = 0;
  std::uint32_t transactionArg = 0;
  bool reassert = false;
};

class KIV_API Out : public ByteConnection::Out {
 public:
  // A writer that collects bytes, bound to no stream and without capacity.
  Out();
  ~Out() override;

  // --- Records.
  // Starts a record. Throws an internal exception while a record is open.
  void nextHeaderIs(MsgHeader const& header);
  // Switches the open record's payload to section `section`.
  void currentPayloadSectionIs(std::uint8_t section);
  bool recordOpen() const noexcept { return frameStart_ != noFrame; }
  // Records completed since the writer was made.
  std::uint64_t records() const noexcept { return records_; }

  // --- Capacity. A writer without one never reports a short buffer.
  bool hasCapacity() const noexcept { return capacity_ != 0; }
  std::size_t capacity() const noexcept { return capacity_; }
  void capacityIs(std::size_t bytes);
  // Bytes written and not yet taken by the stream.
  std::size_t pending() const noexcept { return size(); }
  bool hasSufficientBuffer() const noexcept { return capacity_ == 0 || size() < capacity_; }
  // The most bytes held at once, and the longest frame written, since the
  // writer was made.
  std::size_t peakPending() const noexcept { return peakPending_; }
  std::size_t largestRecord() const noexcept { return largestRecord_; }
  // What a writer with a capacity never reaches: a record is begun only
  // below the capacity, so the writer holds less than its capacity plus one
  // record, and the transaction markers that go with that record (an
  // abort, and a collection resync's begin and end).
  std::size_t holdLimit() const noexcept { return capacity_ + largestRecord_ + 3 * markerSize; }

  // --- The connection.
  // The reader of the same connection (null for a writer without one).
  Ptr<Connection::In> connectionIn() const;
  Ptr<In> nboIn() const;
  Ptr<ByteStream> const& stream() const noexcept { return stream_; }
  // Closes the stream; what was not sent is dropped, and waiting
  // flow-outs are released.
  void close();
  bool open() const noexcept { return stream_ && stream_->open(); }
  // Hands complete records to the stream, as far as it takes them.
  void flush();
  // Bytes handed to the stream since the writer was made.
  std::uint64_t sent() const noexcept { return sent_; }
  // Every byte handed to the stream is also given to this tap (for
  // capturing a connection).
  void tapIs(std::function<void(std::uint8_t const*, std::size_t)> tap) { tap_ = std::move(tap); }

  // --- Scheduled flow-outs (see StreamAdapter.h).
  // Queues `flowOut` to run at a turn of the loop when the writer has room.
  void flowOutWaitIs(Ptr<FlowOut> const& flowOut);
  std::size_t flowOutsWaiting() const noexcept { return waiting_.size(); }
  // The flow-out that is running now, or null.
  FlowOut* runningFlowOut() const noexcept { return running_; }
  // Records one flow-out may write in one turn before the runtime sets its
  // suspend bit, so that other flow-outs and inbound records get their
  // turn too.
  void flowOutBudgetIs(std::uint32_t records) noexcept { budget_ = records ? records : 1; }
  std::uint32_t flowOutBudget() const noexcept { return budget_; }

 private:
  friend class Demuxer;
  friend class In;
  friend KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, Connection::Out::TransactToken token);
  static constexpr std::size_t noFrame = static_cast<std::size_t>(-1);

  void endRecord();
  void scheduleFlowOuts();
  void runFlowOuts();
  // Closes the connection for `reason`: through its demultiplexer, which
  // tells the host, when it has one.
  void fail(String8 const& reason);

  std::size_t frameStart_ = noFrame;
  EntityId recordEntity_ = 0;  // the open record's header ids
  AttributeId recordAttr_ = 0;
  std::size_t committed_ = 0;  // bytes of complete frames at the front
  std::size_t capacity_ = 0;
  std::size_t peakPending_ = 0;
  std::size_t largestRecord_ = 0;
  std::uint64_t records_ = 0;
  std::uint64_t sent_ = 0;
  Ptr<ByteStream> stream_;
  In* in_ = nullptr;  // non-owning: the paired reader, cleared when it goes
  std::function<void(std::uint8_t const*, std::size_t)> tap_;
  std::deque<Ptr<FlowOut>> waiting_;
  FlowOut* running_ = nullptr;
  std::uint32_t budget_ = 1024;
  bool flowOutsScheduled_ = false;
  bool flushScheduled_ = false;
};

class KIV_API In : public ByteConnection::In {
 public:
  using ByteConnection::In::In;
  In() : ByteConnection::In(nullptr, 0) {}
  ~In() override;

  // Whether the connection is open: the stream has not ended and no
  // malformed frame has been received.
  bool live() const noexcept { return live_; }
  // The writer of the same connection (null for a reader without one).
  Ptr<Out> connectionOut() const;
  // More bytes received.
  void bytesIs(void const* data, std::size_t n) { append(data, n); }
  // Bytes received and not read yet.
  std::size_t unread() const noexcept { return held(); }
  // Frames delivered so far, the one being delivered included: what the
  // paired writer acknowledges in the frames it writes.
  std::uint64_t framesSeen() const noexcept { return framesSeen_; }

 private:
  friend class Demuxer;
  friend class Out;
  Out* out_ = nullptr;  // non-owning: the writer holds this reader
  std::uint64_t framesSeen_ = 0;
  bool live_ = true;
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
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, TypeId const& v);
// Token 1 opens a record's payload; token 3 ends the record, which is then
// sent as soon as the stream takes it.
KIV_API Ptr<Out> const& operator<<(Ptr<Out> const& out, Connection::Out::TransactToken token);

}  // namespace NboAttrLog

// Writes one chunk of the string at `it`, as much as the writer allows now
// (at most NboAttrLog::maxChunk bytes; an empty string gives one empty
// chunk), and advances `it` past it.
KIV_API Ptr<NboAttrLog::Out> const& operator<<(Ptr<NboAttrLog::Out> const& out, String8::IteratorConst& it);
KIV_API Ptr<Connection::Out> const& operator<<(Ptr<Connection::Out> const& out, String8::IteratorConst& it);
// Reads one chunk into `it`; throws a range exception, and changes
// nothing, when the chunk does not continue what `it` has received.
KIV_API Ptr<Connection::In> const& operator>>(Ptr<Connection::In> const& in, String8::Iterator& it);

}  // namespace Kiv

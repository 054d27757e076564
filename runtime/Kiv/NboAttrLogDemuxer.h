#pragma once
// Kiv::NboAttrLog::Demuxer is one attribute-log connection as a process
// sees it: the reader and the writer over one byte stream, the stream
// adapters registered under their entity ids, and the inbound partial
// state (flow-ins). It reads what the stream brings, checks each frame and
// delivers it to the adapter of its entity id; orphan records make the
// entities they describe.
//
// Replicating an entity is one call on the side that has it:
//
//   auto demuxer = Kiv::NboAttrLog::Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(fd));
//   demuxer->mount(config);              // the peer now mirrors config
//
// and the other side only needs a demultiplexer on its end of the stream,
// with a directory to keep the mirrors in:
//
//   auto peer = Kiv::NboAttrLog::Demuxer::DemuxerIs(stream, Kiv::NboAttrLog::Demuxer::second);
//   peer->mirrorDirIs(Kiv::Dir::DirIs("mirror"));
//
// Changes made on either side reach the other; a change applied from the
// connection is not written back to it. After a broken connection, a new
// demultiplexer on a new stream and the same mount call resynchronise the
// mirror: entries the source deleted meanwhile are removed.
//
// A malformed or truncated frame, a record for an entity id that nothing is
// registered under, or a payload that its reader rejects closes the
// connection: receive() throws a range exception that names what was wrong
// and where, and no entity is changed by that frame. When the event loop
// drives the connection, the reason goes to the closed call-back instead.
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "Kiv/ByteStream.h"
#include "Kiv/Dir.h"
#include "Kiv/Export.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/Ptr.h"
#include "Kiv/StreamAdapter.h"

namespace Kiv {
namespace NboAttrLog {

class KIV_API Demuxer : public PtrInterface {
 public:
  // The two ends of a connection mint entity ids from separate ranges, so
  // that both can mount entities on one connection.
  enum Side : std::uint8_t { first = 0, second = 1 };
  // The writer's capacity unless the host sets another.
  static constexpr std::size_t defaultCapacity = 256u << 10;

  // A connection over `stream`, registered with the global manager; the
  // event loop drives it from now on.
  static Ptr<Demuxer> DemuxerIs(Ptr<ByteStream> const& stream, Side side = first);
  // A demultiplexer of a reader and writer that no stream drives: bytes
  // are handed to the reader (In::bytesIs) and receive() delivers them.
  static Ptr<Demuxer> DemuxerIs(Ptr<In> const& reader, Ptr<Out> const& writer, Side side = first);
  ~Demuxer() override;

  Ptr<In> const& reader() const noexcept { return in_; }
  Ptr<Out> const& writer() const noexcept { return out_; }
  Side side() const noexcept { return side_; }
  // 0: waiting, 1: delivering a record, 2: closed.
  std::uint32_t state() const noexcept { return state_; }
  bool open() const noexcept { return state_ < 2; }
  String8 const& closeReason() const noexcept { return closeReason_; }
  std::uint64_t recordsReceived() const noexcept { return recordsReceived_; }

  // --- The frame being delivered (StreamAdapter.h, "Crossing changes").
  // Whether a frame from the peer is being delivered now.
  bool delivering() const noexcept { return delivered_.on; }
  // How many of this side's frames the peer had received when it wrote
  // that frame.
  std::uint64_t deliveredAck() const noexcept { return delivered_.ack; }
  // Whether that frame carries a change made on the peer's side.
  bool deliveredChange() const noexcept { return delivered_.change; }
  // The highest acknowledgement received: this side's frames up to it have
  // reached the peer.
  std::uint64_t peerAck() const noexcept { return peerAck_; }
  // Bytes of the stream consumed so far.
  std::uint64_t offset() const noexcept;

  // --- Stream adapters by entity id.
  Ptr<StreamAdapter> reactor(EntityId id) const;
  // Registers `adapter` under `id`, replacing whatever was there.
  void reactorIs(EntityId id, Ptr<StreamAdapter> const& adapter);
  // Removes the adapter under `id`, and its flow-in; returns it.
  Ptr<StreamAdapter> reactorDel(EntityId id);
  std::size_t reactors() const noexcept { return reactors_.size(); }
  // A record's attribute and entity as a user knows them
  // ("extTapDevice of agentConfig"), or by their ids when nothing is
  // registered under `id`.
  String8 recordName(EntityId id, AttributeId a) const;
  // A new odd entity id, from this side's range.
  EntityId entityIdNew();

  // --- Flow-ins by entity id.
  Ptr<FlowIn> flowIn(EntityId id) const;
  // The flow-in of `id`, made when there is none.
  Ptr<FlowIn> flowInIs(EntityId id);
  void flowInDel(EntityId id);
  std::size_t flowIns() const noexcept { return flowIns_.size(); }

  // The flow-out of `adapter`: its current one, or a new one made by the
  // adapter (flowOutIs) and queued on its writer.
  Ptr<FlowOut> createFlowOut(Ptr<StreamAdapter> const& adapter, ConnectDesc const& desc, bool flag,
                             AttributeId start);
  // Abandons the open collection resync or string write of the adapter's
  // flow-out: its state is freed, the peer is sent an abort marker at the
  // next scheduled flow-out, and the attribute is written again from its
  // start.
  void flowOutAbort(Ptr<StreamAdapter> const& adapter);

  // --- Replication.
  // Replicates `entity` on this connection: attaches its adapter to the
  // writer, registers it under a new odd entity id, sends the orphan record
  // and a flow-out of the whole entity. Mounting a mounted entity again
  // returns its adapter and sends nothing.
  Ptr<Entity::KivNboAttrLogSa> mount(Ptr<Entity> const& entity);
  // Where entities that orphan records describe are kept (and found again
  // after a reconnection). Without one they live as long as their adapter.
  void mirrorDirIs(Ptr<Dir> const& dir) { mirrorDir_ = dir; }
  Ptr<Dir> const& mirrorDir() const noexcept { return mirrorDir_; }
  // Told of every entity that an orphan record attached.
  void mirrorCallbackIs(std::function<void(Ptr<Entity> const&)> c) { mirrorCallback_ = std::move(c); }
  // Told once, when the connection closes, with the reason.
  void closedCallbackIs(std::function<void(String8 const&)> c) { closedCallback_ = std::move(c); }

  // --- Receiving.
  // Takes what the stream has brought and delivers every complete frame.
  // Throws a range exception, after closing the connection, for a frame it
  // rejects. Does nothing while a record is being delivered (a nested
  // call waits for the outer one) or once closed.
  void receive();
  // Closes the connection: the stream, the adapters registered here (they
  // stop replicating), the flow-ins and waiting flow-outs. Idempotent.
  void close(String8 const& reason);

 private:
  friend class Kiv::StreamAdapter;
  template <class T, class... A>
  friend Ptr<T> Kiv::make(A&&...);
  Demuxer(Ptr<In> const& in, Ptr<Out> const& out, Ptr<ByteStream> const& stream, Side side);
  void pump();
  void deliverFrames();
  void deliverFrame(std::uint32_t length);
  void dispatch(MsgHeader const& h, std::uint32_t payload);
  [[noreturn]] void reject(String8 const& what, std::uint64_t at);
  void onOrphan(Ptr<Entity> const& entity);

  Ptr<In> in_;
  Ptr<Out> out_;
  Ptr<ByteStream> stream_;
  Ptr<Dir> mirrorDir_;
  std::map<EntityId, Ptr<StreamAdapter>> reactors_;
  std::map<EntityId, Ptr<FlowIn>> flowIns_;
  std::function<void(Ptr<Entity> const&)> mirrorCallback_;
  std::function<void(String8 const&)> closedCallback_;
  String8 closeReason_;
  std::uint64_t compacted_ = 0;  // bytes dropped from the reader's front
  std::uint64_t recordsReceived_ = 0;
  std::uint64_t peerAck_ = 0;
  struct Delivered {
    bool on = false;
    bool change = false;
    std::uint64_t ack = 0;
  } delivered_;
  EntityId nextId_ = 1;
  std::uint32_t state_ = 0;
  Side side_;
};

// Every demultiplexer of the process that is open.
class KIV_API DemuxerManager {
 public:
  class KIV_API Iterator {
   public:
    explicit Iterator(std::vector<Ptr<Demuxer>> demuxers) : demuxers_(std::move(demuxers)) {}
    explicit operator bool() const noexcept { return at_ < demuxers_.size(); }
    Ptr<Demuxer> const& ptr() const { return demuxers_[at_]; }
    Demuxer* operator->() const { return demuxers_[at_].ptr(); }
    Iterator& operator++() noexcept {
      ++at_;
      return *this;
    }

   private:
    std::vector<Ptr<Demuxer>> demuxers_;
    std::size_t at_ = 0;
  };
  // Walks a snapshot, in registration order.
  Iterator nboDemuxerIterator() const { return Iterator(demuxers_); }
  std::size_t demuxers() const noexcept { return demuxers_.size(); }
  Ptr<Demuxer> demuxer(Connection::In const* reader) const;

 private:
  friend class Demuxer;
  std::vector<Ptr<Demuxer>> demuxers_;
};

}  // namespace NboAttrLog

KIV_API NboAttrLog::DemuxerManager& globalNboAttrLogDemuxerManager();
// The demultiplexer of `reader`, or null.
KIV_API Ptr<NboAttrLog::Demuxer> demuxFor(Ptr<Connection::In> const& reader);

}  // namespace Kiv

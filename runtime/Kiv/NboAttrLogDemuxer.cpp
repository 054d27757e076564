#include "Kiv/NboAttrLogDemuxer.h"

#include <algorithm>

#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "Kiv/NboAttrLogFlow.h"
#include "Kiv/Strep.h"

namespace Kiv {
namespace NboAttrLog {

namespace {

// How much one read from the stream takes at most.
constexpr std::size_t readBlock = 64u << 10;

// Marks the demultiplexer as delivering for the length of a scope.
class DeliveryScope {
 public:
  explicit DeliveryScope(std::uint32_t& state) : state_(state) { state_ = 1; }
  ~DeliveryScope() {
    if (state_ == 1) state_ = 0;
  }
  DeliveryScope(DeliveryScope const&) = delete;
  DeliveryScope& operator=(DeliveryScope const&) = delete;

 private:
  std::uint32_t& state_;
};

}  // namespace

Ptr<Demuxer> Demuxer::DemuxerIs(Ptr<ByteStream> const& stream, Side side) {
  if (!stream) throwNullValidPtr();
  auto in = make<In>();
  auto out = make<Out>();
  out->stream_ = stream;
  out->capacity_ = defaultCapacity;
  Ptr<Demuxer> d = make<Demuxer>(in, out, stream, side);
  // The stream's call-backs do not count the demultiplexer: it lives while
  // the global manager or its host holds it.
  Demuxer* raw = d.ptr();
  stream->readableCallbackIs([raw] { raw->pump(); });
  stream->writableCallbackIs([raw] { raw->out_->flush(); });
  return d;
}

Ptr<Demuxer> Demuxer::DemuxerIs(Ptr<In> const& reader, Ptr<Out> const& writer, Side side) {
  if (!reader || !writer) throwNullValidPtr();
  return make<Demuxer>(reader, writer, Ptr<ByteStream>(), side);
}

Demuxer::Demuxer(Ptr<In> const& in, Ptr<Out> const& out, Ptr<ByteStream> const& stream, Side side)
    : in_(in), out_(out), stream_(stream), side_(side) {
  in_->out_ = out_.ptr();
  out_->in_ = in_.ptr();
  globalNboAttrLogDemuxerManager().demuxers_.push_back(Ptr<Demuxer>(this));
}

Demuxer::~Demuxer() {
  if (stream_) {
    stream_->readableCallbackIs(nullptr);
    stream_->writableCallbackIs(nullptr);
  }
  for (auto const& r : reactors_) r.second->streamDemuxerIs(nullptr);
}

std::uint64_t Demuxer::offset() const noexcept { return compacted_ + in_->position(); }

Ptr<StreamAdapter> Demuxer::reactor(EntityId id) const {
  auto it = reactors_.find(id);
  return it == reactors_.end() ? nullptr : it->second;
}

void Demuxer::reactorIs(EntityId id, Ptr<StreamAdapter> const& adapter) {
  if (!adapter) throwNullValidPtr();
  Ptr<StreamAdapter>& slot = reactors_[id];
  if (slot && slot != adapter) slot->streamDemuxerIs(nullptr);
  slot = adapter;
  adapter->streamDemuxerIs(this);
}

Ptr<StreamAdapter> Demuxer::reactorDel(EntityId id) {
  auto it = reactors_.find(id);
  if (it == reactors_.end()) return nullptr;
  Ptr<StreamAdapter> adapter = it->second;
  reactors_.erase(it);
  flowIns_.erase(id);
  adapter->streamDemuxerIs(nullptr);
  return adapter;
}

String8 Demuxer::recordName(EntityId id, AttributeId a) const {
  // A deletion's record carries its attribute's id negated.
  AttributeId const attr = static_cast<std::int32_t>(a) < 0 ? 0u - a : a;
  Ptr<StreamAdapter> const adapter = reactor(id);
  Ptr<Entity const> entity;
  if (adapter) entity = adapter->kivNotifierEntity();
  if (!entity) return format("attribute %u of entity id %llu", attr, static_cast<unsigned long long>(id));
  String8 const name = entity->attributeString(attr);
  return (name.empty() ? format("attribute %u", attr) : name) + " of " + entity->fullName();
}

EntityId Demuxer::entityIdNew() {
  for (;;) {
    EntityId const id = (++nextId_ << 2) | (static_cast<EntityId>(side_) << 1) | 1u;
    if (!reactors_.count(id)) return id;
  }
}

Ptr<FlowIn> Demuxer::flowIn(EntityId id) const {
  auto it = flowIns_.find(id);
  return it == flowIns_.end() ? nullptr : it->second;
}

Ptr<FlowIn> Demuxer::flowInIs(EntityId id) {
  Ptr<FlowIn>& slot = flowIns_[id];
  if (!slot) slot = make<FlowIn>(id);
  return slot;
}

void Demuxer::flowInDel(EntityId id) { flowIns_.erase(id); }

Ptr<FlowOut> Demuxer::createFlowOut(Ptr<StreamAdapter> const& adapter, ConnectDesc const& desc, bool flag,
                                    AttributeId start) {
  if (!adapter) throwNullValidPtr();
  if (adapter->flowOut()) return adapter->flowOut();
  Ptr<Out> const& out = adapter->nboAttrLogOut() ? adapter->nboAttrLogOut() : out_;
  Ptr<FlowOut> f = adapter->flowOutIs(out, desc, flag, start);
  adapter->kivFlowOutIs(f);
  out->flowOutWaitIs(f);
  return f;
}

void Demuxer::flowOutAbort(Ptr<StreamAdapter> const& adapter) {
  if (!adapter) return;
  Ptr<FlowOut> f = adapter->flowOut();
  if (!f || (!f->bookmark() && !f->valueIter())) return;
  AttributeId const a = f->attrId();
  adapter->freeResyncState(f);
  f->pendingAbortIs(a);
  f->resumeAt_ = 0;
  if (Out* out = f->out()) out->flowOutWaitIs(f);
}

Ptr<Entity::KivNboAttrLogSa> Demuxer::mount(Ptr<Entity> const& entity) {
  if (!entity) throwNullValidPtr();
  if (!open()) throwRangeException("cannot mount " + entity->fullName() + " on a closed connection: " + closeReason_);
  Ptr<Entity::KivNboAttrLogSa> adapter =
      entity->kivNboAttrLogSaIs(StreamAdapter::defaultBits(), 0, out_, nullptr);
  if (adapter->entityIdInitialized() && reactor(adapter->entityId()) == adapter) return adapter;
  adapter->streamDemuxerIs(this);
  adapter->kivInstantiateSerialize();
  return adapter;
}

void Demuxer::onOrphan(Ptr<Entity> const& entity) {
  if (mirrorCallback_) mirrorCallback_(entity);
}

void Demuxer::receive() {
  if (state_ != 0) return;
  Ptr<Demuxer> hold(this);
  bool more = false;
  if (stream_) {
    // Takes what has arrived, a bounded amount per turn, so that a fast
    // peer cannot keep the loop to itself.
    std::uint8_t block[4096];
    std::size_t got = 0;
    while (got < readBlock) {
      std::size_t const n = stream_->read(block, sizeof block);
      if (n == 0) break;
      in_->bytesIs(block, n);
      got += n;
    }
    more = got >= readBlock;
  }
  deliverFrames();
  if (state_ != 0 || !stream_) return;
  if (more) {
    eventLoop().defer([hold] { hold->pump(); });
    return;
  }
  if (!stream_->open()) {
    if (in_->unread() != 0) {
      reject(format("truncated frame: the stream ended %llu byte%s into it",
                    static_cast<unsigned long long>(in_->unread()), in_->unread() == 1 ? "" : "s"),
             offset());
    }
    close(stream_->failure().empty() ? String8("connection closed by the peer") : stream_->failure());
  }
}

void Demuxer::pump() {
  try {
    receive();
  } catch (Exception const&) {
    // The connection is closed; its closed call-back has the reason.
  }
}

void Demuxer::deliverFrames() {
  while (state_ == 0 && in_->unread() >= 4) {
    std::uint32_t const length = in_->peekU32();
    if (length < headerSize + 2 || length > maxFrame) reject(format("bad frame length %u", length), offset());
    if (in_->unread() < 4u + length) break;
    deliverFrame(length);
    ++recordsReceived_;
  }
  if (state_ == 0) {
    compacted_ += in_->position();
    in_->compact();
  }
}

void Demuxer::deliverFrame(std::uint32_t length) {
  std::uint64_t const at = offset();
  std::size_t const frameEnd = in_->position() + 4 + length;
  in_->skip(4);
  try {
    ConnectionInSizeAnchor frame(Ptr<Connection::In>(in_), length);
    MsgHeader h;
    h.entityId = in_->nextU64();
    h.attrId = in_->nextU32();
    std::uint8_t const kind = in_->nextU8();
    h.transactionType = in_->nextU8();
    h.transactionArg = in_->nextU32();
    std::uint8_t const reassert = in_->nextU8();
    if (kind > 1) throwRangeException(format("bad record kind %u", kind));
    if (reassert > 1) throwRangeException(format("bad reassert flag %u", reassert));
    if (kind == 1 && (h.transactionType & ~MsgHeader::changeFlag) != 0) {
      throwRangeException(format("bad record flags %u", h.transactionType));
    }
    h.attribute = kind == 1;
    h.reassert = reassert == 1;
    if (in_->nextU8() != Connection::Out::transactBegin) throwRangeException("missing begin token");
    auto const payload = static_cast<std::uint32_t>(length - headerSize - 2);
    // The end token is the frame's last byte.
    if (in_->peekU8At(payload) != Connection::Out::transactEnd) throwRangeException("missing end token");
    {
      ConnectionInSizeAnchor body(Ptr<Connection::In>(in_), payload);
      // A receive() from an observer meanwhile returns at once: the reader
      // stands inside this frame, and the frames after it are delivered
      // by this call.
      DeliveryScope delivering(state_);
      ++in_->framesSeen_;
      // The acknowledgement carries the low 32 bits of a count that never
      // exceeds the frames this side has written.
      std::uint64_t const written = out_->records();
      std::uint64_t const behind = static_cast<std::uint32_t>(static_cast<std::uint32_t>(written) - h.transactionArg);
      std::uint64_t const ack = behind <= written ? written - behind : 0;
      peerAck_ = std::max(peerAck_, ack);
      Delivered const outer = delivered_;
      delivered_ = Delivered{true, h.attribute && (h.transactionType & MsgHeader::changeFlag) != 0, ack};
      try {
        dispatch(h, payload);
      } catch (...) {
        delivered_ = outer;
        throw;
      }
      delivered_ = outer;
    }
  } catch (std::exception const& e) {
    if (state_ == 2) throw;
    auto const* kiv = dynamic_cast<Exception const*>(&e);
    reject(kiv ? kiv->message() : String8(e.what()), at);
  }
  // Whatever the adapter left unread of the payload is skipped: a newer
  // peer may send more than this one reads.
  if (state_ != 2) in_->skip(frameEnd - in_->position());
}

void Demuxer::dispatch(MsgHeader const& h, std::uint32_t payload) {
  if (h.entityId == orphanEntityId) {
    if (!h.attribute || h.attrId != orphanAttrId) {
      throwRangeException(format("record for reserved entity id 1, attribute %u", h.attrId));
    }
    StreamAdapter::deserializeOrphan(*this, in_);
    return;
  }
  Ptr<StreamAdapter> adapter = reactor(h.entityId);
  if (!adapter) {
    throwRangeException(format("record for unknown entity id %llu", static_cast<unsigned long long>(h.entityId)));
  }
  if (!h.attribute) {
    if (h.transactionType > StreamAdapter::transactionEnd) {
      throwRangeException(format("bad transaction type %u", h.transactionType));
    }
    // The argument word carries the acknowledgement: markers have no
    // argument of their own.
    adapter->handleAttrTransaction(h.attrId, h.transactionType, 0);
    return;
  }
  // A record of the adapter's own connection is applied; any other (or
  // one that asks for it) makes the adapter reassert its own value.
  bool const own = adapter->nboAttrLogOut() && adapter->nboAttrLogOut()->nboIn() == in_;
  adapter->handleAttrDeserialization(h.attrId, 0, payload, own && !h.reassert ? nullptr : in_);
}

void Demuxer::reject(String8 const& what, std::uint64_t at) {
  String8 const reason = what + format(" (frame at offset %llu)", static_cast<unsigned long long>(at));
  close(reason);
  throwRangeException(reason);
}

void Demuxer::close(String8 const& reason) {
  if (state_ == 2) return;
  Ptr<Demuxer> hold(this);
  state_ = 2;
  closeReason_ = reason;
  in_->live_ = false;
  out_->close();
  std::map<EntityId, Ptr<StreamAdapter>> reactors;
  reactors.swap(reactors_);
  flowIns_.clear();
  for (auto const& r : reactors) r.second->streamDemuxerIs(nullptr);
  // Released at the loop's next turn: the close may come from inside one of
  // them (a record of its too long for a frame).
  eventLoop().defer([released = std::move(reactors)] {});
  auto& list = globalNboAttrLogDemuxerManager().demuxers_;
  list.erase(std::remove(list.begin(), list.end(), hold), list.end());
  if (closedCallback_) {
    auto callback = std::move(closedCallback_);
    callback(reason);
  }
}

// --- DemuxerManager

Ptr<Demuxer> DemuxerManager::demuxer(Connection::In const* reader) const {
  for (auto const& d : demuxers_)
    if (d->reader().ptr() == reader) return d;
  return nullptr;
}

}  // namespace NboAttrLog

NboAttrLog::DemuxerManager& globalNboAttrLogDemuxerManager() {
  // Never destroyed: demultiplexers may outlive static destruction order.
  static auto* manager = new NboAttrLog::DemuxerManager;
  return *manager;
}

Ptr<NboAttrLog::Demuxer> demuxFor(Ptr<Connection::In> const& reader) {
  return globalNboAttrLogDemuxerManager().demuxer(reader.ptr());
}

}  // namespace Kiv

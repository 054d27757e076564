#include "Kiv/StreamAdapter.h"

#include <algorithm>
#include <iterator>

#include "Kiv/Dir.h"
#include "Kiv/Exception.h"
#include "Kiv/KivType.h"
#include "Kiv/NboAttrLogDemuxer.h"
#include "Kiv/Strep.h"

namespace Kiv {

namespace NboAttrLog {

FlowOut::FlowOut(Ptr<Out> const& out, Ptr<StreamAdapter> const& adapter, ConnectDesc const& desc, bool flag,
                 AttributeId start)
    : adapter_(adapter.ptr()), out_(out.ptr()), desc_(desc), start_(start), flag_(flag) {}

FlowOut::~FlowOut() = default;

bool FlowOut::hasDirtyAttributes() const { return false; }

FlowOut::PendingAbortIterator FlowOut::pendingAbortIterator() const {
  std::vector<AttributeId> ids;
  ids.reserve(pendingAborts_.size());
  for (auto const& p : pendingAborts_) ids.push_back(p.first);
  return PendingAbortIterator(std::move(ids));
}

FlowIn::~FlowIn() = default;

}  // namespace NboAttrLog

StreamAdapter::SyncMode StreamAdapter::SyncModeInstance(std::uint32_t mode) {
  if (mode > syncModeResync) throwRangeException(format("no sync mode %u", mode));
  return static_cast<SyncMode>(mode);
}

StreamAdapter::Kiv_BitSet StreamAdapter::defaultBits() {
  Kiv_BitSet bits;
  bits.bitIs(flagWritable, true);
  return bits;
}

StreamAdapter::StreamAdapter(Kiv_BitSet bits, unsigned int arg, Ptr<NboAttrLog::Out> const& out,
                             PtrInterface* parent)
    : out_(out), parent_(parent), arg_(arg) {
  kivBits() = bits;
}

StreamAdapter::~StreamAdapter() {
  if (flowOut_) flowOut_->adapter_ = nullptr;
}

bool StreamAdapter::isStreamAdapter() const { return true; }

bool StreamAdapter::continueFlowOut() const { return out_ && out_->hasSufficientBuffer(); }

bool StreamAdapter::prepareImmediateTransmission(AttributeId, bool bufferShort) {
  // A running flow-out writes its current item and then asks whether it
  // may go on (continueFlowOut), so the writer's capacity is a soft limit.
  if (!bufferShort || stateFlag(flagHandlingScheduledFlowOut)) return true;
  flowOutOnDemand();
  return false;
}

Ptr<NboAttrLog::FlowOut> const& StreamAdapter::flowOutOnDemand() {
  if (flowOut_) return flowOut_;
  if (demuxer_) {
    demuxer_->createFlowOut(Ptr<StreamAdapter>(this), ConnectDesc(), false, 0x7fffffff);
  } else {
    kivFlowOutIs(flowOutIs(out_, ConnectDesc(), false, 0x7fffffff));
    if (out_) out_->flowOutWaitIs(flowOut_);
  }
  return flowOut_;
}

bool StreamAdapter::convertedToWritable(bool) { return false; }

void StreamAdapter::doThrowReadOnly(Ptr<KivAttr> const& descriptor) const {
  String8 const what = descriptor ? descriptor->name() : String8("attribute");
  throwRangeException(what + " is read-only: " + name() + " is a read-only proxy");
}

bool StreamAdapter::readOnlyRemoteOk(AttributeId) const { return false; }

void StreamAdapter::sendTransactionMarker(AttributeId a, AttrTransactionType type, std::uint32_t arg) {
  if (!out_) return;
  // A resync of `a` stands until the peer has its end marker (an aborted
  // one is begun again).
  if (type == transactionBegin) localResyncs_[a] = pending;
  if (type == transactionEnd) {
    if (auto it = localResyncs_.find(a); it != localResyncs_.end()) it->second = out_->records() + 1;
  }
  out_->nextHeaderIs(NboAttrLog::MsgHeader(entityId_, a, false, static_cast<std::uint8_t>(type), arg, false));
  out_ << Connection::Out::transactBegin << Connection::Out::transactEnd;
}

void StreamAdapter::doThis() {
  if (out_) out_->flush();
}

void StreamAdapter::localChangeIs(AttributeId a, String8 const& key) {
  if (localChanges_.size() >= sweepAt_) {
    // Changes the peer has acknowledged are settled.
    std::uint64_t const acked = demuxer_ ? demuxer_->peerAck() : 0;
    for (auto it = localChanges_.begin(); it != localChanges_.end();) {
      it = it->second <= acked ? localChanges_.erase(it) : std::next(it);
    }
    sweepAt_ = std::max<std::size_t>(64, 2 * localChanges_.size());
  }
  localChanges_[{a, key.stdString()}] = pending;
}

bool StreamAdapter::localChangeWritten(AttributeId a, String8 const& key) {
  auto it = localChanges_.find({a, key.stdString()});
  if (it == localChanges_.end() || it->second != pending || !out_) return false;
  it->second = out_->records() + 1;
  return true;
}

void StreamAdapter::localChangeStillWriting(AttributeId a, String8 const& key) {
  if (!out_) return;
  std::uint64_t& seq = localChanges_[{a, key.stdString()}];
  if (seq != pending) seq = out_->records() + 1;
}

std::vector<String8> StreamAdapter::localChangesPending(AttributeId a) const {
  std::vector<String8> keys;
  for (auto const& c : localChanges_)
    if (c.first.first == a && c.second == pending) keys.emplace_back(c.first.second);
  return keys;
}

bool StreamAdapter::peerValueAccepted(AttributeId a, String8 const& key, std::uint64_t ack, bool change) {
  // A value the peer resent before it had all of this side's resync of `a`
  // is older than that resync, which the peer takes whole: on the mounting
  // side it is not applied.
  if (!change && mountedHere()) {
    auto resync = localResyncs_.find(a);
    if (resync != localResyncs_.end() && resync->second > ack) return false;
  }
  auto it = localChanges_.find({a, key.stdString()});
  if (it == localChanges_.end()) return true;
  bool const crossed = it->second > ack;
  if (crossed && !(change && !mountedHere())) return false;
  localChanges_.erase(it);
  return true;
}

bool StreamAdapter::peerValueAccepted(AttributeId a, String8 const& key) {
  if (!demuxer_ || !demuxer_->delivering()) return true;
  return peerValueAccepted(a, key, demuxer_->deliveredAck(), demuxer_->deliveredChange());
}

bool StreamAdapter::mountedHere() const {
  return demuxer_ && ((entityId_ >> 1) & 1u) == static_cast<EntityId>(demuxer_->side());
}

void StreamAdapter::doBaseKivNboAttrLogSaMsg(AttributeId a, DeserializationOptions, unsigned int length,
                                             Ptr<NboAttrLog::In> const& reader) {
  Ptr<NboAttrLog::In> source = reader ? reader : (out_ ? out_->nboIn() : nullptr);
  if (!source) return;
  if (a == NboAttrLog::orphanAttrId) {
    if (!demuxer_) throwRangeException("orphan record on an adapter without a connection");
    deserializeOrphan(*demuxer_, source);
    return;
  }
  if (a >= Attr::name && a <= Attr::zeroReferences) {
    // Base attributes are the runtime's own; a peer may send them, this
    // runtime keeps none of them in step.
    source->skip(length);
    return;
  }
  Ptr<Entity const> entity = kivNotifierEntity();
  String8 const type = entity ? entity->fwkType()->qualifiedName() : String8("the entity");
  throwRangeException(format("record for attribute %u, which ", a) + type + " does not replicate");
}

void StreamAdapter::deserializeOrphan(NboAttrLog::Demuxer& demuxer, Ptr<NboAttrLog::In> const& reader) {
  auto section = [&](std::uint8_t expected) {
    std::uint8_t const s = reader->nextU8();
    if (s != expected) throwRangeException(format("orphan record: payload section %u where %u belongs", s, expected));
  };
  section(1);
  String8 const typeName = reader->nextString();
  section(3);
  String8 const name = reader->nextString();
  section(4);
  EntityId const id = reader->nextU64();
  if (!(id & 1u) || id == NboAttrLog::orphanEntityId) {
    throwRangeException(format("orphan record: entity id %llu is not an odd id above 1",
                               static_cast<unsigned long long>(id)));
  }
  Ptr<KivType> const type = KivType::typeNode(typeName);
  if (!type || !type->isEntity()) throwRangeException("orphan record of unknown entity type " + typeName);
  if (Ptr<StreamAdapter> existing = demuxer.reactor(id)) {
    Ptr<Entity> e = existing->kivNotifierEntity();
    if (e && e->fwkType() == type && e->name().string() == name) return;  // told twice
    throwRangeException(format("orphan record: entity id %llu is in use", static_cast<unsigned long long>(id)));
  }
  Ptr<Entity> entity;
  Ptr<Dir> const& dir = demuxer.mirrorDir();
  if (dir) {
    entity = dir->entry(Name(name));
    if (entity && entity->fwkType() != type) {
      throwRangeException("orphan record: " + name + " is in use by an entity of another type");
    }
  }
  if (!entity) {
    entity = type->newEntity(Name(name), dir.ptr());
    if (!entity) throwRangeException("orphan record: type " + typeName + " made no entity");
    if (dir) dir->entryIs(entity);
  }
  Ptr<Entity::KivNboAttrLogSa> adapter = entity->kivNboAttrLogSaIs(defaultBits(), 0, demuxer.writer(), nullptr);
  // The peer may mount the entity again under a new id: the adapter it has
  // on this connection answers to the new one only.
  if (adapter->entityIdInitialized() && adapter->entityId() != id &&
      demuxer.reactor(adapter->entityId()) == Ptr<StreamAdapter>(adapter.ptr())) {
    demuxer.reactorDel(adapter->entityId());
  }
  adapter->entityIdIs(id);
  adapter->entityIdInitializedIs(true);
  adapter->streamDemuxerIs(&demuxer);
  demuxer.reactorIs(id, adapter);
  demuxer.onOrphan(entity);
}

void StreamAdapter::handleSyncMode() {}

AttributeId StreamAdapter::handleAttrFlowOut(AttributeId) { return 0; }

void StreamAdapter::freeResyncState(Ptr<NboAttrLog::FlowOut> const&) {}

void StreamAdapter::kivOnInit() {}

void StreamAdapter::kivInstantiateSerialize() {
  if (!demuxer_) throwRangeException("stream adapter is not registered with a connection");
  if (!entityIdInitialized_) doAssignEntityId();
  Ptr<StreamAdapter> self(this);
  if (demuxer_->reactor(entityId_) != self) demuxer_->reactorIs(entityId_, self);
  doSerializeOrphan();
  // Start 0: every attribute is dirty, so the peer receives the whole entity.
  demuxer_->createFlowOut(self, ConnectDesc(), false, 0);
}

Ptr<NboAttrLog::Demuxer> StreamAdapter::streamDemuxer() const { return Ptr<NboAttrLog::Demuxer>(demuxer_); }

Ptr<Entity const> StreamAdapter::kivNotifierEntity() const {
  return Ptr<Entity const>(dynamic_cast<Entity const*>(rawNotifier()));
}

Ptr<Entity> StreamAdapter::kivNotifierEntity() {
  return Ptr<Entity>(const_cast<Entity*>(dynamic_cast<Entity const*>(rawNotifier())));
}

void StreamAdapter::doSerializeOrphan() {
  Ptr<Entity const> entity = kivNotifierEntity();
  if (!out_ || !entity) return;
  out_->nextHeaderIs(NboAttrLog::MsgHeader(NboAttrLog::orphanEntityId, NboAttrLog::orphanAttrId, true, 0, 0, false));
  out_ << Connection::Out::transactBegin;
  out_->currentPayloadSectionIs(1);
  out_ << TypeId(entity->fwkType()->qualifiedName());
  out_->currentPayloadSectionIs(3);
  out_ << entity->name().string();
  out_->currentPayloadSectionIs(4);
  out_ << entityId_ << Connection::Out::transactEnd;
  doThis();
}

void StreamAdapter::handleAttrDeserialization(AttributeId a, DeserializationOptions options, unsigned int length,
                                              Ptr<NboAttrLog::In> const& reader) {
  doBaseKivNboAttrLogSaMsg(a, options, length, reader);
}

void StreamAdapter::handleAttrTransaction(AttributeId a, AttrTransactionType type, unsigned int) {
  if (!demuxer_) return;
  Ptr<NboAttrLog::FlowIn> flowIn = demuxer_->flowIn(entityId_);
  if (flowIn && flowIn->aid() == a && (type == transactionAbort || type == transactionEnd)) {
    demuxer_->flowInDel(entityId_);
  }
}

void StreamAdapter::doAssignEntityId() {
  if (!demuxer_) throwRangeException("stream adapter is not registered with a connection");
  entityIdIs(demuxer_->entityIdNew());
  entityIdInitializedIs(true);
}

Ptr<NboAttrLog::FlowOut> StreamAdapter::flowOutIs(Ptr<NboAttrLog::Out> const& out, ConnectDesc const& desc, bool flag,
                                                  AttributeId start) {
  return make<NboAttrLog::FlowOut>(out, Ptr<StreamAdapter>(this), desc, flag, start);
}

EntityId StreamAdapter::realEntityId() const { return entityId_; }

void StreamAdapter::doNotification(AttributeId, void*) {}

void StreamAdapter::entityIdInitializedIs(bool initialized) { entityIdInitialized_ = initialized; }

void StreamAdapter::syncModeIs(SyncMode mode) {
  if (mode == syncMode_) return;
  syncMode_ = mode;
  if (stateFlag(flagSilent) || !stateFlag(flagWritable) || !out_ || !hasUnifiedEntityId()) return;
  out_->nextHeaderIs(NboAttrLog::MsgHeader(entityId_, NboAttrLog::syncModeAttrId, true, 0, 0, false));
  out_ << Connection::Out::transactBegin << static_cast<std::uint32_t>(mode) << Connection::Out::transactEnd;
}

void StreamAdapter::entityIdIs(EntityId id) { entityId_ = id; }

void StreamAdapter::streamDemuxerIs(NboAttrLog::Demuxer* demuxer) { demuxer_ = demuxer; }

void StreamAdapter::msgChannelIs(Ptr<MsgChannel::Constrainer::KivEntry> const& entry) { msgChannel_ = entry; }

void StreamAdapter::kivDoZombieReactors(bool zombie) { kivMarkedForDeletionIs(zombie); }

void StreamAdapter::doRemountSelf(Ptr<NboAttrLog::Out> const& out) {
  if (out && out != out_) return;
  kivInstantiateSerialize();
}

void StreamAdapter::kiv_bitSetIs(Kiv_BitSet bits) {
  PtrInterface::NotifieeConst::kiv_bitSetIs(bits);
  writesSwitched();
}

void StreamAdapter::writesSwitched() {
  if (!writesOn() || !flowOut_) return;
  if (NboAttrLog::Out* out = flowOut_->out()) out->flowOutWaitIs(flowOut_);
}

void StreamAdapter::onZeroReferences() {
  Ptr<StreamAdapter> hold(this);
  kivFlowOutIs(nullptr);
  notifierIs(nullptr);
}

void StreamAdapter::kivFlowOutIs(Ptr<NboAttrLog::FlowOut> const& flowOut) {
  if (flowOut_ == flowOut) return;
  if (flowOut_) flowOut_->adapter_ = nullptr;
  flowOut_ = flowOut;
  if (flowOut_) flowOut_->adapter_ = this;
}

StreamAdapter::IsActiveAnchorBase::IsActiveAnchorBase(StreamAdapter* adapter, AttributeId a)
    : adapter_(adapter), savedAttr_(adapter->applyingAttr_), savedApplying_(adapter->stateFlag(flagApplying)) {
  adapter->stateFlagIs(flagActive, true);
  adapter->stateFlagIs(flagApplying, true);
  adapter->applyingAttr_ = a;
}

StreamAdapter::IsActiveAnchorBase::~IsActiveAnchorBase() {
  adapter_->stateFlagIs(flagActive, false);
  adapter_->stateFlagIs(flagApplying, savedApplying_);
  adapter_->applyingAttr_ = savedAttr_;
}

Entity::KivNboAttrLogSa::HandlingScheduledFlowOutAnchor::HandlingScheduledFlowOutAnchor(StreamAdapter* adapter,
                                                                                        bool running)
    : adapter_(adapter), saved_(adapter->stateFlag(flagHandlingScheduledFlowOut)) {
  adapter->stateFlagIs(flagHandlingScheduledFlowOut, running);
}

Entity::KivNboAttrLogSa::HandlingScheduledFlowOutAnchor::~HandlingScheduledFlowOutAnchor() {
  adapter_->stateFlagIs(flagHandlingScheduledFlowOut, saved_);
}

}  // namespace Kiv

#include "attrlog/ConfigStreamAdapter.h"

#include "Kiv/NboAttrLogFlow.h"

namespace Bridging::Orva {

namespace {

constexpr Kiv::AttributeId extTapDeviceDeletion = static_cast<Kiv::AttributeId>(-258);

}  // namespace

template class AgentEntity<Config>;

// --- The stream adapter

Config::KivNboAttrLogSa::KivNboAttrLogSa(Kiv_BitSet bits, Kiv::Ptr<Config> const& entity, unsigned int arg,
                                         Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::PtrInterface* parent)
    : AgentStreamAdapter(bits, entity, arg, out, parent) {
  kivAttach(entity);
  localTransaction();
}

Config::KivNboAttrLogSa::~KivNboAttrLogSa() = default;

void Config::KivNboAttrLogSa::localTransaction() {
  Kiv::Ptr<Kiv::NboAttrLog::Demuxer> demuxer = streamDemuxer();
  if (!demuxer || demuxer->state() >= 2 || !stateFlag(flagActive)) return;
  handleAttrTransaction(extTapDeviceAttrId, syncMode() == syncModeResync ? transactionBegin : transactionEnd, 0);
}

void Config::KivNboAttrLogSa::syncModeIs(SyncMode mode) {
  Kiv::StreamAdapter::syncModeIs(mode);
  localTransaction();
}

void Config::KivNboAttrLogSa::freeResyncState(Kiv::Ptr<Kiv::NboAttrLog::FlowOut> const& flowOut) {
  if (flowOut && flowOut->attrId() == extTapDeviceAttrId) Kiv::kivFlowOutBookmarkDeq<Kiv::String8>(flowOut);
}

void Config::KivNboAttrLogSa::doNotification(Kiv::AttributeId a, void* arg) {
  switch (a) {
    case Kiv::Attr::isNondestructing: onIsNondestructing(); break;
    case extTapDeviceAttrId:
    case extTapDeviceDeletion:
      if (arg) onExtTapDevice(*static_cast<Kiv::String8 const*>(arg));
      break;
    case completeAttrId: onComplete(); break;
    default: break;
  }
}

void Config::KivNboAttrLogSa::onExtTapDevice(Kiv::String8 key) {
  if (silentFor(extTapDeviceAttrId)) return;
  // The echo of an entry this adapter is applying: nothing to write, so no
  // look-up; the guard's flag is cleared as the write path would.
  if (stateFlag(flagActive)) {
    stateFlagIs(flagActive, false);
    return;
  }
  Kiv::Ptr<Config> e = entity();
  if (!e) return;
  auto it = e->extTapDeviceIteratorConst(key);
  bool const present = it && it->key() == key;
  kivHandleExtTapDeviceSerializeSing(key, present ? it->value() : TapDevice(), !present);
}

void Config::KivNboAttrLogSa::onComplete() {
  Kiv::Ptr<Config> e = entity();
  if (e) writeBool(completeAttrId, [&] { return e->complete(); }, attributes().complete);
}

void Config::KivNboAttrLogSa::kivHandleExtTapDeviceSerializeSing(Kiv::String8 key, TapDevice const& value,
                                                                 bool deleted) {
  if (silentFor(extTapDeviceAttrId)) return;
  Kiv::ClearIsActiveAnchor clear(this);
  bool sufficient = true;
  Kiv::NboAttrLog::Out* out = writerFor(attributes().extTapDevice, sufficient);
  if (!out) return;
  writeOrDefer(extTapDeviceAttrId, sufficient, true, [&] {
    Kiv::Ptr<Kiv::NboAttrLog::Out> w(out);
    recordBegin(w, extTapDeviceAttrId, key, true, deleted ? extTapDeviceDeletion : 0);
    w << key;
    if (!deleted) w << value;
    w << Kiv::Connection::Out::transactEnd;
  });
}

bool Config::KivNboAttrLogSa::kivHandleExtTapDeviceSerializeColl() {
  if (silentFor(extTapDeviceAttrId)) return false;
  bool sufficient = true;
  if (!writerFor(attributes().extTapDevice, sufficient)) return true;
  Kiv::Ptr<AgentFlowOut> fo = flowOut();
  Kiv::Ptr<Kiv::NboAttrLog::FlowOut> const base(fo.ptr());
  Kiv::Ptr<Config> e = entity();
  if (fo && !fo->bookmark()) {
    // Members deleted on this side since they were last written go first,
    // one by one and as changes, so that a crossing change of the peer is
    // settled like any other (a resync's end only resends deletions). The
    // keys still waiting are where this resumes.
    for (Kiv::String8 const& key : localChangesPending(extTapDeviceAttrId)) {
      auto gone = e->extTapDeviceIteratorConst(key);
      if (gone && gone->key() == key) continue;
      kivHandleExtTapDeviceSerializeSing(key, TapDevice(), true);
      if (fo->suspended() || !continueFlowOut()) return false;
    }
    sendTransactionMarker(extTapDeviceAttrId, transactionBegin, 0);
  }
  ExtTapDeviceIterator it = fo && fo->bookmark()
                                ? e->extTapDeviceIterator(Kiv::kivFlowOutBookmarkDeq<Kiv::String8>(base))
                                : e->extTapDeviceIterator();
  // Whether a change was deferred behind this resync: then it ends, and
  // another one follows.
  auto finished = [&] {
    if (!fo || !fo->kivChangedBehindResync()) return true;
    fo->kivChangedBehindResyncIs(false);
    return false;
  };
  bool stopped = false;
  while (it) {
    kivHandleExtTapDeviceSerializeSing(it.key(), it.value(), false);
    if (fo) {
      bool const suspendedNow = fo->suspended();
      if (!continueFlowOut()) {
        if (!suspendedNow) ++it;
        stopped = true;
        break;
      }
      if (suspendedNow) {
        stopped = true;
        break;
      }
    }
    ++it;
  }
  if (stopped && it) {
    Kiv::kivFlowOutBookmarkEnq<Kiv::String8>(base, it.key());
    return false;
  }
  if (stopped || (fo && fo->attrId() == extTapDeviceAttrId)) {
    sendTransactionMarker(extTapDeviceAttrId, transactionEnd, 0);
  }
  return finished();
}

Kiv::AttributeId Config::KivNboAttrLogSa::flowOutFrom(Kiv::AttributeId start, Kiv::Ptr<AgentFlowOut> const& fo) {
  if (start == extTapDeviceAttrId) {
    if (fo) fo->attrIdIs(extTapDeviceAttrId);
    bool done = true;
    if (fo && fo->dirty(extTapDeviceAttrId)) {
      done = kivHandleExtTapDeviceSerializeColl();
      fo->dirtyIs(extTapDeviceAttrId, !done);
    }
    if (suspended(fo)) return extTapDeviceAttrId;
    if (!continueFlowOut()) {
      if (!done) return extTapDeviceAttrId;
      return fo && fo->hasDirtyAttributes() ? completeAttrId : 0;
    }
  }
  if (fo) fo->attrIdIs(completeAttrId);
  if (fo && fo->dirty(completeAttrId)) onComplete();
  return suspended(fo) ? completeAttrId : 0;
}

bool Config::KivNboAttrLogSa::deserializeAttr(Kiv::AttributeId a, bool apply,
                                              Kiv::Ptr<Kiv::NboAttrLog::In> const& source, unsigned int,
                                              Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const&) {
  Kiv::Ptr<Config> e = entity();
  switch (a) {
    case extTapDeviceAttrId: {
      Kiv::String8 const key = source->nextString();
      TapDevice const value(source.ptr(), Kiv::StreamBogon());
      if (!apply) {
        onExtTapDevice(key);
        return true;
      }
      // Received (or this side's newer value kept): the member survives the
      // end of a running resync.
      if (peerValueAccepted(extTapDeviceAttrId, key)) {
        e->kivExtTapDeviceIs(key, value)->kivMarkedForDeletionIs(false);
      } else {
        ExtTapDeviceIterator it = e->extTapDeviceIterator(key);
        if (it && it.key() == key) it->kivMarkedForDeletionIs(false);
      }
      return true;
    }
    case extTapDeviceDeletion: {
      Kiv::String8 const key = source->nextString();
      if (!apply) onExtTapDevice(key);
      else if (peerValueAccepted(extTapDeviceAttrId, key)) e->extTapDeviceDel(key);
      return true;
    }
    case completeAttrId: {
      bool const v = source->nextbool();
      if (!apply) onComplete();
      else if (peerValueAccepted(completeAttrId, Kiv::String8())) e->completeIs(v);
      return true;
    }
    default: return false;
  }
}

void Config::KivNboAttrLogSa::handleAttrTransaction(Kiv::AttributeId a, AttrTransactionType type, unsigned int arg) {
  Kiv::Ptr<KivNboAttrLogSa> hold(this);
  Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const flowIn = kivFlowInTransaction(a, type);
  if (a == extTapDeviceAttrId) {
    Kiv::Ptr<Config> e = entity();
    // A member this side changed after the peer's resync began is not one
    // the resync could hold: it stays.
    Kiv::Ptr<Kiv::NboAttrLog::Demuxer> const demuxer = streamDemuxer();
    bool const fromPeer = demuxer && demuxer->delivering();
    std::uint64_t const began = flowIn && flowIn->aid() == extTapDeviceAttrId ? flowIn->ack() : 0;
    auto stays = [&](KivExtTapDeviceIterator const& it) {
      return fromPeer && !peerValueAccepted(extTapDeviceAttrId, it->key(), began, false);
    };
    // Observers of a deletion may add or delete members: passes go on
    // until one leaves the collection as it found it.
    for (bool again = true; again && e;) {
      std::uint32_t const version = e->extTapDeviceVersion();
      for (KivExtTapDeviceIterator it = e->kivExtTapDeviceIterator(); it;) {
        if (type == transactionBegin) {
          it->kivMarkedForDeletionIs(true);
          ++it;
        } else if (type == transactionEnd && it->kivMarkedForDeletion() && stays(it)) {
          it->kivMarkedForDeletionIs(false);
          ++it;
        } else if (type == transactionEnd && it->kivMarkedForDeletion()) {
          IsActiveAnchor active(this, extTapDeviceAttrId);
          it.del();
        } else {
          ++it;
        }
      }
      again = e->extTapDeviceVersion() != version;
    }
  }
  Kiv::Entity::KivNboAttrLogSa::handleAttrTransaction(a, type, arg);
}

// --- The flow-out and the notifiee adapter

Config::KivNboAttrLogSa::FlowOut::~FlowOut() = default;

Kiv::Ptr<Config::KivNboAttrLogSa::KivNboAttrLogSaAdapter_>
Config::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::KivNboAttrLogSaAdapter_Is(Kiv::Ptr<Config> const& entity,
                                                                          Kiv::Ptr<KivNboAttrLogSa> const& adapter) {
  return make<KivNboAttrLogSaAdapter_>(entity, adapter.ptr());
}

Config::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::~KivNboAttrLogSaAdapter_() = default;

void Config::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::onExtTapDevice(Kiv::String8 key) {
  if (!adapter_) return;
  adapter_->kivLocalChange(extTapDeviceAttrId, key);
  adapter_->onExtTapDevice(key);
}

void Config::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::onComplete() {
  if (!adapter_) return;
  adapter_->kivLocalChange(completeAttrId);
  adapter_->onComplete();
}

}  // namespace Bridging::Orva

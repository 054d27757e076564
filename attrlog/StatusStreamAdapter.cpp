#include "attrlog/StatusStreamAdapter.h"

#include "Kiv/NboAttrLogFlow.h"

namespace Bridging::Orva {

template class AgentEntity<Status>;

// --- The stream adapter

Status::KivNboAttrLogSa::KivNboAttrLogSa(Kiv_BitSet bits, Kiv::Ptr<Status> const& entity, unsigned int arg,
                                         Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::PtrInterface* parent)
    : AgentStreamAdapter(bits, entity, arg, out, parent) {
  kivAttach(entity);
}

Status::KivNboAttrLogSa::~KivNboAttrLogSa() = default;

void Status::KivNboAttrLogSa::freeResyncState(Kiv::Ptr<Kiv::NboAttrLog::FlowOut> const& flowOut) {
  if (flowOut && flowOut->attrId() == fabricDeviceNameAttrId && flowOut->valueIter()) {
    Kiv::kivFlowOutValueDeq<Kiv::String8::IteratorConst>(flowOut);
    // The peer drops a name received in part: a change it carried is
    // still to be written.
    if (static_cast<AgentFlowOut*>(flowOut.ptr())->kivValueChange()) localChangeIs(fabricDeviceNameAttrId, Kiv::String8());
  }
}

void Status::KivNboAttrLogSa::doNotification(Kiv::AttributeId a, void*) {
  switch (a) {
    case Kiv::Attr::isNondestructing: onIsNondestructing(); break;
    case initializedAttrId: onInitialized(); break;
    case fabricDeviceNameAttrId: onFabricDeviceName(); break;
    default: break;
  }
}

void Status::KivNboAttrLogSa::onInitialized() {
  Kiv::Ptr<Status> e = entity();
  if (e) writeBool(initializedAttrId, [&] { return e->initialized(); }, attributes().initialized);
}

void Status::KivNboAttrLogSa::onFabricDeviceName() { kivHandleFabricDeviceNameSerialize(); }

bool Status::KivNboAttrLogSa::kivHandleFabricDeviceNameSerialize() {
  if (silentFor(fabricDeviceNameAttrId)) return false;
  Kiv::ClearIsActiveAnchor clear(this);
  bool sufficient = true;
  Kiv::NboAttrLog::Out* const writer = writerFor(attributes().fabricDeviceName, sufficient);
  if (!writer) return true;
  Kiv::Ptr<Kiv::NboAttrLog::Out> const out(writer);
  Kiv::Ptr<Status> const e = entity();
  bool const scheduled = stateFlag(flagHandlingScheduledFlowOut);
  Kiv::Ptr<AgentFlowOut> fo;
  Kiv::String8::IteratorConst it = e->fabricDeviceName().iterator();
  bool resumed = false;
  if (stateFlag(flagFlowOutOnDemand)) {
    // No flow-out is used, but a string still being written goes on from
    // where it stopped rather than sending its start again, and a newer
    // name waits until it has been finished, or until the abort of an
    // abandoned one has gone out: chunks of two strings must not
    // interleave.
    if (flowOut() && !scheduled && (flowOut()->valueIter() || flowOut()->pendingAborts())) {
      flowOut()->dirtyIs(fabricDeviceNameAttrId, true);
      return false;
    }
    // The running flow-out writes the name as far as the writer has room.
    if (scheduled) fo = flowOut();
  } else {
    fo = flowOut();
    if (fo && !scheduled) {
      // Written by the next scheduled flow-out.
      prepareImmediateTransmission(fabricDeviceNameAttrId, true);
      fo->dirtyIs(fabricDeviceNameAttrId, true);
      return false;
    }
  }
  // Whether the name being written carries a change of this side (told by
  // its first chunk).
  bool change = false;
  if (fo && fo->valueIter()) {
    it = Kiv::kivFlowOutValueDeq<Kiv::String8::IteratorConst>(Kiv::Ptr<Kiv::NboAttrLog::FlowOut>(fo.ptr()));
    change = fo->kivValueChange();
    resumed = true;
  }
  auto save = [&](Kiv::Ptr<AgentFlowOut> const& into) {
    Kiv::kivFlowOutValueEnq(Kiv::Ptr<Kiv::NboAttrLog::FlowOut>(into.ptr()), it);
    into->kivValueChangeIs(change);
    return false;
  };
  auto chunk = [&] {
    bool const first = it.position() == 0;
    bool const carries = recordBegin(out, fabricDeviceNameAttrId, Kiv::String8(), first);
    if (first) change = carries;
    // The peer has the name only once it has its last chunk.
    else if (change) localChangeStillWriting(fabricDeviceNameAttrId, Kiv::String8());
    out << it;
    out << Kiv::Connection::Out::transactEnd;
  };
  bool written = it.position() != 0;
  while (!it.atEnd() || !written) {
    if (fo) {
      if (scheduled && !continueFlowOut()) return save(fo);
      // A writer without a capacity has no limit to exceed.
      if (out->hasCapacity() && out->pending() > out->capacity()) return save(fo);
      chunk();
    } else if (!written && (sufficient || scheduled) &&
               (!out->hasCapacity() || out->capacity() >= immediateChunkCapacity)) {
      chunk();
    } else {
      flowOutOnDemand();
      Kiv::Ptr<AgentFlowOut> made = flowOut();
      made->attrIdIs(fabricDeviceNameAttrId);
      made->dirtyIs(fabricDeviceNameAttrId, true);
      made->outstandingKeysIs(1);
      // A flow-out handed back with an unfinished older string gives it
      // up: this one is newer.
      if (made->valueIter()) Kiv::kivFlowOutValueDeq<Kiv::String8::IteratorConst>(Kiv::Ptr<Kiv::NboAttrLog::FlowOut>(made.ptr()));
      // Nothing written yet: the dirty bit alone says that the name is to
      // go, and only the newest one goes, however often it changes meanwhile.
      if (!written) return false;
      return save(made);
    }
    written = true;
  }
  // A resumed string that the entity no longer holds has been finished;
  // the newest name is still to go.
  return !(resumed && !it.string().dataEquals(e->fabricDeviceName()));
}

Kiv::AttributeId Status::KivNboAttrLogSa::flowOutFrom(Kiv::AttributeId start, Kiv::Ptr<AgentFlowOut> const& fo) {
  if (start == initializedAttrId) {
    if (fo) fo->attrIdIs(initializedAttrId);
    if (fo && fo->dirty(initializedAttrId)) onInitialized();
    if (suspended(fo)) return initializedAttrId;
    if (!continueFlowOut()) return fabricDeviceNameAttrId;
  }
  if (fo) fo->attrIdIs(fabricDeviceNameAttrId);
  bool done = true;
  if (fo && (fo->valueIter() || fo->dirty(fabricDeviceNameAttrId))) {
    done = kivHandleFabricDeviceNameSerialize();
    fo->dirtyIs(fabricDeviceNameAttrId, !done);
  } else if (fo) {
    fo->dirtyIs(fabricDeviceNameAttrId, false);
  }
  return suspended(fo) || !done ? fabricDeviceNameAttrId : 0;
}

bool Status::KivNboAttrLogSa::deserializeAttr(Kiv::AttributeId a, bool apply,
                                              Kiv::Ptr<Kiv::NboAttrLog::In> const& source, unsigned int length,
                                              Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const& flowIn) {
  Kiv::Ptr<Status> e = entity();
  switch (a) {
    case initializedAttrId: {
      bool const v = source->nextbool();
      if (!apply) onInitialized();
      else if (peerValueAccepted(initializedAttrId, Kiv::String8())) e->initializedIs(v);
      return true;
    }
    case fabricDeviceNameAttrId: {
      if (msgChannel()) msgChannel()->modeIs(Kiv::MsgChannel::modeStreaming);
      if (!apply) {
        if (kivNboAttrLogSaAdapter()) kivNboAttrLogSaAdapter()->onFabricDeviceName();
        return true;
      }
      Kiv::String8::Iterator fresh;
      Kiv::String8::Iterator* it = &fresh;
      Kiv::Ptr<Kiv::NboAttrLog::Demuxer> demuxer = streamDemuxer();
      // A name is settled against this side's changes as of its first
      // chunk, when its value was taken.
      auto began = [&](Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const& into) {
        if (demuxer && demuxer->delivering()) into->beganIs(demuxer->deliveredAck(), demuxer->deliveredChange());
      };
      auto applied = [&](Kiv::String8 const& name, Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const& from) {
        bool const take = from ? peerValueAccepted(fabricDeviceNameAttrId, Kiv::String8(), from->ack(), from->change())
                               : peerValueAccepted(fabricDeviceNameAttrId, Kiv::String8());
        if (take) e->fabricDeviceNameIs(name);
      };
      if (flowIn) {
        if (!flowIn->iter()) began(flowIn);
        it = Kiv::kivFlowInIterator<Kiv::String8::Iterator>(flowIn, fabricDeviceNameAttrId, false);
      }
      if (length != 0) {
        Kiv::ConnectionInSizeAnchor chunk(Kiv::Ptr<Kiv::Connection::In>(source.ptr()), length);
        Kiv::Ptr<Kiv::Connection::In>(source.ptr()) >> *it;
      }
      if (!flowIn) {
        if (it->complete()) {
          applied(it->string(), nullptr);
        } else if (demuxer) {
          Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const made = demuxer->flowInIs(entityId());
          began(made);
          Kiv::kivFlowInIteratorIs(made, fabricDeviceNameAttrId, *it);
        }
      } else if (it->complete()) {
        Kiv::String8 const name = it->string();
        Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const hold = flowIn;
        Kiv::kivFlowInIteratorDel(flowIn);
        if (demuxer) demuxer->flowInDel(entityId());
        applied(name, hold);
      }
      return true;
    }
    default: return false;
  }
}

void Status::KivNboAttrLogSa::handleAttrTransaction(Kiv::AttributeId a, AttrTransactionType type, unsigned int arg) {
  Kiv::Ptr<KivNboAttrLogSa> hold(this);
  Kiv::Ptr<Kiv::NboAttrLog::FlowIn> flowIn = kivFlowInTransaction(a, type);
  if (a == fabricDeviceNameAttrId) {
    if (!flowIn || flowIn->aid() != fabricDeviceNameAttrId) return;
    if (type == transactionAbort || type == transactionEnd) {
      // A name received in part is dropped; the old one stays.
      Kiv::kivFlowInIteratorDel(flowIn);
      if (Kiv::Ptr<Kiv::NboAttrLog::Demuxer> demuxer = streamDemuxer()) demuxer->flowInDel(entityId());
    }
  }
  Kiv::Entity::KivNboAttrLogSa::handleAttrTransaction(a, type, arg);
}

// --- The flow-out and the notifiee adapter

Status::KivNboAttrLogSa::FlowOut::~FlowOut() = default;

Kiv::Ptr<Status::KivNboAttrLogSa::KivNboAttrLogSaAdapter_>
Status::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::KivNboAttrLogSaAdapter_Is(Kiv::Ptr<Status> const& entity,
                                                                          Kiv::Ptr<KivNboAttrLogSa> const& adapter) {
  return make<KivNboAttrLogSaAdapter_>(entity, adapter.ptr());
}

Status::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::~KivNboAttrLogSaAdapter_() = default;

void Status::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::onInitialized() {
  if (!adapter_) return;
  adapter_->kivLocalChange(initializedAttrId);
  adapter_->onInitialized();
}

void Status::KivNboAttrLogSa::KivNboAttrLogSaAdapter_::onFabricDeviceName() {
  if (!adapter_) return;
  adapter_->kivLocalChange(fabricDeviceNameAttrId);
  adapter_->onFabricDeviceName();
}

}  // namespace Bridging::Orva

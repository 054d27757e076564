#pragma once
// What the attribute-log stream adapters of the agent model
// (Config::KivNboAttrLogSa, Status::KivNboAttrLogSa) share, written once:
//
// - AgentFlowOut: a flow-out with one dirty bit per replicated attribute
//   (isNondestructing 6: bit 0, attribute 258: bit 1, attribute 259: bit 2);
// - AgentNotifieeAdapter<E, SA>: the observer that an adapter registers
//   with its entity (at the front of its list); it forwards each change to
//   the adapter;
// - AgentStreamAdapter<E, SA>: the adapter's construction and
//   teardown, the outbound guard, write-now-or-defer of boolean
//   attributes, record writing, the scheduled flow-out up to attribute
//   258, and inbound application: its modes, the apply-mode checks,
//   isNondestructing and sync-mode records;
// - the entity's side: finding, attaching and detaching the adapter of a
//   writer (attrLogSa*).
//
// SA, the entity's adapter, adds its attributes: the handlers of its
// attributes 258 and 259, their flow-out steps (flowOutFrom) and their
// inbound records (deserializeAttr).
#include <cstdint>
#include <optional>

#include "Kiv/Dir.h"
#include "Kiv/Exception.h"
#include "Kiv/KivAttr.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/NboAttrLogDemuxer.h"
#include "Kiv/NboAttrLogFlow.h"
#include "Kiv/StreamAdapter.h"
#include "Kiv/Types.h"
#include "agent/AgentEntity.h"

namespace Bridging::Orva {

class BRIDGING_API AgentFlowOut : public Kiv::NboAttrLog::FlowOut {
 public:
  // Every replicated attribute whose id is `start` or more starts dirty.
  AgentFlowOut(Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::Ptr<Kiv::StreamAdapter> const& adapter,
               Kiv::ConnectDesc const& desc, bool flag, Kiv::AttributeId start);
  ~AgentFlowOut() override;
  bool hasDirtyAttributes() const override;

  std::uint32_t kivDirtyBitSet0() const noexcept { return dirty_; }
  // The dirty bit of attribute 6, 258 or 259 (others have none).
  bool dirty(Kiv::AttributeId a) const noexcept { return dirty_ & bitOf(a); }
  void dirtyIs(Kiv::AttributeId a, bool d) noexcept { dirty_ = d ? (dirty_ | bitOf(a)) : (dirty_ & ~bitOf(a)); }
  void kivIsIsNondestructingDirtyIs(bool d) noexcept { dirtyIs(Kiv::Attr::isNondestructing, d); }

  // A change of a collection member was deferred while a resync of the
  // collection was open: the resync may have passed its key already, so
  // the collection is resynchronised once more when this one ends.
  bool kivChangedBehindResync() const noexcept { return changedBehindResync_; }
  void kivChangedBehindResyncIs(bool c) noexcept { changedBehindResync_ = c; }
  // The string whose write stopped at valueIter() carries a change of this
  // side (its first chunk said so).
  bool kivValueChange() const noexcept { return valueChange_; }
  void kivValueChangeIs(bool c) noexcept { valueChange_ = c; }

 private:
  static constexpr std::uint32_t bitOf(Kiv::AttributeId a) noexcept {
    return a == Kiv::Attr::isNondestructing ? 1u : a == 258 ? 2u : a == 259 ? 4u : 0u;
  }
  std::uint32_t dirty_ = 0;
  bool changedBehindResync_ = false;
  bool valueChange_ = false;
};

// E: the entity type; SA: its stream adapter.
template <class E, class SA>
class AgentNotifieeAdapter : public E::Notifiee {
 public:
  // Made counted and switched on, as a stream adapter makes it.
  template <class NA>
  static Kiv::Ptr<NA> make(Kiv::Ptr<E> const& entity, SA* adapter) {
    Kiv::Ptr<NA> na = Kiv::ValidPtr<NA>(Kiv::make<NA>(entity, adapter));
    na->hasNotificationActiveIs(true);
    return na;
  }

  AgentNotifieeAdapter(Kiv::Ptr<E> const& entity, SA* adapter) : adapter_(adapter) {
    Kiv::PtrInterface::NotifieeConst::kivBits().bitIs(Kiv::StreamAdapter::flagWritable, true);
    this->isRegisteredNotifieeIs(true);
    this->notifierIs(entity);
    this->isWeakReferenceIs(true);
  }

  // The stream adapter, uncounted; null once it has let go.
  SA* kivReactorAdapter() const noexcept { return adapter_; }
  void kivReactorAdapterIs(SA* adapter) noexcept { adapter_ = adapter; }
  Kiv::Ptr<Kiv::PtrInterface> kivReactor() const override { return Kiv::Ptr<Kiv::PtrInterface>(adapter_); }
  Kiv::PtrInterface* kivRawReactor() const override { return adapter_; }

  void hasNotificationActiveIs(bool on) override {
    if (on == this->hasNotificationActive()) return;
    auto& bits = Kiv::PtrInterface::NotifieeConst::kivBits();
    this->notificationActiveFlagIs(on);
    if (on) {
      if (bits.bit(Kiv::StreamAdapter::flagSavedRegistration)) this->isRegisteredNotifieeIs(true);
    } else {
      bits.bitIs(Kiv::StreamAdapter::flagSavedRegistration, savedRegistration_ || this->isRegisteredNotifiee());
      savedRegistration_ = false;
      this->isRegisteredNotifieeIs(false);
    }
    if (adapter_ && !this->kivMarkedForDeletion()) adapter_->hasNotificationActiveIs(on);
  }

  void kivDoZombieReactors(bool zombie) {
    if (this->kivMarkedForDeletion() == zombie) return;
    if (this->rawNotifier()) hasNotificationActiveIs(!zombie);
    this->kivMarkedForDeletionIs(zombie);
  }

  // The saved registration byte, cleared by the adapter at construction.
  void kivSavedRegistrationClear() noexcept { savedRegistration_ = false; }

  void onIsNondestructing() override {
    if (!adapter_) return;
    adapter_->kivLocalChange(Kiv::Attr::isNondestructing);
    adapter_->onIsNondestructing();
  }
  void onNotificationException(Kiv::AttributeId id) override {
    if (adapter_) adapter_->Kiv::StreamAdapter::onNotificationException(id);
  }
  void onZeroReferences() override {
    if (adapter_) adapter_->Kiv::StreamAdapter::onZeroReferences();
    hasNotificationActiveIs(false);
  }

 protected:
  SA* adapter_;  // non-owning: the stream adapter owns this observer

 private:
  bool savedRegistration_ = false;
};

// E: the entity type; SA: its stream adapter (derived from this), which
// names its notifiee adapter SA::KivNboAttrLogSaAdapter_.
template <class E, class SA>
class AgentStreamAdapter : public Kiv::Entity::KivNboAttrLogSa {
  using NA = AgentNotifieeAdapter<E, SA>;

 public:
  using FlowOutBase = AgentFlowOut;

  // Makes an adapter and switches its notification on.
  static Kiv::Ptr<SA> KivNboAttrLogSaIs(Kiv_BitSet bits, Kiv::Ptr<E> const& entity, unsigned int arg,
                                        Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::PtrInterface* parent) {
    Kiv::Ptr<SA> sa = Kiv::ValidPtr<SA>(Kiv::make<SA>(bits, entity, arg, out, parent));
    sa->hasNotificationActiveIs(true);
    return sa;
  }

  // The entity is attached by SA's constructor (kivAttach), once SA is
  // what this object is.
  AgentStreamAdapter(Kiv_BitSet bits, Kiv::Ptr<E> const& /*entity*/, unsigned int arg,
                     Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::PtrInterface* parent)
      : Kiv::Entity::KivNboAttrLogSa(bits, arg, out, parent) {}

  ~AgentStreamAdapter() override {
    isWeakReferenceIs(false);
    if (Kiv::Ptr<NA> na = notifieeAdapter_) {
      na->isRegisteredNotifieeIs(false);
      na->notifierIs(nullptr);
      na->kivReactorAdapterIs(nullptr);
      notifieeAdapter_ = nullptr;
    }
  }

  Kiv::Ptr<NA> const& kivNboAttrLogSaAdapter() const noexcept { return notifieeAdapter_; }
  Kiv::Ptr<E> entity() const { return Kiv::Ptr<E>(const_cast<E*>(static_cast<E const*>(rawNotifier()))); }
  // The current flow-out, as this adapter's kind.
  Kiv::Ptr<AgentFlowOut> flowOut() const {
    return Kiv::Ptr<AgentFlowOut>(static_cast<AgentFlowOut*>(Kiv::StreamAdapter::flowOut().ptr()));
  }

  void hasNotificationActiveIs(bool on) override {
    if (on == hasNotificationActive()) return;
    notificationActiveFlagIs(on);
    if (notifieeAdapter_) notifieeAdapter_->hasNotificationActiveIs(on);
  }

  void notifierIs(Kiv::Ptr<Kiv::PtrInterface const> const& entity) override {
    if (notifieeAdapter_) notifieeAdapter_->notifierIs(entity);
    Kiv::PtrInterface::NotifieeConst::notifierIs(entity);
    isRegisteredNotifieeIs(false);
  }

  void kivDoZombieReactors(bool zombie) override {
    if (kivMarkedForDeletion() == zombie) return;
    if (notifieeAdapter_) notifieeAdapter_->kivDoZombieReactors(zombie);
    kivMarkedForDeletionIs(zombie);
  }

  Kiv::Ptr<Kiv::NboAttrLog::FlowOut> flowOutIs(Kiv::Ptr<Kiv::NboAttrLog::Out> const& out,
                                               Kiv::ConnectDesc const& desc, bool flag,
                                               Kiv::AttributeId start) override {
    return Kiv::make<typename SA::FlowOut>(out, Kiv::Ptr<Kiv::StreamAdapter>(this), desc, flag, start);
  }

  // The entity's nondestructing state (attribute 6).
  void onIsNondestructing() {
    Kiv::Ptr<E> e = entity();
    if (e) writeBool(Kiv::Attr::isNondestructing, [&] { return e->isNondestructing(); }, attrs().isNondestructing);
  }

  // A scheduled flow-out: pending aborts, the base attributes, attribute 6,
  // then SA's steps from 258 on.
  Kiv::AttributeId handleAttrFlowOut(Kiv::AttributeId start) override {
    Kiv::Ptr<AgentFlowOut> fo = flowOut();
    HandlingScheduledFlowOutAnchor running(this, static_cast<bool>(fo));
    if (fo) {
      fo->kivDataBitsIs(static_cast<std::uint8_t>(fo->kivDataBits() & ~Kiv::NboAttrLog::FlowOut::suspendBit));
      for (auto it = fo->pendingAbortIterator(); it; ++it) {
        sendTransactionMarker(it.attrId(), transactionAbort, 0);
        fo->pendingAbortDel(it.attrId());
      }
    }
    if (static_cast<std::int32_t>(start) <= 5) {
      if (Kiv::AttributeId const next = Kiv::StreamAdapter::handleAttrFlowOut(start)) return next;
      if (!continueFlowOut()) return Kiv::Attr::isNondestructing;
      start = Kiv::Attr::isNondestructing;
    } else if (start != Kiv::Attr::isNondestructing && start != 258 && start != 259) {
      return 0;
    }
    if (start == Kiv::Attr::isNondestructing) {
      if (fo) fo->attrIdIs(Kiv::Attr::isNondestructing);
      if (fo && fo->dirty(Kiv::Attr::isNondestructing)) onIsNondestructing();
      if (suspended(fo)) return Kiv::Attr::isNondestructing;
      if (!continueFlowOut()) return 258;
      start = 258;
    }
    return self().flowOutFrom(start, fo);
  }

  void handleAttrDeserialization(Kiv::AttributeId a, DeserializationOptions options, unsigned int length,
                                 Kiv::Ptr<Kiv::NboAttrLog::In> const& reader) override {
    Kiv::Ptr<Kiv::NboAttrLog::In> source = reader ? reader : (nboAttrLogOut() ? nboAttrLogOut()->nboIn() : nullptr);
    // Without an entity (a weak adapter's has ended) the record is dropped.
    if (!source || !rawNotifier()) return;
    bool const apply = !reader;
    Kiv::Ptr<SA> hold(&self());
    if (apply) {
      // One record at a time: flag 4 is cleared by the adapter's own
      // handler as soon as the change has been suppressed, so flag 9 marks
      // the whole of the record.
      if (stateFlag(flagActive) || stateFlag(flagApplying)) {
        Kiv::throwInternalException("entity reactor is already active");
      }
    }
    IsActiveAnchorScope active(this, a, apply);
    if (apply && stateFlag(flagRemoteReadOnly) && !readOnlyRemoteOk(a) && !convertedToWritable(false)) {
      Kiv::throwInternalException("write-update from readonly proxy: " + entity()->fullName());
    }
    Kiv::Ptr<Kiv::NboAttrLog::FlowIn> flowIn = streamDemuxer() ? streamDemuxer()->flowIn(entityId()) : nullptr;
    switch (a) {
      case Kiv::Attr::isNondestructing: {
        bool const v = source->nextbool();
        if (!apply) onIsNondestructing();
        else if (peerValueAccepted(a, Kiv::String8())) entity()->isNondestructingIs(v);
        return;
      }
      case Kiv::NboAttrLog::syncModeAttrId:
        syncModeRecord(source);
        return;
      default:
        if (!self().deserializeAttr(a, apply, source, length, flowIn)) {
          doBaseKivNboAttrLogSaMsg(a, options, length, reader);
        }
    }
  }

  void doSerializeOrphan() override { Kiv::StreamAdapter::doSerializeOrphan(); }

  // The notifiee adapter tells of every change of the entity: one that
  // this adapter is not applying itself (flag 4, its echo) was made on this
  // side, and the peer may not overwrite it with a value it resends.
  void kivLocalChange(Kiv::AttributeId a, Kiv::String8 const& key = Kiv::String8()) {
    if (!stateFlag(flagActive) && !stateFlag(flagSilent) && nboAttrLogOut()) localChangeIs(a, key);
  }

 protected:
  // Construction steps 2 to 4: the notifiee adapter, the weak reference,
  // the notifier. Called by SA's constructor.
  void kivAttach(Kiv::Ptr<E> const& entity) {
    using Adapter = typename SA::KivNboAttrLogSaAdapter_;
    Kiv::Ptr<NA> na = Kiv::ValidPtr<Adapter>(Adapter::KivNboAttrLogSaAdapter_Is(entity, Kiv::Ptr<SA>(&self())));
    notifieeAdapter_ = na;
    if (stateFlag(flagWeak)) isWeakReferenceIs(true);
    notifieeAdapter_->kivSavedRegistrationClear();
    notifierIs(entity);
  }

  static auto const& attrs() { return SA::attributes(); }
  SA& self() { return static_cast<SA&>(*this); }
  static bool suspended(Kiv::Ptr<AgentFlowOut> const& fo) { return fo && fo->suspended(); }

  // Outbound guard, steps 1 and 2: true when the adapter writes nothing
  // for this change and leaves flag 4 alone. Only the applied change's own
  // notification, which comes first and finds flag 4 set, is its echo:
  // a change that an observer derives from it, of any key, is written.
  bool silentFor(Kiv::AttributeId) const { return stateFlag(flagSilent); }
  // Steps 3 to 6: the writer when a record may go, else null (the caller
  // clears flag 4). `sufficient` is the writer's answer about its buffer.
  Kiv::NboAttrLog::Out* writerFor(Kiv::Ptr<Kiv::KivAttr> const& descriptor, bool& sufficient) {
    if (!writesOn() || stateFlag(flagActive)) return nullptr;
    Kiv::NboAttrLog::Out* out = nboAttrLogOut().ptr();
    if (!out) return nullptr;
    if (stateFlag(flagReadOnlyProxy) && !convertedToWritable(false)) doThrowReadOnly(descriptor);
    sufficient = out->hasSufficientBuffer();
    return out;
  }

  // Write now or defer, for attribute `a` whose record `write` writes.
  // `keepDirty`: a collection entry, whose write does not clear the dirty
  // bit (it stands for the whole collection).
  template <class Write>
  void writeOrDefer(Kiv::AttributeId a, bool sufficient, bool keepDirty, Write const& write) {
    bool const onDemand = stateFlag(flagFlowOutOnDemand);
    bool const now = onDemand ? stateFlag(flagHandlingScheduledFlowOut) || sufficient
                              : prepareImmediateTransmission(a, !sufficient);
    if (now) {
      // Written completely: a dirty bit for it has done its work.
      if (auto fo = flowOut(); fo && !keepDirty) fo->dirtyIs(a, false);
      write();
      return;
    }
    flowOutOnDemand();
    Kiv::Ptr<AgentFlowOut> fo = flowOut();
    if (onDemand) fo->attrIdIs(a);
    deferInto(fo, a);
  }

  // Marks `a` dirty; a collection change behind an open resync also asks
  // for another one.
  void deferInto(Kiv::Ptr<AgentFlowOut> const& fo, Kiv::AttributeId a) {
    fo->dirtyIs(a, true);
    if (a == 258 && fo->bookmark()) fo->kivChangedBehindResyncIs(true);
  }

  // Writes one boolean attribute, now or deferred.
  template <class Value>
  void writeBool(Kiv::AttributeId a, Value const& value, Kiv::Ptr<Kiv::KivAttr> const& descriptor) {
    if (silentFor(a)) return;
    Kiv::ClearIsActiveAnchor clear(this);
    bool sufficient = true;
    Kiv::NboAttrLog::Out* out = writerFor(descriptor, sufficient);
    if (!out) return;
    writeOrDefer(a, sufficient, false, [&] {
      Kiv::Ptr<Kiv::NboAttrLog::Out> w(out);
      recordBegin(w, a, Kiv::String8());
      w << static_cast<bool>(value()) << Kiv::Connection::Out::transactEnd;
    });
  }

  // A record's header and begin token; `a` is written under `wireId`
  // (a deletion's negated id) when given. The record carries the change
  // of `a` at `key` made on this side, if one is waiting.
  // Returns whether it carries a change.
  bool recordBegin(Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::AttributeId a, Kiv::String8 const& key,
                   bool carriesChange = true, Kiv::AttributeId wireId = 0) {
    bool const change = carriesChange && localChangeWritten(a, key);
    out->nextHeaderIs(Kiv::NboAttrLog::MsgHeader(entityId(), wireId ? wireId : a, true,
                                                 change ? Kiv::NboAttrLog::MsgHeader::changeFlag : 0, 0, false));
    out << Kiv::Connection::Out::transactBegin;
    return change;
  }

  // The first steps of a transaction marker: a resync that begins on an
  // entity without a flow-in makes one for attribute `a`; an end marker
  // for the flow-in's attribute marks it as handling its transaction.
  Kiv::Ptr<Kiv::NboAttrLog::FlowIn> kivFlowInTransaction(Kiv::AttributeId a, AttrTransactionType type) {
    Kiv::Ptr<Kiv::NboAttrLog::Demuxer> demuxer = streamDemuxer();
    if (!demuxer) return nullptr;
    Kiv::Ptr<Kiv::NboAttrLog::FlowIn> flowIn = demuxer->flowIn(entityId());
    if (!stateFlag(flagSilent) && !flowIn && type == transactionBegin) {
      flowIn = demuxer->flowInIs(entityId());
      flowIn->aidIs(a);
    }
    if (flowIn && type == transactionBegin && a == flowIn->aid() && demuxer->delivering()) {
      flowIn->beganIs(demuxer->deliveredAck(), false);
    } else if (flowIn && type == transactionEnd && a == flowIn->aid()) {
      flowIn->handlingTransactionIs(true);
    }
    return flowIn;
  }

  // The sync-mode record (attribute 135): every adapter of this entity id
  // on every connection takes the mode, silently.
  void syncModeRecord(Kiv::Ptr<Kiv::NboAttrLog::In> const& source) {
    SyncMode const mode = SyncModeInstance(source->nextU32());
    Kiv::Ptr<Kiv::Entity> const mine = kivNotifierEntity();
    for (auto it = Kiv::globalNboAttrLogDemuxerManager().nboDemuxerIterator(); it; ++it) {
      Kiv::Ptr<Kiv::StreamAdapter> r = it->reactor(entityId());
      if (!r || r->kivNotifierEntity() != mine || !(entityId() & 1u)) continue;
      r->stateFlagIs(flagSilent, true);
      try {
        r->syncModeIs(mode);
      } catch (...) {
        r->stateFlagIs(flagSilent, false);
        throw;
      }
      r->stateFlagIs(flagSilent, false);
    }
    if (msgChannel()) msgChannel()->modeIs(Kiv::MsgChannel::modeSynced);
    if (mode != syncModeSynced || !mine) return;
    auto* dir = dynamic_cast<Kiv::Dir*>(mine->parent().ptr());
    if (!dir) return;
    stateFlagIs(flagActive, false);
    Kiv::Ptr<Kiv::Dir::Entry> entry = dir->entryRecord(mine->name());
    if (entry && entry->entity() == mine) entry->stateIs(3);
  }

 private:
  // IsActiveAnchor in apply mode, nothing in reassert mode.
  class IsActiveAnchorScope {
   public:
    IsActiveAnchorScope(Kiv::StreamAdapter* adapter, Kiv::AttributeId a, bool on) {
      if (on) anchor_.emplace(adapter, a);
    }

   private:
    std::optional<IsActiveAnchor> anchor_;
  };

  Kiv::Ptr<NA> notifieeAdapter_;
};

// --- The entity's side.

// The adapter of `entity` bound to `out` (null `out`: the first one of a
// live connection with an id that both ends share), or null.
BRIDGING_API Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> attrLogSa(Kiv::Entity const& entity,
                                                             Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out);
// The sibling adapter of `entity` that serves the same message channel as
// `other`, or null.
BRIDGING_API Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> attrLogSaForMsgChannel(
    Kiv::Entity const& entity, Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> const& other);
// Detaches the adapter of `entity` bound to `out` from the connection's
// demultiplexer and returns it, or null.
BRIDGING_API Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> attrLogSaDel(Kiv::Entity& entity,
                                                                Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out);

// Finds or makes the adapter of `entity` for `out`: an adapter of the
// entity's own kind is reused (its notification bits set to `bits`'),
// one of another kind is replaced.
template <class SA, class E>
Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> attrLogSaIs(E& entity, Kiv::Entity::Kiv_BitSet bits, unsigned int arg,
                                                   Kiv::Ptr<Kiv::NboAttrLog::Out> const& out,
                                                   Kiv::PtrInterface* parent) {
  if (!out) Kiv::throwNullValidPtr();
  Kiv::Ptr<Kiv::NboAttrLog::Out const> const key(out.ptr());
  Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> found = attrLogSa(entity, key);
  if (auto* mine = dynamic_cast<SA*>(found.ptr())) {
    unsigned int const mask = Kiv::Entity::Kiv_BitSet::notificationBitMask();
    unsigned int const now = mine->kiv_bitSet().word();
    if ((now & mask) != (bits.word() & mask)) {
      mine->kiv_bitSetIs(Kiv::Entity::Kiv_BitSet((now & ~mask) | (bits.word() & mask)));
    }
    return found;
  }
  if (found) attrLogSaDel(entity, key);
  return Kiv::ValidPtr<Kiv::Entity::KivNboAttrLogSa>(
      SA::KivNboAttrLogSaIs(bits, Kiv::Ptr<E>(&entity), arg, out, parent));
}

}  // namespace Bridging::Orva

namespace Bridging::Orva {

// The entity operations of AgentEntity<E>, instantiated with each adapter.
template <class E>
Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> AgentEntity<E>::kivNboAttrLogSa(
    Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) const {
  return attrLogSa(*this, out);
}

template <class E>
Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> AgentEntity<E>::kivNboAttrLogSa(
    Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) {
  return attrLogSa(*this, out);
}

template <class E>
Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> AgentEntity<E>::kivNboAttrLogSaForMsgChannel(
    Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> const& other) const {
  return attrLogSaForMsgChannel(*this, other);
}

template <class E>
Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> AgentEntity<E>::kivNboAttrLogSaIs(Kiv_BitSet bits, unsigned int arg,
                                                                          Kiv::Ptr<Kiv::NboAttrLog::Out> const& out,
                                                                          Kiv::PtrInterface* parent) {
  return attrLogSaIs<typename E::KivNboAttrLogSa>(static_cast<E&>(*this), bits, arg, out, parent);
}

template <class E>
Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> AgentEntity<E>::kivNboAttrLogSaDel(
    Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) {
  return attrLogSaDel(*this, out);
}

}  // namespace Bridging::Orva

#pragma once
// Stream adapters: the objects that replicate one entity on one
// attribute-log connection (NboAttrLog.h), in both directions.
//
// An adapter observes its entity and turns every change into records for
// its writer; when the writer cannot take them now, it marks the attribute
// dirty in its flow-out, which the writer runs at a later turn of the loop
// (Out::flowOutWaitIs) with the attribute id to resume at. The same adapter
// applies the records that the connection's demultiplexer delivers to it
// under its entity id.
//
// This header holds what every adapter shares: the base classes
// Kiv::StreamAdapter and Kiv::Entity::KivNboAttrLogSa, the flow-out and
// flow-in state (NboAttrLog::FlowOut, NboAttrLog::FlowIn), the adapter's
// state word and its anchors, and message-channel entries. The adapters of
// each entity type derive from Entity::KivNboAttrLogSa.
//
// State word (the notifiee's 27 flags), as the runtime uses it:
//   2  the local entity is a read-only proxy
//   3  the remote side is a read-only proxy
//   4  active: the adapter is applying an inbound record; its own outbound
//      handler, which hears of the change first, writes nothing and clears it
//   5, 8  outbound writes are off
//   6  the adapter is a weak reference of its entity
//   9  applying: set for the whole of an inbound record, so that a second
//      one delivered from inside an observer's call-back is refused
//   13 silent: sync-mode propagation in progress; nothing is written
//   19 the saved registration of a notifiee adapter
//   20 flow-outs are made on demand when a write cannot be made now
//   22 a scheduled flow-out is running (handlers write instead of deferring)
//   26 outbound writes are allowed
//
// Crossing changes. Both ends of a connection change the entity, and their
// records cross on the wire. Every frame tells how many of the receiver's
// frames its sender had received (NboAttrLog.h), and an attribute record
// whether it carries a change of its sender or only resends a value. An
// adapter keeps the changes made on its side (by attribute and key) until
// the peer acknowledges the record that carried them. A peer record of an
// attribute or key that this side changed and the peer had not seen yet
// crossed that change:
//   - a resent value is not applied: this side's change is newer, and it is
//     on its way to the peer (or deferred, and written later);
//   - a crossing change of the peer is applied on the side that did not
//     mount the entity and dropped on the side that did: of two
//     concurrent changes of the same attribute or key, the mounting side's
//     wins on both;
//   - the end of a peer's collection resync does not delete a member that
//     this side changed after the peer's resync began (the resync could not
//     hold it);
//   - on the mounting side, a resync of a collection that this side wrote
//     counts as a change of all of it: a member the peer resent, or the end
//     of a peer's resync begun, before the peer had this side's end marker
//     is older than this side's resync, which the peer takes whole, and is
//     not applied (the peer's own changes in its resync are applied as
//     above).
// Anything else is applied. Once both sides are quiet the two entities are
// equal. After a reconnection the mounting side resends its whole entity,
// so changes made on the other side while disconnected are overwritten.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Entity.h"
#include "Kiv/Export.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/Notifiee.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

class Dir;
class StreamAdapter;

// Message channels: a connection's per-entity constraints. Adapters only
// set the mode of their entry.
class KIV_API MsgChannel {
 public:
  enum Mode : std::uint32_t { modeIdle = 0, modeStreaming = 1, modeSynced = 3 };
  class Constrainer {
   public:
    class KivEntry;
  };
};

class KIV_API MsgChannel::Constrainer::KivEntry : public PtrInterface {
 public:
  Mode mode() const noexcept { return mode_; }
  void modeIs(Mode m) noexcept { mode_ = m; }

 private:
  Mode mode_ = modeIdle;
};

namespace NboAttrLog {

class Demuxer;

// The deferred-write state of one adapter on one writer: which attributes
// still have to go out (the adapters' dirty bits, in derived classes), the
// attribute being flowed out, the position of an unfinished collection
// resync (bookmark) or string write (valueIter), and the abort markers
// still to send.
class KIV_API FlowOut : public PtrInterface {
 public:
  // Bit 4 of the data bits: the runtime asks the flow-out to stop and
  // resume at a later turn.
  static constexpr std::uint8_t suspendBit = 0x10;

  FlowOut(Ptr<Out> const& out, Ptr<StreamAdapter> const& adapter, ConnectDesc const& desc, bool flag,
          AttributeId start);
  ~FlowOut() override;
  // True when something is still to be written. The base has no
  // attributes of its own.
  virtual bool hasDirtyAttributes() const;

  AttributeId attrId() const noexcept { return attrId_; }
  void attrIdIs(AttributeId a) noexcept { attrId_ = a; }
  AttributeId start() const noexcept { return start_; }
  ConnectDesc const& desc() const noexcept { return desc_; }

  // The key at which a collection resync stopped (owned), or null.
  String8 const* bookmark() const noexcept { return bookmark_.get(); }
  void bookmarkIs(std::unique_ptr<String8> key) noexcept { bookmark_ = std::move(key); }
  // The string and position at which a string write stopped, or null.
  String8::IteratorConst const* valueIter() const noexcept { return valueIter_.get(); }
  void valueIterIs(std::unique_ptr<String8::IteratorConst> it) noexcept { valueIter_ = std::move(it); }

  std::uint32_t outstandingKeys() const noexcept { return outstandingKeys_; }
  void outstandingKeysIs(std::uint32_t n) noexcept { outstandingKeys_ = n; }
  std::uint8_t kivDataBits() const noexcept { return dataBits_; }
  void kivDataBitsIs(std::uint8_t bits) noexcept { dataBits_ = bits; }
  bool suspended() const noexcept { return dataBits_ & suspendBit; }

  // Abort markers to send at the start of the next scheduled flow-out, by
  // attribute id.
  class KIV_API PendingAbortIterator {
   public:
    explicit PendingAbortIterator(std::vector<AttributeId> ids) : ids_(std::move(ids)) {}
    explicit operator bool() const noexcept { return at_ < ids_.size(); }
    AttributeId attrId() const { return ids_[at_]; }
    PendingAbortIterator& operator++() noexcept {
      ++at_;
      return *this;
    }

   private:
    std::vector<AttributeId> ids_;
    std::size_t at_ = 0;
  };
  // Walks a snapshot: removing pending aborts meanwhile is safe.
  PendingAbortIterator pendingAbortIterator() const;
  void pendingAbortIs(AttributeId a) { pendingAborts_[a] = true; }
  void pendingAbortDel(AttributeId a) { pendingAborts_.erase(a); }
  std::size_t pendingAborts() const noexcept { return pendingAborts_.size(); }

  // --- The runtime's side.
  // The adapter this flow-out serves; null once the adapter has gone.
  StreamAdapter* adapter() const noexcept { return adapter_; }
  Out* out() const noexcept { return out_; }
  // The attribute id at which the next scheduled call starts.
  AttributeId resumeAt() const noexcept { return resumeAt_; }
  // Scheduled calls so far.
  std::uint64_t runs() const noexcept { return runs_; }

 private:
  friend class Out;
  friend class Demuxer;
  friend class Kiv::StreamAdapter;
  StreamAdapter* adapter_;  // non-owning: the adapter owns its flow-out
  Out* out_;                // non-owning: the adapter holds the writer
  ConnectDesc desc_;
  AttributeId start_;
  AttributeId attrId_ = 0;
  AttributeId resumeAt_ = 0;
  std::unique_ptr<String8> bookmark_;
  std::unique_ptr<String8::IteratorConst> valueIter_;
  std::map<AttributeId, bool> pendingAborts_;
  std::uint64_t runs_ = 0;
  std::uint32_t outstandingKeys_ = 0;
  std::uint32_t recordsThisTurn_ = 0;
  std::uint8_t dataBits_ = 0;
  bool flag_;
  bool queued_ = false;
};

// The inbound partial state of one entity on one demultiplexer: a string
// arriving in chunks, or a collection resync in progress.
class KIV_API FlowIn : public PtrInterface {
 public:
  explicit FlowIn(EntityId id) : entityId_(id) {}
  ~FlowIn() override;

  EntityId entityId() const noexcept { return entityId_; }
  AttributeId aid() const noexcept { return aid_; }
  void aidIs(AttributeId a) noexcept { aid_ = a; }
  // The string received so far (owned), or null.
  String8::Iterator* iter() const noexcept { return iter_.get(); }
  void iterIs(std::unique_ptr<String8::Iterator> it) noexcept { iter_ = std::move(it); }
  bool handlingTransaction() const noexcept { return handlingTransaction_; }
  void handlingTransactionIs(bool h) noexcept { handlingTransaction_ = h; }
  // The acknowledgement and change flag of the frame that began what this
  // flow-in holds (a resync's begin marker, a string's first chunk).
  std::uint64_t ack() const noexcept { return ack_; }
  bool change() const noexcept { return change_; }
  void beganIs(std::uint64_t ack, bool change) noexcept {
    ack_ = ack;
    change_ = change;
  }

 private:
  EntityId entityId_;
  std::uint64_t ack_ = 0;
  bool change_ = false;
  AttributeId aid_ = 0;
  std::unique_ptr<String8::Iterator> iter_;
  bool handlingTransaction_ = false;
};

}  // namespace NboAttrLog

class KIV_API StreamAdapter : public PtrInterface::NotifieeConst {
 public:
  // How far the replication of the entity has come.
  enum SyncMode : std::uint32_t { syncModeNone = 0, syncModeSynced = 1, syncModeResync = 2 };
  // Throws a range exception for a number that is no sync mode.
  static SyncMode SyncModeInstance(std::uint32_t mode);

  // Transaction markers: a resync of an attribute begins (0), is aborted
  // (1) or ends (2).
  using AttrTransactionType = std::uint32_t;
  static constexpr AttrTransactionType transactionBegin = 0;
  static constexpr AttrTransactionType transactionAbort = 1;
  static constexpr AttrTransactionType transactionEnd = 2;
  using DeserializationOptions = std::uint32_t;

  // Positions in the state word (see the header comment).
  enum StateFlag : int {
    flagReadOnlyProxy = 2,
    flagRemoteReadOnly = 3,
    flagActive = 4,
    flagWritesOff5 = 5,
    flagWeak = 6,
    flagWritesOff8 = 8,
    flagApplying = 9,
    flagSilent = 13,
    flagSavedRegistration = 19,
    flagFlowOutOnDemand = 20,
    flagHandlingScheduledFlowOut = 22,
    flagWritable = 26,
  };
  // The state word of a new adapter: writes allowed.
  static Kiv_BitSet defaultBits();

  StreamAdapter(Kiv_BitSet bits, unsigned int arg, Ptr<NboAttrLog::Out> const& out, PtrInterface* parent);
  ~StreamAdapter() override;

  bool stateFlag(int position) const { return kiv_bitSet().bit(position); }
  // Switching writes back on (flags 5, 8, 26) queues the flow-out that
  // waited meanwhile.
  void stateFlagIs(int position, bool value) {
    kivBits().bitIs(position, value);
    if (position == flagWritesOff5 || position == flagWritesOff8 || position == flagWritable) writesSwitched();
  }
  void kiv_bitSetIs(Kiv_BitSet bits) override;
  // Whether flags 5, 8 and 26 let the adapter write. While they do not, its
  // flow-out waits, unscheduled.
  bool writesOn() const {
    return !stateFlag(flagWritesOff5) && !stateFlag(flagWritesOff8) && stateFlag(flagWritable);
  }

  bool isStreamAdapter() const override;

  // --- What the runtime answers.
  Ptr<NboAttrLog::Out> const& nboAttrLogOut() const noexcept { return out_; }
  Ptr<NboAttrLog::FlowOut> const& flowOut() const noexcept { return flowOut_; }
  EntityId entityId() const noexcept { return entityId_; }
  bool entityIdInitialized() const noexcept { return entityIdInitialized_; }
  // An odd entity id: the adapter is registered under it, with the same id
  // on both ends of its connection.
  bool hasUnifiedEntityId() const noexcept { return entityIdInitialized_ && (entityId_ & 1u); }
  SyncMode syncMode() const noexcept { return syncMode_; }
  Ptr<MsgChannel::Constrainer::KivEntry> const& msgChannel() const noexcept { return msgChannel_; }
  unsigned int arg() const noexcept { return arg_; }
  PtrInterface* parent() const noexcept { return parent_; }

  // Whether a scheduled flow-out may go on with its next item: the writer
  // has room.
  bool continueFlowOut() const;
  // Whether a record of attribute `a` may be written now: when the buffer
  // is sufficient, or from inside a scheduled flow-out. Otherwise the
  // adapter's flow-out is made (clean) and queued, and the caller marks
  // the attribute dirty in it.
  bool prepareImmediateTransmission(AttributeId a, bool bufferShort);
  // The adapter's flow-out; one is made clean (start 0x7fffffff) and queued
  // on the writer when there is none.
  Ptr<NboAttrLog::FlowOut> const& flowOutOnDemand();
  // Whether a read-only proxy could be made writable; never here.
  bool convertedToWritable(bool force);
  // Throws the runtime's read-only error for the attribute.
  [[noreturn]] void doThrowReadOnly(Ptr<KivAttr> const& descriptor) const;
  // Whether the remote read-only side may write attribute `a`; none may.
  bool readOnlyRemoteOk(AttributeId a) const;
  // Writes a transaction marker record for attribute `a`.
  // The frame's argument word carries the acknowledgement (NboAttrLog.h):
  // `arg` is sent only by a writer that has no reader.
  void sendTransactionMarker(AttributeId a, AttrTransactionType type, std::uint32_t arg);
  // Sends what has been written so far.
  void doThis();
  // True while this adapter applies an inbound record of attribute `a`.
  bool handlingFlowInFor(AttributeId a) const noexcept { return stateFlag(flagApplying) && applyingAttr_ == a; }

  // --- Crossing changes (see the header comment).
  // A change of attribute `a` (at `key`, for a collection) made on this
  // side, to be written.
  void localChangeIs(AttributeId a, String8 const& key);
  // A record of `a` at `key` is being written as the writer's next frame;
  // true when it carries a change made on this side.
  bool localChangeWritten(AttributeId a, String8 const& key);
  // A further record of the change last written for `a` at `key` (a
  // string's next chunk) is being written: the peer has the change only
  // once it has that record too. A newer change of it stays waiting.
  void localChangeStillWriting(AttributeId a, String8 const& key);
  // Keys of `a` changed on this side and not written since.
  std::vector<String8> localChangesPending(AttributeId a) const;
  // Whether a peer record of `a` at `key`, written when the peer had
  // received `ack` of this side's frames, is applied; `change` is its change
  // flag. An applied record supersedes this side's change.
  bool peerValueAccepted(AttributeId a, String8 const& key, std::uint64_t ack, bool change);
  // The same for the frame being delivered; true when none is.
  bool peerValueAccepted(AttributeId a, String8 const& key);
  // Whether this side mounted the entity (its id is from this side's range).
  bool mountedHere() const;
  std::size_t localChanges() const noexcept { return localChanges_.size(); }

  // Handles the records the type-specific adapter leaves to the base:
  // base attributes (ids up to 5) are read and dropped, an orphan record
  // (136) makes its entity; any other attribute is refused.
  void doBaseKivNboAttrLogSaMsg(AttributeId a, DeserializationOptions options, unsigned int length,
                                Ptr<NboAttrLog::In> const& reader);
  // Reads an orphan record's payload from `reader` and attaches its entity
  // to `demuxer` under the record's entity id: the entity of that name in
  // the demultiplexer's mirror directory when there is one of the type,
  // else a new one made through the type registry.
  static void deserializeOrphan(NboAttrLog::Demuxer& demuxer, Ptr<NboAttrLog::In> const& reader);

  // --- Virtual operations, in the runtime's slot order.
  virtual void handleSyncMode();
  // Writes the base attributes (ids up to 5) from `start` on; returns the
  // id to resume at, 0 when done. The base has none to write.
  virtual AttributeId handleAttrFlowOut(AttributeId start);
  virtual void freeResyncState(Ptr<NboAttrLog::FlowOut> const& flowOut);
  virtual void kivOnInit();
  // Makes the peer replicate the entity: assigns an entity id when there
  // is none, registers with the demultiplexer, writes the orphan record
  // and starts a flow-out from attribute 0.
  virtual void kivInstantiateSerialize();
  virtual Ptr<NboAttrLog::Demuxer> streamDemuxer() const;
  virtual Ptr<Entity const> kivNotifierEntity() const;
  virtual Ptr<Entity> kivNotifierEntity();
  virtual void doSerializeOrphan();
  virtual void handleAttrDeserialization(AttributeId a, DeserializationOptions options, unsigned int length,
                                         Ptr<NboAttrLog::In> const& reader);
  // The base ends a flow-in's transaction: an abort or an end marker for
  // the attribute the flow-in holds removes the flow-in.
  virtual void handleAttrTransaction(AttributeId a, AttrTransactionType type, unsigned int arg);
  virtual void doAssignEntityId();
  virtual Ptr<NboAttrLog::FlowOut> flowOutIs(Ptr<NboAttrLog::Out> const& out, ConnectDesc const& desc, bool flag,
                                             AttributeId start);
  virtual EntityId realEntityId() const;
  virtual void doNotification(AttributeId a, void* arg);
  virtual void entityIdInitializedIs(bool initialized);
  // Stores the mode and, unless silent, tells the peer with a sync-mode
  // record.
  virtual void syncModeIs(SyncMode mode);
  virtual void entityIdIs(EntityId id);
  virtual void streamDemuxerIs(NboAttrLog::Demuxer* demuxer);
  virtual void msgChannelIs(Ptr<MsgChannel::Constrainer::KivEntry> const& entry);
  virtual void kivDoZombieReactors(bool zombie);
  virtual void doRemountSelf(Ptr<NboAttrLog::Out> const& out);

  // The entity is ending (only a weak adapter, which does not count it,
  // hears of this): the adapter lets go of it and drops its flow-out. It
  // stays registered, so that records for the entity's id are read and
  // dropped rather than closing the connection.
  void onZeroReferences() override;

 protected:
  // Sets flag 4 (and flag 9, and the attribute being applied) for a scope;
  // clears flag 4 and restores the others when it ends.
  class KIV_API IsActiveAnchorBase {
   public:
    IsActiveAnchorBase(StreamAdapter* adapter, AttributeId a);
    ~IsActiveAnchorBase();
    IsActiveAnchorBase(IsActiveAnchorBase const&) = delete;
    IsActiveAnchorBase& operator=(IsActiveAnchorBase const&) = delete;

   private:
    Ptr<StreamAdapter> adapter_;
    AttributeId savedAttr_;
    bool savedApplying_;
  };

  // The runtime's records of its own flow-out.
  void kivFlowOutIs(Ptr<NboAttrLog::FlowOut> const& flowOut);

 private:
  friend class NboAttrLog::Demuxer;
  friend class NboAttrLog::Out;

  void writesSwitched();

  // The frame number that carried each change of this side (pending: not
  // written yet), until the peer acknowledges it.
  static constexpr std::uint64_t pending = ~std::uint64_t(0);
  std::map<std::pair<AttributeId, std::string>, std::uint64_t> localChanges_;
  // The same for this side's resyncs of a collection: the frame number of
  // the last one's end marker (pending while it is open).
  std::map<AttributeId, std::uint64_t> localResyncs_;
  std::size_t sweepAt_ = 64;

  Ptr<NboAttrLog::Out> out_;
  Ptr<NboAttrLog::FlowOut> flowOut_;
  Ptr<MsgChannel::Constrainer::KivEntry> msgChannel_;
  NboAttrLog::Demuxer* demuxer_ = nullptr;  // non-owning: the demuxer holds this adapter
  PtrInterface* parent_;                    // non-owning, as given by the creator
  EntityId entityId_ = 0;
  AttributeId applyingAttr_ = 0;
  SyncMode syncMode_ = syncModeNone;
  unsigned int arg_;
  bool entityIdInitialized_ = false;
};

// The base of the stream adapters of entity types.
class KIV_API Entity::KivNboAttrLogSa : public StreamAdapter {
 public:
  using StreamAdapter::StreamAdapter;

  // Flag 4 and the applying state for the length of one inbound record
  // (or one deletion that a resync's end makes).
  class KIV_API IsActiveAnchor : public IsActiveAnchorBase {
   public:
    using IsActiveAnchorBase::IsActiveAnchorBase;
  };
  // Saves flag 22, sets it to `running`, and restores it at the end.
  class KIV_API HandlingScheduledFlowOutAnchor {
   public:
    HandlingScheduledFlowOutAnchor(StreamAdapter* adapter, bool running);
    ~HandlingScheduledFlowOutAnchor();
    HandlingScheduledFlowOutAnchor(HandlingScheduledFlowOutAnchor const&) = delete;
    HandlingScheduledFlowOutAnchor& operator=(HandlingScheduledFlowOutAnchor const&) = delete;

   private:
    StreamAdapter* adapter_;
    bool saved_;
  };
};

// Clears flag 4 of an adapter when the scope ends, however it ends.
class KIV_API ClearIsActiveAnchor {
 public:
  explicit ClearIsActiveAnchor(StreamAdapter* adapter) : adapter_(adapter) {}
  ~ClearIsActiveAnchor() { adapter_->stateFlagIs(StreamAdapter::flagActive, false); }
  ClearIsActiveAnchor(ClearIsActiveAnchor const&) = delete;
  ClearIsActiveAnchor& operator=(ClearIsActiveAnchor const&) = delete;

 private:
  StreamAdapter* adapter_;
};

}  // namespace Kiv

#pragma once
// Config::KivNboAttrLogSa replicates a Bridging::Orva::Config on one
// attribute-log writer: isNondestructing (6), the tap devices (258, a
// deletion under -258) and complete (259). A change is written at once as
// one record when the writer has room, else marked dirty in the adapter's
// flow-out; a dirty collection is resent whole, between resync markers,
// resumable at a bookmarked key. Records from the connection are applied
// through the entity's mutators without being written back.
//
// Attach one with config->kivNboAttrLogSaIs(...), or let a demultiplexer
// mount the entity (Kiv/NboAttrLogDemuxer.h).
#include "Kiv/StreamAdapter.h"
#include "agent/Config.h"
#include "agent/Registration.h"
#include "attrlog/AgentStreamAdapter.h"

namespace Bridging::Orva {

class BRIDGING_API Config::KivNboAttrLogSa : public AgentStreamAdapter<Config, Config::KivNboAttrLogSa> {
 public:
  class FlowOut;
  class KivNboAttrLogSaAdapter_;
  using Attributes = ConfigAttributes;
  static Attributes const& attributes() { return configAttributes(); }

  KivNboAttrLogSa(Kiv_BitSet bits, Kiv::Ptr<Config> const& entity, unsigned int arg,
                  Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::PtrInterface* parent);
  ~KivNboAttrLogSa() override;

  void syncModeIs(SyncMode mode) override;
  void freeResyncState(Kiv::Ptr<Kiv::NboAttrLog::FlowOut> const& flowOut) override;
  // Resync markers of attribute 258 mark every member (begin) and delete
  // the members still marked (end), each deletion announced to the
  // entity's observers and not written back.
  void handleAttrTransaction(Kiv::AttributeId a, AttrTransactionType type, unsigned int arg) override;
  // Replays a notification: 6, 258 and -258 (with the key `arg` points
  // to), 259.
  void doNotification(Kiv::AttributeId a, void* arg) override;

  // Attribute handlers, called by the notifiee adapter.
  void onExtTapDevice(Kiv::String8 key);
  void onComplete();

  // One member's record (a deletion when `deleted`), now or deferred.
  void kivHandleExtTapDeviceSerializeSing(Kiv::String8 key, TapDevice const& value, bool deleted);
  // The whole collection between resync markers, from the bookmark on.
  // True when it has all been written.
  bool kivHandleExtTapDeviceSerializeColl();

  // The scheduled flow-out's steps for 258 and 259.
  Kiv::AttributeId flowOutFrom(Kiv::AttributeId start, Kiv::Ptr<AgentFlowOut> const& fo);
  // Reads and applies (or reasserts) records of 258, -258 and 259.
  bool deserializeAttr(Kiv::AttributeId a, bool apply, Kiv::Ptr<Kiv::NboAttrLog::In> const& source,
                       unsigned int length, Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const& flowIn);

 private:
  void localTransaction();
};

class BRIDGING_API Config::KivNboAttrLogSa::FlowOut : public AgentFlowOut {
 public:
  using AgentFlowOut::AgentFlowOut;
  ~FlowOut() override;
  void kivIsExtTapDeviceDirtyIs(bool d) noexcept { dirtyIs(extTapDeviceAttrId, d); }
  void kivIsCompleteDirtyIs(bool d) noexcept { dirtyIs(completeAttrId, d); }
};

class BRIDGING_API Config::KivNboAttrLogSa::KivNboAttrLogSaAdapter_
    : public AgentNotifieeAdapter<Config, Config::KivNboAttrLogSa> {
 public:
  static Kiv::Ptr<KivNboAttrLogSaAdapter_> KivNboAttrLogSaAdapter_Is(Kiv::Ptr<Config> const& entity,
                                                                     Kiv::Ptr<KivNboAttrLogSa> const& adapter);
  using AgentNotifieeAdapter::AgentNotifieeAdapter;
  ~KivNboAttrLogSaAdapter_() override;

  void onExtTapDevice(Kiv::String8 key) override;
  void onComplete() override;
};

}  // namespace Bridging::Orva

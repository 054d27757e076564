#pragma once
// Status::KivNboAttrLogSa replicates a Bridging::Orva::Status on one
// attribute-log writer: isNondestructing (6), initialized (258) and
// fabricDeviceName (259). The name is written in chunks; a write that the
// writer cannot finish now is resumed by the next scheduled flow-out from
// where it stopped, and a name that arrives in chunks is applied once,
// when its last chunk has come. Otherwise it works as the configuration's
// adapter (attrlog/ConfigStreamAdapter.h).
#include "Kiv/StreamAdapter.h"
#include "agent/Registration.h"
#include "agent/Status.h"
#include "attrlog/AgentStreamAdapter.h"

namespace Bridging::Orva {

class BRIDGING_API Status::KivNboAttrLogSa : public AgentStreamAdapter<Status, Status::KivNboAttrLogSa> {
 public:
  class FlowOut;
  class KivNboAttrLogSaAdapter_;
  using Attributes = StatusAttributes;
  static Attributes const& attributes() { return statusAttributes(); }

  // Writers that report at least this capacity take a name's first chunk
  // at once, outside any flow-out.
  static constexpr std::size_t immediateChunkCapacity = 0xC000;

  KivNboAttrLogSa(Kiv_BitSet bits, Kiv::Ptr<Status> const& entity, unsigned int arg,
                  Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::PtrInterface* parent);
  ~KivNboAttrLogSa() override;

  void freeResyncState(Kiv::Ptr<Kiv::NboAttrLog::FlowOut> const& flowOut) override;
  // An abort or end marker for 259 drops a name received in part.
  void handleAttrTransaction(Kiv::AttributeId a, AttrTransactionType type, unsigned int arg) override;
  void doNotification(Kiv::AttributeId a, void* arg) override;

  // Attribute handlers, called by the notifiee adapter.
  void onInitialized();
  void onFabricDeviceName();

  // Writes the name, in chunks, as far as the writer allows; true when all
  // of it (and the newest name) has been written.
  bool kivHandleFabricDeviceNameSerialize();

  Kiv::AttributeId flowOutFrom(Kiv::AttributeId start, Kiv::Ptr<AgentFlowOut> const& fo);
  bool deserializeAttr(Kiv::AttributeId a, bool apply, Kiv::Ptr<Kiv::NboAttrLog::In> const& source,
                       unsigned int length, Kiv::Ptr<Kiv::NboAttrLog::FlowIn> const& flowIn);
};

class BRIDGING_API Status::KivNboAttrLogSa::FlowOut : public AgentFlowOut {
 public:
  using AgentFlowOut::AgentFlowOut;
  ~FlowOut() override;
  void kivIsInitializedDirtyIs(bool d) noexcept { dirtyIs(initializedAttrId, d); }
  void kivIsFabricDeviceNameDirtyIs(bool d) noexcept { dirtyIs(fabricDeviceNameAttrId, d); }
};

class BRIDGING_API Status::KivNboAttrLogSa::KivNboAttrLogSaAdapter_
    : public AgentNotifieeAdapter<Status, Status::KivNboAttrLogSa> {
 public:
  static Kiv::Ptr<KivNboAttrLogSaAdapter_> KivNboAttrLogSaAdapter_Is(Kiv::Ptr<Status> const& entity,
                                                                     Kiv::Ptr<KivNboAttrLogSa> const& adapter);
  using AgentNotifieeAdapter::AgentNotifieeAdapter;
  ~KivNboAttrLogSaAdapter_() override;

  void onInitialized() override;
  void onFabricDeviceName() override;
};

}  // namespace Bridging::Orva

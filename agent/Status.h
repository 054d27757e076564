#pragma once
// Bridging::Orva::Status is the status entity of the test bridging agent:
// whether the agent has finished its initialization (initialized) and the
// name of the fabric device that it created (fabricDeviceName).
//
// The agent writes it; observers hear of every change through
// Status::NotifieeConst, after the new value has been stored, by the same
// rules as the configuration's observers (agent/Config.h): nothing is
// notified when a value does not change, and attribute-log stream adapters
// hear of a change before every other observer.
//
//   auto status = Bridging::Orva::statusFactory("agentStatus");
//   status->fabricDeviceNameIs("fabric0");   // onFabricDeviceName()
//   status->initializedIs(true);             // onInitialized()
#include "Kiv/Entity.h"
#include "Kiv/Export.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/Ptr.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"
#include "agent/AgentEntity.h"

namespace Bridging::Orva {

class BRIDGING_API Status : public AgentEntity<Status> {
 public:
  class BRIDGING_API NotifieeConst : public AgentNotifieeConst<Status> {
   public:
    virtual void onInitialized();
    virtual void onFabricDeviceName();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Status, NotifieeConst>;

  // The type object and the generic adapter (agent/GenericAdapters.h).
  class _Type;
  class GenericIf_;

  static constexpr Kiv::AttributeId initializedAttrId = 258;
  static constexpr Kiv::AttributeId fabricDeviceNameAttrId = 259;

  // A new status, counted once for the caller.
  static Kiv::Ptr<Status> StatusIs(Kiv::Name name);
  explicit Status(Kiv::Name name);
  ~Status() override;

  // The registered type (agent/Registration.cpp): made on first use,
  // after the agent model's registration has been offered.
  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // The attribute-log stream adapter of this entity type, one per writer
  // that replicates the entity (attrlog/).
  class KivNboAttrLogSa;

  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool initialized);

  Kiv::String8 const& fabricDeviceName() const noexcept { return fabricDeviceName_; }
  // Takes over `name`'s bytes; a name with the same bytes changes nothing.
  void fabricDeviceNameIs(Kiv::String8 name);

 private:
  bool initialized_ = false;
  Kiv::String8 fabricDeviceName_;
};

// The exported factory of status entities: Status::StatusIs(name).
BRIDGING_API Kiv::Ptr<Status> statusFactory(Kiv::Name name);

}  // namespace Bridging::Orva

namespace Kiv {

// Parses the whole of `s` as a reference to a status entity: its full name
// in the string text form, or None for null (Kiv::strepToEntity).
template <>
BRIDGING_API Ptr<Bridging::Orva::Status> strepToValue<Ptr<Bridging::Orva::Status>>(String8 const& s);

}  // namespace Kiv

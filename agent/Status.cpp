#include "agent/Status.h"

#include <utility>

namespace Bridging::Orva {

void Status::NotifieeConst::onInitialized() {}
void Status::NotifieeConst::onFabricDeviceName() {}

Kiv::Ptr<Status> Status::StatusIs(Kiv::Name name) { return Kiv::ValidPtr<Status>(Kiv::make<Status>(name)); }

Status::Status(Kiv::Name name) : AgentEntity<Status>(name) {}

Status::~Status() = default;

Kiv::String8 Status::attributeString(Kiv::AttributeId id) const {
  switch (id) {
    case initializedAttrId: return "initialized";
    case fabricDeviceNameAttrId: return "fabricDeviceName";
    default: return Kiv::Entity::attributeString(id);
  }
}

void Status::initializedIs(bool initialized) {
  if (initialized_ == initialized) return;
  initialized_ = initialized;
  kivNotify(initializedAttrId, &NotifieeConst::onInitialized);
}

void Status::fabricDeviceNameIs(Kiv::String8 name) {
  if (fabricDeviceName_.dataEquals(name)) return;
  fabricDeviceName_ = std::move(name);
  kivNotify(fabricDeviceNameAttrId, &NotifieeConst::onFabricDeviceName);
}

Kiv::Ptr<Status> statusFactory(Kiv::Name name) { return Status::StatusIs(name); }

}  // namespace Bridging::Orva

namespace Kiv {

template <>
Ptr<Bridging::Orva::Status> strepToValue<Ptr<Bridging::Orva::Status>>(String8 const& s) {
  return strepToEntity<Bridging::Orva::Status>(s);
}

}  // namespace Kiv

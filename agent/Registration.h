#pragma once
// The agent model's registration with the runtime's type registry, run
// when the library is loaded (or by the first _fwkType() call, whichever
// comes first, and again on later calls while the registry refuses):
//
//   Bridging::Orva                      namespace
//     Config      : Kiv::Entity         constructor (name: Kiv::Name)
//       TapDevice                       value: 2 name, 3 fileno
//       1 name, 2 parent (inherited), 6 isNondestructing,
//       154 kivHasAttrLogInterface, 258 extTapDevice, 259 complete
//     Status      : Kiv::Entity         constructor (name: Kiv::Name)
//       1 name, 2 parent (inherited), 6 isNondestructing,
//       154 kivHasAttrLogInterface, 258 initialized, 259 fabricDeviceName
//
// The library's ".kiv.type" section starts with the agent model's block of
// type names. The attribute descriptors below are looked up once the types
// are known and kept until the process ends; the attribute-log adapters
// name attributes by them.
#include "Kiv/Export.h"
#include "Kiv/KivAttr.h"
#include "Kiv/Ptr.h"

namespace Bridging::Orva {

// A descriptor is null when the type has no attribute of that name (or
// had not registered yet when it was looked up).
struct ConfigAttributes {
  Kiv::Ptr<Kiv::KivAttr> isNondestructing;
  Kiv::Ptr<Kiv::KivAttr> kivNboAttrLogSaForMsgChannel;
  Kiv::Ptr<Kiv::KivAttr> kivHasAttrLogInterface;
  Kiv::Ptr<Kiv::KivAttr> extTapDevice;
  Kiv::Ptr<Kiv::KivAttr> complete;
};

struct StatusAttributes {
  Kiv::Ptr<Kiv::KivAttr> isNondestructing;
  Kiv::Ptr<Kiv::KivAttr> kivNboAttrLogSaForMsgChannel;
  Kiv::Ptr<Kiv::KivAttr> kivHasAttrLogInterface;
  Kiv::Ptr<Kiv::KivAttr> initialized;
  Kiv::Ptr<Kiv::KivAttr> fabricDeviceName;
};

BRIDGING_API ConfigAttributes const& configAttributes() noexcept;
BRIDGING_API StatusAttributes const& statusAttributes() noexcept;

}  // namespace Bridging::Orva

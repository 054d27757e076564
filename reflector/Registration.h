#pragma once
// The reflector types' registration with the runtime's type registry. It
// runs when the library is loaded, or on the first _fwkType() call of a
// reflector class if that comes first; while the registry refuses
// registrations each _fwkType() call gives the type object without
// attributes and tries again, and the module initializer tries last.
//
//   Bridging                                namespace
//     TopoPortStateReflector                constructor (intfId, topoPortConfig, topoPortStatus,
//                                             brConfig, brStatus, brTopoConfig, topoConfig, clock, fdbClock)
//       130 intfId .. 138 fdbClock          the key and the references
//       139 lastFdbFlush, 145 initialized   state
//       140 handleState .. 144 doAddressTableFlush, 146 handleInitialized
//     TopoStateReflector                    constructor (name, topoConfig, topoStatus,
//                                             brConfig, brStatus, brTopoConfig, clock)
//       130 name .. 136 clock, 144 initialized
//       137 topoPortStateReflector          by intfId
//       138 handleTopoPortConfig, 140 handleTopoPortStatus, 142 handleCollectionChange,
//       143 doSyncPort, 145 handleInitialized
//     StateReflector                        constructor (config, status, brConfig, brStatus, clock)
//       130 config .. 134 clock, 142 initialized
//       135 topoStateReflector              by name
//       136 handleTopoConfig, 138 handleTopoStatus, 140 handleCollectionChange,
//       141 doSyncTopo, 143 handleInitialized
// and, with id 0, kivFwkActivity, fwkKey (not in StateReflector),
// hasNotificationActiveIs and kivDoZombieReactors in every type. The flag
// words are the registry's; this module passes them as they stand.
//
// The module initializer also creates the trace handle
// "RootPathBase::Kiv", and looks up every registered attribute's
// descriptor by name and keeps it until the library is unloaded. The
// library's ".kiv.type" section gets the reflector block of type names,
// after the agent model's.
#include "Kiv/Export.h"
#include "Kiv/KivAttr.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"

namespace Bridging {

// The kept descriptor of attribute `attributeName` of the reflector type
// `qualifiedTypeName` ("Bridging::StateReflector"): null for a name that
// the type does not register, and while the registry has not taken the
// registration.
BRIDGING_API Kiv::Ptr<Kiv::KivAttr> reflectorAttribute(Kiv::String8 const& qualifiedTypeName,
                                                       Kiv::String8 const& attributeName);

}  // namespace Bridging

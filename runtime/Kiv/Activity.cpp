#include "Kiv/Activity.h"

namespace Kiv {

ActivityConfig::~ActivityConfig() = default;

Ptr<KivType> ActivityConfig::_fwkType() {
  // Type objects are nondestructing and live for the whole process.
  static KivType* const type = makeForProcess<KivType>("Kiv::ActivityConfig", KivType::ptrInterfaceType());
  return Ptr<KivType>(type);
}

Ptr<KivType> ActivityConfig::fwkType() const { return _fwkType(); }

}  // namespace Kiv

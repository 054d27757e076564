#include "Kiv/KivType.h"

namespace Kiv {

KivType::KivType(String8 const& name, Ptr<KivType> const& parent) : name_(name), parent_(parent) {
  isNondestructingIs(true);
}

KivType::~KivType() = default;

Ptr<KivType> KivType::ptrInterfaceType() {
  static KivType* const t = new KivType("PtrInterface", nullptr);
  return Ptr<KivType>(t);
}

Ptr<KivType> KivType::entityType() {
  static KivType* const t = new KivType("Entity", ptrInterfaceType());
  return Ptr<KivType>(t);
}

}  // namespace Kiv

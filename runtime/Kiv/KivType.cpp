#include "Kiv/KivType.h"

#include <algorithm>
#include <map>

#include "Kiv/Entity.h"
#include "Kiv/GenericIf.h"

namespace Kiv {

namespace {

// The registry of type nodes. Made on first use, so that libraries'
// static initializers may register in any order.
struct TypeNodes {
  std::map<String8, Ptr<KivType>> byName;
  std::vector<Ptr<KivType>> inOrder;
};
TypeNodes& typeNodes_() {
  static TypeNodes* const nodes = new TypeNodes;
  return *nodes;
}

String8 shortNameOf(String8 const& qualified) {
  std::string s = qualified.stdString();
  auto pos = s.rfind("::");
  return pos == std::string::npos ? qualified : String8(s.substr(pos + 2));
}

}  // namespace

KivType::KivType(String8 const& name, Ptr<KivType> const& nested, Ptr<KivType> const& parent, Flags flags)
    : name_(name), nested_(nested), parent_(parent), flags_(flags) {
  isNondestructingIs(true);
  table_ = make<KivAttr>(name, nullptr, nullptr, nullptr, KivAttrFlags{}, 0);
  table_->ownerIs(this);
}

KivType::KivType(String8 const& qualifiedName, Ptr<KivType> const& parent)
    : KivType(shortNameOf(qualifiedName), nullptr, parent, 0) {
  typeNodeIs(Ptr<KivType>(this), qualifiedName);
}

KivType::~KivType() = default;

bool KivType::isA(KivType const* t) const noexcept {
  for (KivType const* k = this; k; k = k->parent_.ptr())
    if (k == t) return true;
  return false;
}

void KivType::derivedTypeQEnq(Ptr<KivType> const& t) {
  if (std::find(derived_.begin(), derived_.end(), t) == derived_.end()) derived_.push_back(t);
}

void KivType::constructorArgNameQEnq(String8 const& name) { ctorArgs_.push_back(KivAttr::Argument{name, String8()}); }

void KivType::constructorArgTypeQEnq(String8 const& typeName) {
  if (ctorArgs_.empty() || !ctorArgs_.back().typeName.empty()) ctorArgs_.push_back(KivAttr::Argument{String8(), typeName});
  else ctorArgs_.back().typeName = typeName;
}

void KivType::attributeQEnq(Ptr<KivAttr> const& a) {
  a->ownerIs(this);
  table_->attrQEnq(a);
}

void KivType::typeNodeIs(Ptr<KivType> const& type, String8 const& qualifiedName) {
  if (!type) throwNullValidPtr();
  TypeNodes& nodes = typeNodes_();
  auto found = nodes.byName.find(qualifiedName);
  if (found != nodes.byName.end() && found->second == type) return;
  if (found != nodes.byName.end()) {
    auto& v = nodes.inOrder;
    v.erase(std::remove(v.begin(), v.end(), found->second), v.end());
  }
  nodes.byName[qualifiedName] = type;
  nodes.inOrder.push_back(type);
  type->node_ = qualifiedName;
}

Ptr<KivType> KivType::typeNode(String8 const& qualifiedName) {
  TypeNodes& nodes = typeNodes_();
  auto found = nodes.byName.find(qualifiedName);
  return found == nodes.byName.end() ? nullptr : found->second;
}

std::vector<Ptr<KivType>> KivType::typeNodes() { return typeNodes_().inOrder; }

Ptr<GenericIf> KivType::genericIf(PtrInterface* object, bool isConst) {
  if (!object) return nullptr;
  Ptr<KivType> t = object->fwkType();
  if (!t) t = ptrInterfaceType();
  return t->genericIf_(object, isConst);
}

Ptr<GenericIf> KivType::genericIf_(PtrInterface* object, bool isConst) const {
  if (!object) return nullptr;
  if (dynamic_cast<Entity*>(object))
    return make<GenericIfHolder<GenericIfEntity>>(Ptr<PtrInterface>(object), isConst);
  return make<GenericIfHolder<GenericIfPtrInterface>>(Ptr<PtrInterface>(object), isConst);
}

Ptr<GenericIf> KivType::genericIfOfValue(void const*, bool) const {
  GenericIf::throwOpNotSupportedException(qualifiedName(), GenericIf::opGet, false);
}

Ptr<GenericIf> KivType::genericIf(Ptr<GenericIf const> const&, bool) const {
  GenericIf::throwOpNotSupportedException(qualifiedName(), GenericIf::opSet, false);
}

Ptr<GenericIf> KivType::genericIfFromStrep(String8 const&, bool) const {
  GenericIf::throwOpNotSupportedException(qualifiedName(), GenericIf::opSet, false);
}

Ptr<Entity> KivType::newEntity(Name const&, Dir*) const {
  GenericIf::throwOpNotSupportedException(qualifiedName(), GenericIf::opSet, false);
}

Ptr<Entity> KivType::newEntity(Ptr<NboAttrLog::In> const&) const {
  GenericIf::throwOpNotSupportedException(qualifiedName(), GenericIf::opSet, false);
}

Ptr<KivType> KivType::ptrInterfaceType() {
  static KivType* const t = [] {
    auto* type = makeForProcess<KivType>("PtrInterface", nullptr, nullptr, 0);
    typeNodeIs(Ptr<KivType>(type), "Kiv::PtrInterface");
    return type;
  }();
  return Ptr<KivType>(t);
}

Ptr<KivType> KivType::entityType() {
  static KivType* const t = [] {
    auto* type = makeForProcess<KivType>("Entity", nullptr, ptrInterfaceType(), 0);
    Ptr<KivType> self(type);
    type->isEntityIs(true);
    type->hasGenericIfSupportIs(true);
    ptrInterfaceType()->derivedTypeQEnq(self);
    KivAttrFlags flags{0x00200001u, 0x00000400u};
    auto name = make<KivAttr>("name", ValueType<Name>::type(), nullptr, nullptr, flags, Attr::name);
    name->introspectionFlagsIs(KivAttrIntrospectionFlags::isIndependentDomainAttr_());
    type->attributeQEnq(name);
    auto parent = make<KivAttr>("parent", self, nullptr, nullptr, KivAttrFlags{0x08200001u, 0x00000400u}, Attr::parent);
    type->attributeQEnq(parent);
    typeNodeIs(self, "Kiv::Entity");
    return type;
  }();
  return Ptr<KivType>(t);
}

}  // namespace Kiv

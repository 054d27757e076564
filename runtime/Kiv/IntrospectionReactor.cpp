#include "Kiv/IntrospectionReactor.h"

#include "Kiv/Exception.h"

namespace Kiv {

Ptr<IntrospectionReactor> IntrospectionReactor::global() {
  static IntrospectionReactor* const r = [] {
    auto* reactor = makeForProcess<IntrospectionReactor>();
    reactor->isNondestructingIs(true);
    return reactor;
  }();
  return Ptr<IntrospectionReactor>(r);
}

void IntrospectionReactor::requireActive(char const* what) const {
  if (!active_) throwInternalException(String8("introspection reactor takes no registrations: ") + what);
}

String8 IntrospectionReactor::scopeName() const {
  String8 n;
  for (auto const& s : scopes_) n = n.empty() ? s.name : n + "::" + s.name;
  return n;
}

void IntrospectionReactor::handleNameSpace(char const* name) {
  requireActive("handleNameSpace");
  scopes_.push_back(Scope{String8(name), nullptr});
}

void IntrospectionReactor::handleType(Ptr<KivType> const& type, Ptr<KivType> const& parent) {
  requireActive("handleType");
  if (!type) throwNullValidPtr();
  if (parent) {
    type->parentIs(parent);
    parent->derivedTypeQEnq(type);
  }
  scopes_.push_back(Scope{type->name(), type});
  KivType::typeNodeIs(type, scopeName());
}

Ptr<KivAttr> IntrospectionReactor::defNoninstantiatingAttr(Ptr<KivType> const& owner, String8 const& name,
                                                           Ptr<KivType> const& type, Ptr<KivType> const& keyType,
                                                           KivAttrFlags flags, KivAttrIntrospectionFlags introspection,
                                                           AttributeId id) {
  requireActive("defNoninstantiatingAttr");
  if (!owner) throwNullValidPtr();
  auto a = make<KivAttr>(name, type, nullptr, nullptr, flags, id);
  a->keyTypeIs(keyType);
  a->introspectionFlagsIs(introspection);
  owner->attributeQEnq(a);
  taken_.push_back(a);
  return a;
}

void IntrospectionReactor::handleAttr(Ptr<KivAttr> const& attr) {
  requireActive("handleAttr");
  if (attrContext_) throwInternalException("handleAttr inside the context of attribute " + attrContext_->name());
  attrContext_ = attr;
  taken_.push_back(attr);
}

void IntrospectionReactor::handleAttrContextExit() {
  if (!attrContext_) throwInternalException("handleAttrContextExit without an attribute context");
  attrContext_ = nullptr;
}

void IntrospectionReactor::handleScopeExit() {
  if (scopes_.empty()) throwInternalException("handleScopeExit without an open scope");
  if (attrContext_) throwInternalException("scope closed inside the context of attribute " + attrContext_->name());
  scopes_.pop_back();
}

}  // namespace Kiv

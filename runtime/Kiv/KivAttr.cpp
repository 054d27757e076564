#include "Kiv/KivAttr.h"

#include <algorithm>

#include "Kiv/KivType.h"

namespace Kiv {

KivAttr::KivAttr(String8 const& name, Ptr<KivType> const& type, Ptr<KivAttr> const& keyAttr,
                 Ptr<KivAttr> const& second, KivAttrFlags flags, AttributeId id)
    : name_(name), type_(type), keyAttr_(keyAttr), second_(second), flags_(flags), id_(id) {}

KivAttr::~KivAttr() = default;

void KivAttr::argNameQEnq(String8 const& name) { args_.push_back(Argument{name, String8()}); }

void KivAttr::argTypeQEnq(String8 const& typeName) {
  // A type name completes the last argument that has a name but no type.
  if (args_.empty() || !args_.back().typeName.empty()) args_.push_back(Argument{String8(), typeName});
  else args_.back().typeName = typeName;
}

Ptr<KivAttr> KivAttr::copyFor(KivType* owner) const {
  auto c = make<KivAttr>(name_, type_, keyAttr_, second_, flags_, id_);
  c->keyType_ = keyType_;
  c->keyName_ = keyName_;
  c->option_ = option_;
  c->introspection_ = introspection_;
  c->args_ = args_;
  c->owner_ = owner;
  return c;
}

Ptr<KivAttr> KivAttr::attr(String8 const& name) const {
  for (auto const& a : members_)
    if (a->name() == name) return a;
  return nullptr;
}

Ptr<KivAttr> KivAttr::attr(String8 const& name) {
  if (Ptr<KivAttr> a = static_cast<KivAttr const&>(*this).attr(name)) return a;
  auto key = make<KivAttr>(name, nullptr, nullptr, nullptr, KivAttrFlags{}, 0);
  key->owner_ = owner_;
  return key;
}

Ptr<KivAttr> KivAttr::attr(AttributeId id) const {
  for (auto const& a : members_)
    if (a->id() == id && id != 0) return a;
  return nullptr;
}

Ptr<KivAttr> KivAttr::attrIs(String8 const& name, Ptr<KivType> const& type, Ptr<KivAttr> const& keyAttr,
                             Ptr<KivAttr> const& second, KivAttrFlags flags, AttributeId id) {
  auto a = make<KivAttr>(name, type, keyAttr, second, flags, id);
  a->owner_ = owner_;
  return a;
}

void KivAttr::attrDel(String8 const& name) {
  members_.erase(std::remove_if(members_.begin(), members_.end(), [&](Ptr<KivAttr> const& a) { return a->name() == name; }),
                 members_.end());
}

void KivAttr::attrQEnq(Ptr<KivAttr> const& a) {
  for (auto& m : members_)
    if (m->name() == a->name()) {
      m = a;
      return;
    }
  members_.push_back(a);
}

}  // namespace Kiv

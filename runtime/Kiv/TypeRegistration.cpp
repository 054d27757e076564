#include "Kiv/TypeRegistration.h"

#include <vector>

#include "Kiv/Exception.h"

namespace Kiv {

void ModuleRegistration::run() {
  if (done_) return;
  Ptr<IntrospectionReactor> const reactor = IntrospectionReactor::global();
  if (!reactor->hasActiveTarget()) return;
  done_ = true;
  body_(*reactor);
}

void defineAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, AttributeRow const* rows,
                      std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    AttributeRow const& row = rows[i];
    reactor.defNoninstantiatingAttr(owner, row.name, row.type(), row.keyType ? row.keyType() : nullptr, row.flags,
                                    row.introspection, row.id);
  }
}

Ptr<KivAttr> buildAttribute(IntrospectionReactor& reactor, Ptr<KivType> const& owner, BuiltAttribute const& a) {
  if (!owner) throwNullValidPtr();
  Ptr<KivAttr> const table = owner->attrTable();
  table->attrDel(a.name);
  bool const collection = !a.keyName.empty();
  // The non-const look-up: a collection's key attribute, or a detached
  // descriptor of that name while the owner has none yet.
  Ptr<KivAttr> const key = collection ? table->attr(a.keyName) : nullptr;
  Ptr<KivAttr> const attr = table->attrIs(a.name, a.type, key, nullptr, a.flags, a.id);
  if (collection) attr->keyTypeIs(a.keyType);
  for (ArgumentRow const& arg : a.arguments) {
    attr->argNameQEnq(arg.name);
    attr->argTypeQEnq(arg.typeName);
  }
  if (collection) {
    attr->keyNameIs(a.keyName);
    attr->optionIs(false);
  }
  attr->introspectionFlagsIs(a.introspection);
  owner->attributeQEnq(attr);
  reactor.handleAttr(attr);
  reactor.handleAttrContextExit();
  return attr;
}

void inheritAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, KivType const& base) {
  if (!owner) throwNullValidPtr();
  // Walks a copy of the base's list, so that the walk does not depend on
  // the table it adds to (a type may inherit from itself by mistake).
  std::vector<Ptr<KivAttr>> const inherited = base.attrTable()->members();
  for (Ptr<KivAttr> const& a : inherited) {
    Ptr<KivAttr> const copy = a->copyFor(owner.ptr());
    owner->attributeQEnq(copy);
    reactor.handleAttr(copy);
    reactor.handleAttrContextExit();
  }
}

void declareAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, TableAttribute const* rows,
                       std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    TableAttribute const& a = rows[i];
    if (!a.built) {
      defineAttributes(reactor, owner, &a.row, 1);
      continue;
    }
    buildAttribute(
        reactor, owner,
        BuiltAttribute{a.row.name, a.row.type(), a.row.id, a.row.flags, a.row.introspection,
                       std::vector<ArgumentRow>(a.arguments, a.arguments + a.argumentCount),
                       a.keyName ? String8(a.keyName) : String8(), a.row.keyType ? a.row.keyType() : nullptr});
  }
}

void openEntityType(IntrospectionReactor& reactor, Ptr<KivType> const& type, Ptr<KivType> const& base,
                    std::uint32_t size, ArgumentRow const* constructorArguments, std::size_t count) {
  if (!type || !base) throwNullValidPtr();
  reactor.handleType(type, base);
  type->sizeIs(size);
  type->isEntityIs(true);
  type->hasGenericIfSupportIs(true);
  declareConstructorArguments(*type, constructorArguments, count);
  inheritAttributes(reactor, type, *base);
}

void declareConstructorArguments(KivType& type, ArgumentRow const* arguments, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    type.constructorArgNameQEnq(arguments[i].name);
    type.constructorArgTypeQEnq(arguments[i].typeName);
  }
}

void libraryTypeNodeIs(Ptr<KivType> const& type, String8 const& qualifiedName) {
  KivType::typeNodeIs(type, qualifiedName);
  type->isTypeNodeIs(true);
}

}  // namespace Kiv

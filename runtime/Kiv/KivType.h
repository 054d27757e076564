#pragma once
// Kiv::KivType describes a type to the runtime's registry: its short and
// qualified names, its base type and derived types, the size and kind of its
// objects, its constructor arguments and its attribute table. Generic tools
// find types by qualified name (typeNode) and create, wrap and parse
// instances through the type's generic factories.
//
// Type objects are nondestructing and live for the whole process. A library
// defines one subclass per type (its _Type) that overrides the factories
// its type supports; the defaults refuse.
#include <cstdint>
#include <vector>

#include "Kiv/Export.h"
#include "Kiv/KivAttr.h"
#include "Kiv/Name.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

class Dir;
class Entity;
class GenericIf;
namespace NboAttrLog {
class In;
}

class KIV_API KivType : public PtrInterface {
 public:
  using Flags = std::uint32_t;

  // `name` is the short name; the qualified name comes from the type node
  // (typeNodeIs, or the scopes open when the registry takes the type).
  KivType(String8 const& name, Ptr<KivType> const& nested, Ptr<KivType> const& parent, Flags flags);
  // A type of the runtime and its model libraries, known by its qualified
  // name from the start.
  KivType(String8 const& qualifiedName, Ptr<KivType> const& parent);
  ~KivType() override;

  String8 const& name() const noexcept { return name_; }
  // The type node's name, or the short name before the type has one.
  String8 qualifiedName() const { return node_.empty() ? name_ : node_; }
  Ptr<KivType> parent() const { return parent_; }
  void parentIs(Ptr<KivType> const& p) { parent_ = p; }
  Ptr<KivType> nested() const { return nested_; }
  Flags flags() const noexcept { return flags_; }
  // Whether this type is `t` or derives from it.
  bool isA(KivType const* t) const noexcept;

  void derivedTypeQEnq(Ptr<KivType> const& t);
  std::vector<Ptr<KivType>> const& derivedTypes() const noexcept { return derived_; }

  void sizeIs(std::uint32_t s) noexcept { size_ = s; }
  std::uint32_t size() const noexcept { return size_; }
  void isEntityIs(bool e) noexcept { isEntity_ = e; }
  bool isEntity() const noexcept { return isEntity_; }
  void isValueIs(bool v) noexcept { isValue_ = v; }
  bool isValue() const noexcept { return isValue_; }
  void hasGenericIfSupportIs(bool s) noexcept { genericIfSupport_ = s; }
  bool hasGenericIfSupport() const noexcept { return genericIfSupport_; }
  void isTypeNodeIs(bool n) noexcept { typeNodeFlag_ = n; }
  bool isTypeNode() const noexcept { return typeNodeFlag_; }

  void constructorArgNameQEnq(String8 const& name);
  void constructorArgTypeQEnq(String8 const& typeName);
  std::vector<KivAttr::Argument> const& constructorArgs() const noexcept { return ctorArgs_; }

  // The attribute table, in registration order.
  Ptr<KivAttr> attrTable() const { return table_; }
  void attributeQEnq(Ptr<KivAttr> const& a);
  // The attribute of that name or id, or null (the plain look-up).
  Ptr<KivAttr> attr(String8 const& name) const { return static_cast<KivAttr const&>(*table_).attr(name); }
  Ptr<KivAttr> attr(AttributeId id) const { return table_->attr(id); }

  // --- The registry of type nodes.
  // Makes `type` known under `qualifiedName` (replacing an earlier node of
  // that name).
  static void typeNodeIs(Ptr<KivType> const& type, String8 const& qualifiedName);
  static Ptr<KivType> typeNode(String8 const& qualifiedName);
  // Every type node, in the order in which it became one.
  static std::vector<Ptr<KivType>> typeNodes();

  // --- Generic access.
  // An adapter for `object` of this type's family: asks the object's own
  // type (object->fwkType()) to wrap it. Null for a null object.
  static Ptr<GenericIf> genericIf(PtrInterface* object, bool isConst);
  // Wraps an object of this type. The default adapter gives the attributes
  // common to all objects (and to all entities, for entities).
  virtual Ptr<GenericIf> genericIf_(PtrInterface* object, bool isConst) const;
  // Wraps a copy of the value at `value` (value types).
  virtual Ptr<GenericIf> genericIfOfValue(void const* value, bool isConst) const;
  // Makes an instance from an argument list (a GenericIf::List_).
  virtual Ptr<GenericIf> genericIf(Ptr<GenericIf const> const& arguments, bool isConst) const;
  // Makes an instance from its text form.
  virtual Ptr<GenericIf> genericIfFromStrep(String8 const& text, bool isConst) const;
  // Makes a named entity (entity types).
  virtual Ptr<Entity> newEntity(Name const& name, Dir* dir) const;
  // Makes the entity that an attribute-log orphan record describes.
  virtual Ptr<Entity> newEntity(Ptr<NboAttrLog::In> const& in) const;

  // Types of the runtime itself.
  static Ptr<KivType> ptrInterfaceType();
  static Ptr<KivType> entityType();

 private:
  String8 name_;
  String8 node_;
  Ptr<KivType> nested_;
  Ptr<KivType> parent_;
  Flags flags_ = 0;
  std::vector<Ptr<KivType>> derived_;
  std::uint32_t size_ = 0;
  bool isEntity_ = false;
  bool isValue_ = false;
  bool genericIfSupport_ = false;
  bool typeNodeFlag_ = false;
  std::vector<KivAttr::Argument> ctorArgs_;
  Ptr<KivAttr> table_;
};

}  // namespace Kiv

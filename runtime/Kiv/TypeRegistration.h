#pragma once
// The pieces a library's generated registration is made of, written once
// for every module that registers types with the runtime's registry:
//
// - Kiv::ModuleRegistration: a module's registration routine, run to
//   completion at most once per process, and only once the global
//   introspection reactor takes registrations;
// - Kiv::TypeSlot<T>: the type object of one class, behind its _fwkType():
//   made on first use, tried through the module's registration first;
// - attribute tables: "defined" attributes declared from a static table of
//   rows (defineAttributes), "built" ones made and completed step by step
//   (buildAttribute), a base type's attributes inherited by a derived type
//   (inheritAttributes), and constructor arguments;
// - KIV_TYPE_SECTION: the ".kiv.type" section that lists the qualified
//   names of the types a library file defines.
//
// A module, in outline:
//
//   Kiv::ModuleRegistration registration(&registerModule);
//   Kiv::TypeSlot<Status::_Type> statusType(registration, "Status", &Kiv::Entity::_fwkType);
//   Kiv::Ptr<Kiv::KivType> Status::_fwkType() { return statusType.get(); }
//
//   void registerModule(Kiv::IntrospectionReactor& r) {
//     auto status = Status::_fwkType();
//     r.handleNameSpace("Bridging");
//     r.handleType(status, Kiv::Entity::_fwkType());
//     Kiv::defineAttributes(r, status, statusRows);
//     r.handleScopeExit();
//     r.handleScopeExit();
//   }
//
// Both classes have constexpr constructors and no destructor, so module
// objects of them are ready before any static initializer runs, in
// whatever order the initializers of a library run. Everything runs on the
// one activity thread.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "Kiv/Export.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

class KIV_API ModuleRegistration {
 public:
  using Body = void (*)(IntrospectionReactor& reactor);

  constexpr explicit ModuleRegistration(Body body) noexcept : body_(body) {}
  ModuleRegistration(ModuleRegistration const&) = delete;
  ModuleRegistration& operator=(ModuleRegistration const&) = delete;

  // Whether the body has run (or is running).
  bool done() const noexcept { return done_; }

  // Runs the body unless it has run. While the global reactor takes no
  // registrations, returns without marking anything, so that a later call
  // tries again. The flag is set before the body runs: the body obtains the
  // module's type objects, whose _fwkType() calls this again.
  void run();

 private:
  Body body_;
  bool done_ = false;
};

// The type object of one class: an object of TypeClass (the class's _Type,
// a Kiv::KivType with the constructor (short name, nested, base, flags)).
template <class TypeClass>
class TypeSlot {
 public:
  using BaseType = Ptr<KivType> (*)();

  // `base`: the base type's _fwkType() (the entity type for entities), or
  // null for a type without one.
  constexpr TypeSlot(ModuleRegistration& module, char const* shortName, BaseType base = nullptr) noexcept
      : module_(&module), shortName_(shortName), base_(base) {}
  TypeSlot(TypeSlot const&) = delete;
  TypeSlot& operator=(TypeSlot const&) = delete;

  // The type object. Until the module has registered, every call offers
  // the registration first, so that registration happens on the first call
  // after the reactor became ready. A type that the registration did not
  // make is made bare: its short name, its base type, no attributes,
  // nondestructing, and known to its base as a derived type.
  Ptr<KivType> get() {
    if (type_ && module_->done()) return Ptr<KivType>(type_);
    module_->run();
    if (type_) return Ptr<KivType>(type_);
    Ptr<KivType> const base = base_ ? base_() : nullptr;
    // The slot keeps the birth reference: type objects live for the whole
    // process.
    type_ = makeForProcess<TypeClass>(String8(shortName_), nullptr, base, 0);
    type_->isNondestructingIs(true);
    if (base) base->derivedTypeQEnq(Ptr<KivType>(type_));
    return Ptr<KivType>(type_);
  }

 private:
  ModuleRegistration* module_;  // non-owning: a module object of the same library
  char const* shortName_;
  BaseType base_;
  TypeClass* type_ = nullptr;
};

// The helpers below change the owner's attribute table: references into
// its members() list become invalid.
//
// One "defined" attribute: declared with a single defNoninstantiatingAttr
// call. Types are given by their _fwkType(), so that a table can be static.
struct AttributeRow {
  char const* name;
  Ptr<KivType> (*type)();
  Ptr<KivType> (*keyType)();  // null: not a collection
  AttributeId id;
  KivAttrFlags flags;
  KivAttrIntrospectionFlags introspection;
};

// Declares `rows` as attributes of `owner`, in table order. The returned
// attributes are dropped: the owner's table holds them.
KIV_API void defineAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, AttributeRow const* rows,
                              std::size_t count);
template <std::size_t N>
void defineAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, AttributeRow const (&rows)[N]) {
  defineAttributes(reactor, owner, rows, N);
}

// An argument of a function attribute, of a collection's new member or of
// a constructor: its name and its type's qualified name.
struct ArgumentRow {
  char const* name;
  char const* typeName;
};

// One "built" attribute: a function (no key name) or an instantiating
// collection (keyName: the members' key attribute; keyType: its type).
struct BuiltAttribute {
  String8 name;
  Ptr<KivType> type;
  AttributeId id;
  KivAttrFlags flags;
  KivAttrIntrospectionFlags introspection;
  std::vector<ArgumentRow> arguments;
  String8 keyName;
  Ptr<KivType> keyType;
};

// Makes `a` an attribute of `owner`, in the registry's order of steps:
// removes a former attribute of that name from the owner's table; makes
// the attribute (with the owner's key attribute for a collection); for a
// collection sets its key type, declares its members' arguments, sets its
// key name and its option to false; for a function declares its
// arguments; sets the introspection flags; adds it to the owner and hands
// it to the reactor in an attribute context of its own. Returns it.
KIV_API Ptr<KivAttr> buildAttribute(IntrospectionReactor& reactor, Ptr<KivType> const& owner, BuiltAttribute const& a);

// One row of a type's attribute table as a registration lists it: a
// "defined" attribute (declared by one defNoninstantiatingAttr call), or a
// "built" one (a function with arguments, or a collection with its new
// members' arguments and its key name, made by buildAttribute).
struct TableAttribute {
  AttributeRow row;  // for a collection, row.keyType is the key's type
  bool built = false;
  ArgumentRow const* arguments = nullptr;
  std::size_t argumentCount = 0;
  char const* keyName = nullptr;  // collections only
};

// A defined attribute.
constexpr TableAttribute definedAttribute(char const* name, Ptr<KivType> (*type)(), AttributeId id, KivAttrFlags flags,
                                          KivAttrIntrospectionFlags introspection,
                                          Ptr<KivType> (*keyType)() = nullptr) {
  return TableAttribute{{name, type, keyType, id, flags, introspection}};
}

// A built collection of members of type `member`, keyed by their first
// constructor argument `arguments[0]` of type `keyType`.
template <std::size_t N>
constexpr TableAttribute builtCollection(char const* name, Ptr<KivType> (*member)(), Ptr<KivType> (*keyType)(),
                                         AttributeId id, KivAttrFlags flags, KivAttrIntrospectionFlags introspection,
                                         ArgumentRow const (&arguments)[N]) {
  return TableAttribute{{name, member, keyType, id, flags, introspection}, true, arguments, N, arguments[0].name};
}

// Declares `rows` as attributes of `owner`, in table order: each defined
// one by defineAttributes, each built one by buildAttribute.
KIV_API void declareAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, TableAttribute const* rows,
                               std::size_t count);
template <std::size_t N>
void declareAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, TableAttribute const (&rows)[N]) {
  declareAttributes(reactor, owner, rows, N);
}

// Opens the scope of an entity type derived from `base` (the entity type,
// or its own base entity type): its base, size, kind, generic support and
// constructor arguments, and the attributes it inherits from `base`. The
// caller declares its own attributes and closes the scope.
KIV_API void openEntityType(IntrospectionReactor& reactor, Ptr<KivType> const& type, Ptr<KivType> const& base,
                            std::uint32_t size, ArgumentRow const* constructorArguments, std::size_t count);
inline void openEntityType(IntrospectionReactor& reactor, Ptr<KivType> const& type, Ptr<KivType> const& base,
                           std::uint32_t size, std::initializer_list<ArgumentRow> constructorArguments) {
  openEntityType(reactor, type, base, size, constructorArguments.begin(), constructorArguments.size());
}

// Gives `owner` a copy of each attribute of `base`, in the base's table
// order, each handed to the reactor in an attribute context of its own.
KIV_API void inheritAttributes(IntrospectionReactor& reactor, Ptr<KivType> const& owner, KivType const& base);

// Declares the constructor arguments of `type`, each by its name and then
// its type name, in order.
KIV_API void declareConstructorArguments(KivType& type, ArgumentRow const* arguments, std::size_t count);
inline void declareConstructorArguments(KivType& type, std::initializer_list<ArgumentRow> arguments) {
  declareConstructorArguments(type, arguments.begin(), arguments.size());
}

// Makes `type` a type node under `qualifiedName` and sets its node flag,
// which tools read as "defined by a library" (the runtime's own value
// types are type nodes without it).
KIV_API void libraryTypeNodeIs(Ptr<KivType> const& type, String8 const& qualifiedName);

}  // namespace Kiv

// A block of the ".kiv.type" section of a library file: a writable,
// allocated data section, each block 32-byte aligned, that lists the
// qualified names of the library's types as NUL-terminated strings. Blocks
// follow each other in link order. Nothing in the process reads it; it is
// there for tools that look at the file. Use on a char array at namespace
// scope:
//
//   KIV_TYPE_SECTION char typeNames[32] = "A::B\0A::C";
//
// AddressSanitizer must not put redzones around a block, or the blocks
// would no longer lie where their alignment puts them: GCC leaves globals
// in explicit sections alone, Clang is told to.
#if defined(__clang__)
#define KIV_TYPE_SECTION __attribute__((section(".kiv.type"), aligned(32), used, no_sanitize("address")))
#else
#define KIV_TYPE_SECTION __attribute__((section(".kiv.type"), aligned(32), used))
#endif

#pragma once
// Kiv::KivAttr describes one attribute of a registered type: its name, id,
// value type, key type (collections), the two flag words its registration
// passed, its introspection flags and, for functions and instantiating
// collections, its argument names and type names.
//
// The same class serves as a type's attribute table: a type holds one
// KivAttr whose members are the type's attributes in registration order
// (attr(name), attrIs(...), attrDel(name)).
//
// The registry keeps flag words exactly as a registration gave them; only
// the introspection flags carry a meaning here.
#include <cstdint>
#include <utility>
#include <vector>

#include "Kiv/Export.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

class KivType;

// The two flag words of an attribute's registration, kept as given.
struct KivAttrFlags {
  std::uint32_t word0 = 0;
  std::uint32_t word1 = 0;
  friend bool operator==(KivAttrFlags a, KivAttrFlags b) { return a.word0 == b.word0 && a.word1 == b.word1; }
  friend bool operator!=(KivAttrFlags a, KivAttrFlags b) { return !(a == b); }
};

// What generic tools may do with an attribute.
class KivAttrIntrospectionFlags {
 public:
  constexpr KivAttrIntrospectionFlags() noexcept = default;
  constexpr explicit KivAttrIntrospectionFlags(std::uint32_t bits) noexcept : bits_(bits) {}

  // A value of its own, settable independently of other attributes.
  static constexpr KivAttrIntrospectionFlags isIndependentDomainAttr_() noexcept { return KivAttrIntrospectionFlags(1); }
  // A function: reading it calls it.
  static constexpr KivAttrIntrospectionFlags isFunction_() noexcept { return KivAttrIntrospectionFlags(2); }
  // A collection indexed by the members' own key.
  static constexpr KivAttrIntrospectionFlags hasInternalIndex_() noexcept { return KivAttrIntrospectionFlags(4); }

  constexpr std::uint32_t bits() const noexcept { return bits_; }
  constexpr bool has(KivAttrIntrospectionFlags f) const noexcept { return (bits_ & f.bits_) == f.bits_ && f.bits_; }
  friend constexpr KivAttrIntrospectionFlags operator|(KivAttrIntrospectionFlags a, KivAttrIntrospectionFlags b) {
    return KivAttrIntrospectionFlags(a.bits_ | b.bits_);
  }
  friend constexpr bool operator==(KivAttrIntrospectionFlags a, KivAttrIntrospectionFlags b) {
    return a.bits_ == b.bits_;
  }
  friend constexpr bool operator!=(KivAttrIntrospectionFlags a, KivAttrIntrospectionFlags b) {
    return a.bits_ != b.bits_;
  }

 private:
  std::uint32_t bits_ = 0;
};

class KIV_API KivAttr : public PtrInterface {
 public:
  // An argument of a function or of a collection's new member.
  struct Argument {
    String8 name;
    String8 typeName;
  };

  KivAttr(String8 const& name, Ptr<KivType> const& type, Ptr<KivAttr> const& keyAttr, Ptr<KivAttr> const& second,
          KivAttrFlags flags, AttributeId id);
  ~KivAttr() override;

  String8 const& name() const noexcept { return name_; }
  AttributeId id() const noexcept { return id_; }
  Ptr<KivType> type() const { return type_; }
  KivAttrFlags flags() const noexcept { return flags_; }
  Ptr<KivAttr> keyAttr() const { return keyAttr_; }
  Ptr<KivAttr> secondAttr() const { return second_; }

  Ptr<KivType> keyType() const { return keyType_; }
  void keyTypeIs(Ptr<KivType> const& t) { keyType_ = t; }
  String8 const& keyName() const noexcept { return keyName_; }
  void keyNameIs(String8 const& n) { keyName_ = n; }
  // A registration option that collections set to false.
  bool option() const noexcept { return option_; }
  void optionIs(bool o) noexcept { option_ = o; }
  KivAttrIntrospectionFlags introspectionFlags() const noexcept { return introspection_; }
  void introspectionFlagsIs(KivAttrIntrospectionFlags f) noexcept { introspection_ = f; }
  bool isFunction() const noexcept { return introspection_.has(KivAttrIntrospectionFlags::isFunction_()); }
  bool isCollection() const noexcept { return static_cast<bool>(keyType_) || static_cast<bool>(keyAttr_); }

  void argNameQEnq(String8 const& name);
  void argTypeQEnq(String8 const& typeName);
  std::vector<Argument> const& arguments() const noexcept { return args_; }

  // The type whose attribute this is (non-owning: types live for the whole
  // process).
  KivType* owner() const noexcept { return owner_; }
  void ownerIs(KivType* t) noexcept { owner_ = t; }

  // This attribute as inherited by `owner`: the same description, owned by
  // the derived type.
  Ptr<KivAttr> copyFor(KivType* owner) const;

  // --- As an attribute table.
  // The member named `name`, or null.
  Ptr<KivAttr> attr(String8 const& name) const;
  // The key attribute `name` for a collection: the member of that name, or
  // a detached key descriptor of that name when the table has none.
  Ptr<KivAttr> attr(String8 const& name);
  Ptr<KivAttr> attr(AttributeId id) const;
  // A new attribute owned by this table's type; not yet a member.
  Ptr<KivAttr> attrIs(String8 const& name, Ptr<KivType> const& type, Ptr<KivAttr> const& keyAttr,
                      Ptr<KivAttr> const& second, KivAttrFlags flags, AttributeId id);
  // Removes the member named `name`, if there is one.
  void attrDel(String8 const& name);
  // Appends `a`, replacing a member of the same name in its place.
  void attrQEnq(Ptr<KivAttr> const& a);
  std::vector<Ptr<KivAttr>> const& members() const noexcept { return members_; }

 private:
  String8 name_;
  Ptr<KivType> type_;
  Ptr<KivAttr> keyAttr_;
  Ptr<KivAttr> second_;
  KivAttrFlags flags_;
  AttributeId id_;
  Ptr<KivType> keyType_;
  String8 keyName_;
  bool option_ = true;
  KivAttrIntrospectionFlags introspection_;
  std::vector<Argument> args_;
  KivType* owner_ = nullptr;
  std::vector<Ptr<KivAttr>> members_;
};

}  // namespace Kiv

#pragma once
// Kiv::IntrospectionReactor is the process-wide registry's entry point for
// registrations. A library registers its types by walking its scopes:
//
//   auto r = Kiv::IntrospectionReactor::global();
//   if (!r->hasActiveTarget()) return;        // try again later
//   r->handleNameSpace("Bridging");
//   r->handleType(type, nullptr);             // "Bridging::StateReflector"
//   r->defNoninstantiatingAttr(type, "clock", clockType, nullptr, flags, f, 134);
//   r->handleScopeExit();                     // closes the type
//   r->handleScopeExit();                     // closes the namespace
//
// A type taken by handleType becomes a type node under the qualified name of
// the scopes open at that moment. The registry takes registrations from the
// moment libkiv is loaded; hasActiveTargetIs(false) makes it refuse them
// (for tests of a library's retry path).
#include <cstdint>
#include <vector>

#include "Kiv/Export.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"

namespace Kiv {

class KIV_API IntrospectionReactor : public PtrInterface {
 public:
  static Ptr<IntrospectionReactor> global();

  // Whether registrations are taken now.
  bool hasActiveTarget() const noexcept { return active_; }
  void hasActiveTargetIs(bool a) noexcept { active_ = a; }

  void handleNameSpace(char const* name);
  // Opens the scope of `type`, makes it a type node under the qualified
  // name of the open scopes and, when `parent` is given, records the base
  // type.
  void handleType(Ptr<KivType> const& type, Ptr<KivType> const& parent);
  // Makes an attribute of `owner`, adds it to the owner's table and
  // returns it.
  Ptr<KivAttr> defNoninstantiatingAttr(Ptr<KivType> const& owner, String8 const& name, Ptr<KivType> const& type,
                                       Ptr<KivType> const& keyType, KivAttrFlags flags,
                                       KivAttrIntrospectionFlags introspection, AttributeId id);
  // Opens the context of an attribute built step by step; closed by
  // handleAttrContextExit.
  void handleAttr(Ptr<KivAttr> const& attr);
  void handleAttrContextExit();
  // Closes the innermost type or namespace scope.
  void handleScopeExit();

  // The qualified name of the open scopes ("Bridging::Orva::Config").
  String8 scopeName() const;
  // How many scopes are open: 0 after a balanced registration.
  std::size_t openScopes() const noexcept { return scopes_.size(); }
  // Every attribute taken by handleAttr or defNoninstantiatingAttr, in
  // order, for tools that show what a library registered.
  std::vector<Ptr<KivAttr>> const& attributesTaken() const noexcept { return taken_; }

 private:
  struct Scope {
    String8 name;
    Ptr<KivType> type;  // null for a namespace
  };
  void requireActive(char const* what) const;

  bool active_ = true;
  std::vector<Scope> scopes_;
  Ptr<KivAttr> attrContext_;
  std::vector<Ptr<KivAttr>> taken_;
};

}  // namespace Kiv

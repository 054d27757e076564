// kiv-types: shows what a library registers with the runtime's type
// registry, and drives its types through generic access alone.
//
//   kiv-types LIBRARY                       list the types the library registered
//                                           (the type nodes its initializers made)
//   kiv-types LIBRARY TYPE [ARG...] [-- OP...]
//       make an instance of TYPE from its constructor arguments (each given
//       in its text form; an entity as its full name from the root
//       directory, or None) and apply the operations in order:
//         get ATTR            print the attribute's value
//         set ATTR VALUE      set it from its text form
//         call FUNC [ARG...]  call a function attribute (arguments end at the
//                             next operation word or at the end)
//         show                print the instance's text form
//
// The tool knows no class of the library: it finds types by name, builds
// argument lists from the declared argument type names and uses only
// Kiv::KivType and Kiv::GenericIf.
#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "Kiv/Entity.h"
#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "Kiv/Strep.h"

namespace {

using Kiv::GenericIf;
using Kiv::KivType;
using Kiv::Ptr;
using Kiv::String8;

std::string hex(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08x", v);
  return b;
}

std::string introspection(Kiv::KivAttrIntrospectionFlags f) {
  std::string s;
  auto add = [&](Kiv::KivAttrIntrospectionFlags bit, char const* name) {
    if (f.has(bit)) s += (s.empty() ? "" : "|") + std::string(name);
  };
  add(Kiv::KivAttrIntrospectionFlags::isIndependentDomainAttr_(), "independent");
  add(Kiv::KivAttrIntrospectionFlags::isFunction_(), "function");
  add(Kiv::KivAttrIntrospectionFlags::hasInternalIndex_(), "internal-index");
  return s.empty() ? "-" : s;
}

std::string typeName(Ptr<KivType> const& t) { return t ? t->qualifiedName().stdString() : "-"; }

std::string arguments(std::vector<Kiv::KivAttr::Argument> const& args) {
  std::string s;
  for (auto const& a : args) s += (s.empty() ? "" : ", ") + a.name.stdString() + ": " + a.typeName.stdString();
  return "(" + s + ")";
}

void list(std::vector<Ptr<KivType>> const& types) {
  for (auto const& t : types) {
    std::cout << t->qualifiedName() << "  [" << (t->isEntity() ? "entity" : t->isValue() ? "value" : "object")
              << ", size " << t->size() << ", base " << typeName(t->parent()) << "]\n";
    if (!t->constructorArgs().empty()) std::cout << "  constructor " << arguments(t->constructorArgs()) << "\n";
    for (auto const& a : t->attrTable()->members()) {
      std::cout << "  " << a->id() << "\t" << a->name() << " : " << typeName(a->type());
      if (a->keyType()) std::cout << " by " << typeName(a->keyType());
      std::cout << "  flags " << hex(a->flags().word0) << " " << hex(a->flags().word1) << "  "
                << introspection(a->introspectionFlags());
      if (!a->arguments().empty()) std::cout << "  " << arguments(a->arguments());
      std::cout << "\n";
    }
  }
}

// The adapter of the entity that `text` refers to (an entity's full name
// from the root directory, or None for null), which must be of type `t`.
// The tool reads references itself, so that entity types without a text
// factory of their own take them too.
Ptr<GenericIf> parseEntityReference(Ptr<KivType> const& t, String8 const& text) {
  Ptr<Kiv::Entity> const e = Kiv::strepToEntity<Kiv::Entity>(text);
  if (e && !e->fwkType()->isA(t.ptr())) {
    Kiv::throwRangeException("cannot convert " + text + " to " + t->qualifiedName());
  }
  return KivType::genericIf(e.ptr(), false);
}

// A generic value of the type named `typeName`, parsed from `text`.
Ptr<GenericIf> parse(String8 const& typeName, std::string const& text) {
  Ptr<KivType> t = KivType::typeNode(typeName);
  if (!t) Kiv::throwRangeException("unknown type " + typeName);
  if (t->isA(KivType::entityType().ptr())) return parseEntityReference(t, String8(text));
  return t->genericIfFromStrep(String8(text), false);
}

Ptr<Kiv::KivAttr> attributeOf(Ptr<GenericIf> const& g, std::string const& name) {
  Ptr<Kiv::KivAttr> a = g->objectType()->attr(String8(name));
  if (!a) GenericIf::throwUnknownAttrException(String8(name));
  return a;
}

bool isOperation(std::string const& w) { return w == "get" || w == "set" || w == "call" || w == "show"; }

int drive(std::string const& typeNameText, std::vector<std::string> const& args, std::vector<std::string> const& ops) {
  Ptr<KivType> type = KivType::typeNode(String8(typeNameText));
  if (!type) Kiv::throwRangeException("unknown type " + String8(typeNameText));
  auto list = Kiv::make<GenericIf::List_>();
  auto const& declared = type->constructorArgs();
  for (std::size_t i = 0; i < args.size(); ++i) {
    // Arguments beyond the declared ones go in as strings, for the type to refuse.
    String8 tn = i < declared.size() ? declared[i].typeName : String8("Kiv::String");
    list->push(args[i] == "None" ? nullptr : parse(tn, args[i]));
  }
  Ptr<GenericIf> g = type->genericIf(Ptr<GenericIf const>(list), false);
  std::cout << "made " << g->strRep() << "\n";
  for (std::size_t i = 0; i < ops.size();) {
    std::string const& op = ops[i++];
    if (op == "show") {
      std::cout << g->strRep() << "\n";
    } else if (op == "get" && i < ops.size()) {
      auto a = attributeOf(g, ops[i++]);
      Ptr<GenericIf> v = g->attributeOp({a->id(), GenericIf::opGet}, nullptr, nullptr);
      std::cout << a->name() << " = " << (v ? v->strRep() : String8("None")) << "\n";
    } else if (op == "set" && i + 1 < ops.size()) {
      auto a = attributeOf(g, ops[i++]);
      g->attributeOp({a->id(), GenericIf::opSet}, nullptr, parse(a->type()->qualifiedName(), ops[i++]));
      std::cout << "set " << a->name() << "\n";
    } else if (op == "call" && i < ops.size()) {
      auto a = attributeOf(g, ops[i++]);
      auto callArgs = Kiv::make<GenericIf::List_>();
      for (std::size_t k = 0; i < ops.size() && !isOperation(ops[i]); ++k, ++i) {
        String8 tn = k < a->arguments().size() ? a->arguments()[k].typeName : String8("Kiv::String");
        callArgs->push(parse(tn, ops[i]));
      }
      Ptr<GenericIf> r = g->attributeOp({a->id(), GenericIf::opGet}, Ptr<GenericIf const>(callArgs), nullptr);
      std::cout << "called " << a->name() << (r ? " -> " + r->strRep().stdString() : std::string()) << "\n";
    } else {
      std::cerr << "kiv-types: bad operation near '" << op << "'\n";
      return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: kiv-types LIBRARY [TYPE [ARG...] [-- OP...]]\n";
    return 2;
  }
  std::set<KivType*> before;
  for (auto const& t : KivType::typeNodes()) before.insert(t.ptr());
  if (!dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL)) {
    std::cerr << "kiv-types: " << dlerror() << "\n";
    return 1;
  }
  try {
    if (argc == 2) {
      std::vector<Ptr<KivType>> added;
      for (auto const& t : KivType::typeNodes())
        if (!before.count(t.ptr()) && t->isTypeNode()) added.push_back(t);
      list(added);
      return 0;
    }
    std::vector<std::string> args, ops;
    bool inOps = false;
    for (int i = 3; i < argc; ++i) {
      std::string w = argv[i];
      if (!inOps && w == "--") inOps = true;
      else (inOps ? ops : args).push_back(w);
    }
    return drive(argv[2], args, ops);
  } catch (Kiv::Exception const& e) {
    std::cerr << "kiv-types: " << e.what() << "\n";
    return 1;
  }
}

#pragma once
// A registered type's attributes as text, one line each in registration
// order, for tests that compare a registration with the expected one:
//   "id name : type[ by keyType] word0 word1 introspection[ (arguments)]"
// with the two flag words in hex, the introspection flags as their bits
// (1 independent, 2 function, 4 internal index) and, for a built attribute,
// its arguments as "name: type, ...".
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"

namespace TestSupport {

// "name: type, ..." of an argument list.
inline std::string argumentText(std::vector<Kiv::KivAttr::Argument> const& arguments) {
  std::string r;
  for (auto const& a : arguments) r += (r.empty() ? "" : ", ") + a.name.stdString() + ": " + a.typeName.stdString();
  return r;
}

// Also checks that every attribute names `t` as its owner.
inline std::vector<std::string> attributeLines(Kiv::Ptr<Kiv::KivType> const& t) {
  auto const name = [](Kiv::Ptr<Kiv::KivType> const& type) { return type ? type->qualifiedName().stdString() : "-"; };
  std::vector<std::string> lines;
  for (auto const& a : t->attrTable()->members()) {
    char flags[40];
    std::snprintf(flags, sizeof flags, " %08x %08x %u", a->flags().word0, a->flags().word1,
                  a->introspectionFlags().bits());
    std::string const arguments = argumentText(a->arguments());
    lines.push_back(std::to_string(a->id()) + " " + a->name().stdString() + " : " + name(a->type()) +
                    (a->keyType() ? " by " + name(a->keyType()) : std::string()) + flags +
                    (arguments.empty() ? std::string() : " (" + arguments + ")"));
    EXPECT_EQ(a->owner(), t.ptr()) << lines.back();
  }
  return lines;
}

}  // namespace TestSupport

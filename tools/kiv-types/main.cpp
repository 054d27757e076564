// kiv-types: shows what a library registers with the runtime's type
// registry, and drives its types through generic access alone. `kiv-types
// --help` tells how to use it.
//
// The tool knows no class of the library: it finds types by name, builds
// argument lists from the declared argument type names and uses only
// Kiv::KivType and Kiv::GenericIf. Every failure is reported in the words of
// the command line: the argument, attribute, key or value at fault.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Entity.h"
#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "Kiv/Strep.h"

namespace {

using Kiv::GenericIf;
using Kiv::KivAttr;
using Kiv::KivType;
using Kiv::Ptr;
using Kiv::String8;

char const* const help = R"help(usage: kiv-types LIBRARY
       kiv-types LIBRARY TYPE [ARG...] [-- OP...]
       kiv-types --lua LIBRARY
       kiv-types --help

Loads LIBRARY and shows the types it registers with the runtime's type
registry, or makes an instance of TYPE and applies operations to it through
generic access. LIBRARY is a path to a shared library (one with a '/'), or a
file name looked for first beside the libraries this kiv-types came with
(the lib folder of its installation, or its build folder), then as the
dynamic loader finds it; so libBridgingTestSupport.so is the product
installed or built with this kiv-types.

kiv-types LIBRARY
  Lists every type the library registers. Per type:
    TYPE  [KIND, size N, base BASE]
        KIND is entity (a named object in the entity tree), value (a plain
        value) or object; N is the size of an instance in bytes; BASE is the
        registered base type, - for none.
    constructor (ARG: TYPE, ...)
        the arguments that make an instance, in order.
  and per attribute, one line:
    ID  NAME : TYPE [by KEYTYPE]  flags WORD0 WORD1  USE [(ARG: TYPE, ...)]
        ID       the attribute id;
        by       a collection attribute whose members are found by a key of
                 type KEYTYPE;
        flags    the two flag words of the type's registration, in hex, as
                 the library passed them (the runtime keeps them and gives
                 them no meaning of its own);
        USE      what generic access may do with it: independent (a value of
                 its own, settable independently of the others), function
                 (reading it calls it, with the arguments listed after it),
                 internal-index (a collection whose members hold their own
                 key), or - for none of these.

kiv-types --lua LIBRARY
  The same types as a Lua table (the build makes the Wireshark dissector's
  attribute names from it): per type its kind and its attributes, each with
  id, name, type, key (a collection's key type) and func (a function);
  framework attributes of id 0 are left out, a value type's fields are in
  the order its values are written.

kiv-types LIBRARY TYPE [ARG...] [-- OP...]
  Makes an instance of TYPE from its constructor arguments, prints
  "made VALUE" and applies the operations in order:
    get ATTR              print the attribute's value ("ATTR = VALUE")
    get ATTR KEY          print the member of a collection attribute
    list ATTR             print every member of a collection attribute, in
                          the collection's order
    set ATTR VALUE        set the attribute
    set ATTR KEY VALUE    add or change the member of a collection attribute
    call FUNC [ARG...]    call a function attribute; its arguments end at the
                          next operation word or at the end
    show                  print the instance's text form

Values, keys and arguments are written in their text form (one shell word
each, so quote them for the shell too):
    strings      single-quoted: 'eth1'; inside, \' \\ \n \t \r and \xNN
    bool         True or False
    numbers      decimal: 5, -1, 0.25; a number outside its type's range is
                 refused, alone or as a field of a record (unsigned short
                 holds 0 to 65535, unsigned int 0 to 4294967295, int
                 -2147483648 to 2147483647)
    interfaces   as strings: 'Ethernet1'
    entities     the full name from the root directory, quoted: 'topoConfig'
    None         a null reference
    records      as the listing of the value prints them, for example
                 "Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tap1', 'fileno': 5})"

Examples:
    kiv-types libBridgingTestSupport.so
    kiv-types libBridgingTestSupport.so Bridging::Orva::Config "'c1'" -- \
      set extTapDevice "'eth1'" "Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tap1', 'fileno': 5})" \
      get extTapDevice "'eth1'" list extTapDevice set complete True get complete
    kiv-types libBridgingTestSupport.so Bridging::TopoStateReflector "'t1'" \
      None None None None None None -- get name get initialized

Exit status: 0 on success, 1 when the library, a type, an argument or an
operation fails, 2 for a malformed command line.
)help";

// A failure in the terms of the command line; `status` is the exit status.
struct Failure : std::runtime_error {
  Failure(std::string const& message, int status = 1) : std::runtime_error(message), status(status) {}
  int status;
};

std::string hex(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08x", v);
  return b;
}

std::string use(Kiv::KivAttrIntrospectionFlags f) {
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

std::string arguments(std::vector<KivAttr::Argument> const& args) {
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
                << use(a->introspectionFlags());
      if (!a->arguments().empty()) std::cout << "  " << arguments(a->arguments());
      std::cout << "\n";
    }
  }
}

std::string luaString(String8 const& s) {
  std::string q = "\"";
  for (char c : s.stdString()) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

// The types as a Lua table, for tools that decode attribute-log captures
// without the registry (the Wireshark dissector): per type its kind and,
// by id, each attribute's name, type and key type, function attributes
// marked; a value type's fields in the order its values are written.
void listLua(std::vector<Ptr<KivType>> const& types, char const* library) {
  std::cout << "-- The types " << library << " registers, by kiv-types --lua.\n{\n";
  for (auto const& t : types) {
    std::cout << "  [" << luaString(t->qualifiedName()) << "] = {\n    kind = "
              << (t->isEntity() ? "\"entity\"" : t->isValue() ? "\"value\"" : "\"object\"") << ",\n";
    std::cout << "    attributes = {\n";
    for (auto const& a : t->attrTable()->members()) {
      if (!a->id() && !t->isValue()) continue;  // framework attributes, never on the wire
      std::cout << "      { id = " << a->id() << ", name = " << luaString(a->name())
                << ", type = " << luaString(String8(typeName(a->type())));
      if (a->keyType()) std::cout << ", key = " << luaString(a->keyType()->qualifiedName());
      if (a->isFunction()) std::cout << ", func = true";
      std::cout << " },\n";
    }
    std::cout << "    },\n  },\n";
  }
  std::cout << "}\n";
}

// The adapter of the entity that `text` refers to (an entity's full name
// from the root directory, or None for null), which must be of type `t`.
// The tool reads references itself, so that entity types without a text
// factory of their own take them too.
Ptr<GenericIf> parseEntityReference(Ptr<KivType> const& t, String8 const& text) {
  Ptr<Kiv::Entity> const e = Kiv::strepToEntity<Kiv::Entity>(text);
  if (e && !e->fwkType()->isA(t.ptr())) {
    Kiv::throwRangeException(text + " is a " + e->fwkType()->qualifiedName());
  }
  return KivType::genericIf(e.ptr(), false);
}

// The registered integer types' ranges. One rule holds for every number on
// the command line: a number outside its type's range is refused, whether
// it is a value of its own or a field of a record value (the types' own
// text readers may keep only the low bits of a field).
struct IntegerRange {
  char const* type;
  char const* min;  // decimal magnitudes, so that no number overflows
  char const* max;
  bool negative;    // whether min is below zero
};
constexpr IntegerRange integerRanges[] = {
    {"unsigned short", "0", "65535", false},
    {"unsigned int", "0", "4294967295", false},
    {"unsigned long long", "0", "18446744073709551615", false},
    {"int", "2147483648", "2147483647", true},
    {"long long", "9223372036854775808", "9223372036854775807", true},
};

IntegerRange const* integerRange(Ptr<KivType> const& t) {
  if (!t) return nullptr;
  for (auto const& r : integerRanges)
    if (t->qualifiedName() == String8(r.type)) return &r;
  return nullptr;
}

bool isInteger(std::string const& n) {
  std::size_t const digits = n.size() - (!n.empty() && n[0] == '-');
  return digits > 0 && n.find_first_not_of("0123456789", n.size() - digits) == std::string::npos;
}

// Whether the decimal integer `n` lies in `r`, compared digit by digit.
bool fits(std::string const& n, IntegerRange const& r) {
  bool const negative = n[0] == '-';
  std::string magnitude = n.substr(negative);
  magnitude.erase(0, std::min(magnitude.find_first_not_of('0'), magnitude.size()));
  if (magnitude.empty()) return true;
  if (negative && !r.negative) return false;
  std::string const bound = negative ? r.min : r.max;
  return magnitude.size() != bound.size() ? magnitude.size() < bound.size() : magnitude <= bound;
}

std::string rangeText(IntegerRange const& r) {
  return std::string(r.type) + " holds " + (r.negative ? "-" : "") + r.min + " to " + r.max;
}

// The integers that `text` gives the fields of a record value, by field
// name: each `'field': N` outside the record's quoted strings.
std::vector<std::pair<std::string, std::string>> fieldNumbers(std::string const& text) {
  std::vector<std::pair<std::string, std::string>> found;
  std::string lastString;
  for (std::size_t i = 0; i < text.size();) {
    char const c = text[i];
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      for (; j < text.size() && text[j] != c; ++j)
        if (text[j] == '\\') ++j;
      lastString = text.substr(i + 1, j - i - 1);
      i = j + 1;
      std::size_t k = text.find_first_not_of(' ', i);
      if (k == std::string::npos || text[k] != ':') continue;
      k = text.find_first_not_of(' ', k + 1);
      if (k == std::string::npos) continue;
      std::size_t const end = text.find_first_not_of("-0123456789", k);
      std::string const number = text.substr(k, end == std::string::npos ? std::string::npos : end - k);
      if (isInteger(number)) found.emplace_back(lastString, number);
      continue;
    }
    ++i;
  }
  return found;
}

// Refuses a number of `text` that does not fit its type: `text` itself for
// an integer type, a field's number for a record value.
void checkRanges(Ptr<KivType> const& t, std::string const& text, std::string const& what) {
  if (IntegerRange const* r = integerRange(t)) {
    if (isInteger(text) && !fits(text, *r)) throw Failure(what + ": " + text + " is out of range: " + rangeText(*r));
    return;
  }
  if (!t->isValue() || !t->attrTable()) return;
  for (auto const& [field, number] : fieldNumbers(text)) {
    Ptr<KivAttr> const a = t->attr(String8(field));
    IntegerRange const* r = a && !a->isFunction() ? integerRange(a->type()) : nullptr;
    if (r && !fits(number, *r))
      throw Failure(what + ": " + field + " " + number + " is out of range: " + rangeText(*r));
  }
}

// A generic value of the type named `typeName`, read from `text`; `what`
// names the word on the command line ("argument name", "value of complete").
// None is a null reference.
Ptr<GenericIf> parse(String8 const& typeName, std::string const& text, std::string const& what) {
  if (text == "None") return nullptr;
  Ptr<KivType> t = KivType::typeNode(typeName);
  if (!t) throw Failure(what + " has the unknown type " + typeName.stdString());
  checkRanges(t, text, what);
  try {
    if (t->isA(KivType::entityType().ptr())) return parseEntityReference(t, String8(text));
    return t->genericIfFromStrep(String8(text), false);
  } catch (Kiv::Exception const& e) {
    throw Failure(what + ": cannot read " + text + " as " + typeName.stdString() + ": " + e.what());
  }
}

// The operations of the command line, word by word.
class Driver {
 public:
  Driver(Ptr<GenericIf> g, std::vector<std::string> words) : g_(std::move(g)), words_(std::move(words)) {}

  void run() {
    while (at_ < words_.size()) {
      std::string const op = words_[at_++];
      if (op == "show") {
        std::cout << g_->strRep() << "\n";
      } else if (op == "get") {
        get(attribute(op));
      } else if (op == "list") {
        listMembers(attribute(op));
      } else if (op == "set") {
        set(attribute(op));
      } else if (op == "call") {
        call(attribute(op));
      } else {
        throw Failure("unknown operation '" + op + "' (get, list, set, call, show; see kiv-types --help)", 2);
      }
    }
  }

  static bool isOperation(std::string const& w) {
    return w == "get" || w == "list" || w == "set" || w == "call" || w == "show";
  }

 private:
  std::string word(std::string const& op, char const* what) {
    if (at_ >= words_.size()) throw Failure("'" + op + "' lacks its " + what + " (see kiv-types --help)", 2);
    return words_[at_++];
  }

  Ptr<KivAttr> attribute(std::string const& op) {
    std::string const name = word(op, "attribute");
    Ptr<KivAttr> a = g_->objectType()->attr(String8(name));
    if (!a) throw Failure(g_->objectType()->qualifiedName().stdString() + " has no attribute " + name);
    return a;
  }

  // Applies one generic operation; a failure names the attribute (and the
  // member's key).
  Ptr<GenericIf> apply(Ptr<KivAttr> const& a, std::uint32_t code, Ptr<GenericIf const> const& index,
                       Ptr<GenericIf> const& value, std::string const& subject) {
    try {
      return g_->attributeOp({a->id(), code}, index, value);
    } catch (GenericIf::Error const& e) {
      if (GenericIf::isModifying(code) &&
          (e.hasId(Kiv::ExceptionId::opNotSupported) || e.hasId(Kiv::ExceptionId::constInstance)))
        throw Failure(subject + " is read-only");
      throw Failure(subject + ": " + e.what());
    } catch (Kiv::Exception const& e) {
      throw Failure(subject + ": " + e.what());
    }
  }

  static std::string text(Ptr<GenericIf> const& v) { return v ? v->strRep().stdString() : "None"; }
  static std::string name(Ptr<KivAttr> const& a) { return a->name().stdString(); }

  // The key word of a collection operation, read as the collection's key
  // type, and "attr[key]" for messages and output.
  Ptr<GenericIf> key(std::string const& op, Ptr<KivAttr> const& a, std::string& subject) {
    std::string const k = word(op, "key");
    Ptr<GenericIf> index = parse(a->keyType()->qualifiedName(), k, "key of " + name(a));
    subject = name(a) + "[" + text(index) + "]";
    return index;
  }

  void get(Ptr<KivAttr> const& a) {
    if (!a->isCollection()) {
      std::cout << name(a) << " = " << text(apply(a, GenericIf::opGet, nullptr, nullptr, name(a))) << "\n";
      return;
    }
    if (at_ >= words_.size() || isOperation(words_[at_]))
      throw Failure(name(a) + " is a collection: get " + name(a) + " KEY reads a member, list " + name(a) +
                    " lists them");
    std::string subject;
    Ptr<GenericIf> index = key("get", a, subject);
    Ptr<GenericIf> exists = apply(a, GenericIf::opExists, Ptr<GenericIf const>(index), nullptr, subject);
    if (!Kiv::Builtin<bool>::valueOf(exists).value_or(false)) throw Failure(name(a) + " has no member " + text(index));
    std::cout << subject << " = " << text(apply(a, GenericIf::opGet, Ptr<GenericIf const>(index), nullptr, subject))
              << "\n";
  }

  void listMembers(Ptr<KivAttr> const& a) {
    if (!a->isCollection()) throw Failure(name(a) + " is not a collection: get " + name(a) + " reads it");
    std::size_t members = 0;
    try {
      for (Kiv::GenericIterator it(g_->attributeIteratorConst(a->id())); it.nonNull(); ++it, ++members) {
        Ptr<GenericIf const> member = it.obj();
        std::cout << name(a) << "[" << text(it.key()) << "] = " << (member ? member->strRep() : String8("None"))
                  << "\n";
      }
    } catch (Kiv::Exception const& e) {
      throw Failure(name(a) + ": " + e.what());
    }
    if (!members) std::cout << name(a) << " is empty\n";
  }

  void set(Ptr<KivAttr> const& a) {
    std::string subject = name(a);
    Ptr<GenericIf> index = a->isCollection() ? key("set", a, subject) : nullptr;
    Ptr<GenericIf> value = parse(a->type()->qualifiedName(), word("set", "value"), "value of " + subject);
    apply(a, GenericIf::opSet, Ptr<GenericIf const>(index), value, subject);
    std::cout << "set " << subject << "\n";
  }

  void call(Ptr<KivAttr> const& a) {
    if (!a->isFunction()) throw Failure(name(a) + " is not a function: get " + name(a) + " reads it");
    auto const& declared = a->arguments();
    auto args = Kiv::make<GenericIf::List_>();
    for (std::size_t k = 0; at_ < words_.size() && !isOperation(words_[at_]); ++k, ++at_) {
      if (k >= declared.size())
        throw Failure(name(a) + " takes " + std::to_string(declared.size()) +
                      (declared.size() == 1 ? " argument" : " arguments"));
      args->push(parse(declared[k].typeName, words_[at_], "argument " + declared[k].name.stdString() + " of " + name(a)));
    }
    if (args->size() < declared.size()) {
      auto const& missing = declared[args->size()];
      throw Failure(name(a) + ": missing argument " + missing.name.stdString() + " of type " +
                    missing.typeName.stdString());
    }
    Ptr<GenericIf> r = apply(a, GenericIf::opGet, Ptr<GenericIf const>(args), nullptr, name(a));
    std::cout << "called " << name(a) << (r ? " -> " + r->strRep().stdString() : std::string()) << "\n";
  }

  Ptr<GenericIf> g_;
  std::vector<std::string> words_;
  std::size_t at_ = 0;
};

// Makes an instance of the type from the constructor argument words.
Ptr<GenericIf> construct(std::string const& typeNameText, std::vector<std::string> const& args) {
  Ptr<KivType> type = KivType::typeNode(String8(typeNameText));
  if (!type) throw Failure("unknown type " + typeNameText);
  auto const& declared = type->constructorArgs();
  if (args.size() < declared.size()) {
    auto const& missing = declared[args.size()];
    throw Failure("missing constructor argument " + missing.name.stdString() + " of type " +
                  missing.typeName.stdString() + " for " + typeNameText);
  }
  auto list = Kiv::make<GenericIf::List_>();
  for (std::size_t i = 0; i < args.size(); ++i) {
    // Arguments beyond the declared ones go in as strings, for the type to
    // refuse in its own words.
    String8 tn = i < declared.size() ? declared[i].typeName : String8("Kiv::String");
    std::string what = i < declared.size() ? "argument " + declared[i].name.stdString() : "argument " + std::to_string(i + 1);
    list->push(parse(tn, args[i], what));
  }
  return type->genericIf(Ptr<GenericIf const>(list), false);
}

// Loads the library `name`. A name without a folder is looked for first
// beside the runtime library this program runs with (the lib folder of an
// installation) and in the product's build folder, then as the dynamic
// loader finds it; the folders are searched here rather than through the
// program's run path, which a sanitizer's dlopen does not consult.
void* openLibrary(char const* name) {
  if (!std::strchr(name, '/')) {
    std::vector<std::string> folders;
    Dl_info runtime;
    if (dladdr(reinterpret_cast<void*>(&KivType::typeNodes), &runtime) && runtime.dli_fname) {
      std::string const path = runtime.dli_fname;
      if (path.rfind('/') != std::string::npos) folders.push_back(path.substr(0, path.rfind('/')));
    }
#ifdef KIV_TYPES_PRODUCT_DIR
    folders.push_back(KIV_TYPES_PRODUCT_DIR);
#endif
    for (auto const& folder : folders) {
      std::string const path = folder + "/" + name;
      if (::access(path.c_str(), F_OK) == 0) return dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    }
  }
  return dlopen(name, RTLD_NOW | RTLD_GLOBAL);
}

int run(int argc, char** argv) {
  if (argc < 2) throw Failure("usage: kiv-types LIBRARY [TYPE [ARG...] [-- OP...]] (see kiv-types --help)", 2);
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::cout << help;
    return 0;
  }
  bool const lua = !std::strcmp(argv[1], "--lua");
  if (lua && argc != 3) throw Failure("usage: kiv-types --lua LIBRARY (see kiv-types --help)", 2);
  char const* const library = argv[lua ? 2 : 1];
  std::set<KivType*> before;
  for (auto const& t : KivType::typeNodes()) before.insert(t.ptr());
  if (!openLibrary(library)) throw Failure(dlerror());
  if (argc == 2 || lua) {
    std::vector<Ptr<KivType>> added;
    for (auto const& t : KivType::typeNodes())
      if (!before.count(t.ptr()) && t->isTypeNode()) added.push_back(t);
    if (added.empty()) throw Failure(std::string(library) + " registers no type");
    if (lua) listLua(added, library);
    else list(added);
    return 0;
  }
  std::vector<std::string> args, ops;
  bool inOps = false;
  for (int i = 3; i < argc; ++i) {
    std::string w = argv[i];
    if (!inOps && w == "--") inOps = true;
    else (inOps ? ops : args).push_back(w);
  }
  Ptr<GenericIf> g = construct(argv[2], args);
  std::cout << "made " << g->strRep() << "\n";
  Driver(g, ops).run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (Failure const& f) {
    std::cout.flush();
    std::cerr << "kiv-types: " << f.what() << "\n";
    return f.status;
  } catch (Kiv::Exception const& e) {
    std::cout.flush();
    std::cerr << "kiv-types: " << e.what() << "\n";
    return 1;
  }
}

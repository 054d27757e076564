#include "Kiv/GenericIf.h"

#include <limits>
#include <string>

#include "Kiv/Entity.h"

namespace Kiv {

// --- Failures

GenericIf::Error::Error(String8 const& message, std::uint32_t exceptionId, String8 const& subject)
    : Exception(message, {exceptionId}, true), subject_(subject) {}

void GenericIf::throwConstException(char const* message) {
  throw Error(String8(message), ExceptionId::constInstance, String8());
}
void GenericIf::throwTypeException(String8 const& name) {
  throw Error("type mismatch: " + name, ExceptionId::type, name);
}
void GenericIf::throwBadIndexAttrException(String8 const& name) {
  throw Error("attribute " + name + " takes no index", ExceptionId::badIndex, name);
}
void GenericIf::throwOpNotSupportedException(String8 const& name, std::uint32_t code, bool isKey) {
  throw Error("operation " + String8(std::to_string(code)) + " not supported on " + (isKey ? "the key of " : "") + name,
              ExceptionId::opNotSupported, name);
}
void GenericIf::throwUnknownArgException(String8 const& name) {
  throw Error("too many arguments for " + name, ExceptionId::unknownArg, name);
}
void GenericIf::throwUnknownAttrException(String8 const& name) {
  throw Error("no attribute named " + name, ExceptionId::badIndex, name);
}
void GenericIf::throwOutOfRangeException(String8 const& name, String8 const& what) {
  throw Error(name + ": " + what, ExceptionId::range, name);
}

Ptr<GenericIf::List_> GenericIf::list(std::initializer_list<Ptr<GenericIf>> items) {
  return make<List_>(std::vector<Ptr<GenericIf>>(items));
}

// --- Base operations

bool GenericIf::isConst() const { return false; }

void GenericIf::requireModifiable(std::uint32_t code) const {
  if (isModifying(code) && isConst()) throwConstException("attempting to modify a const instance");
}

void GenericIf::onAttribute(AttributeId id) {
  if (sink_) sink_(id, nullptr);
}
void GenericIf::onAttribute(AttributeId id, Ptr<GenericIf const> const& key) {
  if (sink_) sink_(id, key);
}

Ptr<KivType> GenericIf::objectType() const { return fwkType(); }

void* GenericIf::castTo(Ptr<KivType> const&) const {
  Ptr<KivType> t = objectType();
  throwTypeException(t ? t->name() : String8("GenericIf"));
}

String8 GenericIf::attributeString(AttributeId id) const {
  Ptr<KivType> t = objectType();
  Ptr<KivAttr> a = t ? t->attr(id) : nullptr;
  return a ? a->name() : String8();
}

AttributeId GenericIf::attributeId(String8 const& name) const {
  Ptr<KivType> t = objectType();
  Ptr<KivAttr> a = t ? t->attr(name) : nullptr;
  if (!a) throwUnknownAttrException(name);
  return a->id();
}

Ptr<GenericIf> GenericIf::attributeOp(AttributeOp const& op, Ptr<GenericIf const> const&, Ptr<GenericIf> const&) {
  String8 attr = attributeString(op.attributeId);
  throwOpNotSupportedException(attr.empty() ? String8(std::to_string(op.attributeId)) : attr, op.code, false);
}

String8 GenericIf::strRep() const {
  Ptr<KivType> t = objectType();
  return "<" + (t ? t->qualifiedName() : String8("GenericIf")) + ">";
}

void GenericIf::kivDoZombieReactors(bool zombie) {
  if (zombie != kivMarkedForDeletion()) kivMarkedForDeletionIs(zombie);
}

GenericIf::AttributeIterator GenericIf::attributeIteratorConst(AttributeId id) const {
  throwOpNotSupportedException(attributeString(id), opGet, false);
}
GenericIf::AttributeIterator GenericIf::attributeIteratorKeyConst(AttributeId id, Ptr<GenericIf const> const&) const {
  throwOpNotSupportedException(attributeString(id), opGet, true);
}
Ptr<GenericIf const> GenericIf::attributeIterator_iterObj(AttributeIterator const&) const { return nullptr; }
Ptr<GenericIf> GenericIf::attributeIterator_iterObj(AttributeIterator const&) { return nullptr; }
void GenericIf::attributeIterator_iterInc(AttributeIterator&) const {}
Ptr<GenericIf> GenericIf::attributeIterator_iterKey(AttributeIterator const&) const { return nullptr; }
GenericIf::AttributeIterator GenericIf::attributeIterator_iterClone(AttributeIterator const& it) const {
  return AttributeIterator{it.adapter, it.attributeId, nullptr};
}
bool GenericIf::attributeIterator_nonNull(AttributeIterator const&) const { return false; }
void GenericIf::attributeIterator_iterDel(AttributeIterator& it) const { it.state = nullptr; }
GenericIf::AttributeIterator GenericIf::attributeIterator(AttributeId id) {
  if (isConst()) throwConstException("attempting to modify a const instance");
  return attributeIteratorConst(id);
}
GenericIf::AttributeIterator GenericIf::attributeIteratorKey(AttributeId id, Ptr<GenericIf const> const& key) {
  if (isConst()) throwConstException("attempting to modify a const instance");
  return attributeIteratorKeyConst(id, key);
}

Ptr<GenericIf> GenericIf::clone() const { throwOpNotSupportedException(strRep(), opGet, false); }
PtrInterface* GenericIf::object() const { return nullptr; }
PtrInterface* GenericIf::objectSecond() const { return object(); }
Ptr<PtrInterface> GenericIf::objectIs(Ptr<PtrInterface> const&) {
  throwOpNotSupportedException(strRep(), opSet, false);
}

// --- Argument lists

Ptr<KivType> GenericIf::List_::_fwkType() {
  static KivType* const t = makeForProcess<KivType>("Kiv::GenericIf::List_", nullptr);
  return Ptr<KivType>(t);
}
Ptr<KivType> GenericIf::List_::objectType() const { return _fwkType(); }
String8 GenericIf::List_::strRep() const {
  String8 s("[");
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i) s += ", ";
    s += items_[i] ? items_[i]->strRep() : String8("None");
  }
  return s + "]";
}
Ptr<GenericIf> GenericIf::List_::clone() const { return make<List_>(items_); }

// --- Built-in value types

#define KIV_DEFINE_BUILTIN(T, TypeClass, name)             \
  Ptr<KivType> ValueType<T, void>::type() {                \
    static KivType* const t = makeForProcess<TypeClass>(name, nullptr); \
    return Ptr<KivType>(t);                                 \
  }
KIV_DEFINE_BUILTIN(bool, BuiltinType<bool>, "bool")
KIV_DEFINE_BUILTIN(unsigned short, BuiltinType<unsigned short>, "unsigned short")
KIV_DEFINE_BUILTIN(unsigned int, BuiltinType<unsigned int>, "unsigned int")
KIV_DEFINE_BUILTIN(unsigned long long, BuiltinType<unsigned long long>, "unsigned long long")
KIV_DEFINE_BUILTIN(int, BuiltinType<int>, "int")
KIV_DEFINE_BUILTIN(long long, BuiltinType<long long>, "long long")
KIV_DEFINE_BUILTIN(double, BuiltinType<double>, "double")
KIV_DEFINE_BUILTIN(String8, BuiltinType<String8>, "Kiv::String")
KIV_DEFINE_BUILTIN(Name, BuiltinType<Name>, "Kiv::Name")
KIV_DEFINE_BUILTIN(void*, KivType, "void*")
#undef KIV_DEFINE_BUILTIN

namespace detail {

namespace {

// The value of an integer generic value, widened; false for other types.
bool integerOf(GenericIf const& g, long long* s, unsigned long long* u, bool* isSigned) {
  Ptr<KivType> t = g.objectType();
  auto as = [&](auto tag) -> bool {
    using I = decltype(tag);
    if (t != ValueType<I>::type()) return false;
    I v = *static_cast<I const*>(g.castTo(t));
    *isSigned = std::is_signed<I>::value;
    if (*isSigned) *s = static_cast<long long>(v);
    else *u = static_cast<unsigned long long>(v);
    return true;
  };
  return as((unsigned short)0) || as(0u) || as(0ull) || as(0) || as(0ll);
}

template <class I>
bool fitInteger(GenericIf const& g, void* out) {
  long long s = 0;
  unsigned long long u = 0;
  bool isSigned = false;
  if (!integerOf(g, &s, &u, &isSigned)) return false;
  if (isSigned) {
    if (s < 0 && !std::is_signed<I>::value) return false;
    if (s < static_cast<long long>(std::numeric_limits<I>::min())) return false;
    if (s > 0 && static_cast<unsigned long long>(s) > static_cast<unsigned long long>(std::numeric_limits<I>::max()))
      return false;
    *static_cast<I*>(out) = static_cast<I>(s);
  } else {
    if (u > static_cast<unsigned long long>(std::numeric_limits<I>::max())) return false;
    *static_cast<I*>(out) = static_cast<I>(u);
  }
  return true;
}

}  // namespace

bool genericConvert(GenericIf const& g, Ptr<KivType> const& to, void* out) {
  Ptr<KivType> from = g.objectType();
  if (to == ValueType<Name>::type() && from == ValueType<String8>::type()) {
    *static_cast<Name*>(out) = Name(*static_cast<String8 const*>(g.castTo(from)));
    return true;
  }
  if (to == ValueType<String8>::type() && from == ValueType<Name>::type()) {
    *static_cast<String8*>(out) = static_cast<Name const*>(g.castTo(from))->string();
    return true;
  }
  if (to == ValueType<unsigned short>::type()) return fitInteger<unsigned short>(g, out);
  if (to == ValueType<unsigned int>::type()) return fitInteger<unsigned int>(g, out);
  if (to == ValueType<unsigned long long>::type()) return fitInteger<unsigned long long>(g, out);
  if (to == ValueType<int>::type()) return fitInteger<int>(g, out);
  if (to == ValueType<long long>::type()) return fitInteger<long long>(g, out);
  if (to == ValueType<double>::type()) {
    long long s = 0;
    unsigned long long u = 0;
    bool isSigned = false;
    if (!integerOf(g, &s, &u, &isSigned)) return false;
    // Only an integer that a double holds exactly converts.
    double const d = isSigned ? static_cast<double>(s) : static_cast<double>(u);
    bool const exact = isSigned ? (d >= -0x1p63 && d < 0x1p63 && static_cast<long long>(d) == s)
                                : (d < 0x1p64 && static_cast<unsigned long long>(d) == u);
    if (!exact) return false;
    *static_cast<double*>(out) = d;
    return true;
  }
  return false;
}

}  // namespace detail

// --- Iterators

GenericIterator::GenericIterator(GenericIterator const& o)
    : h_(o.h_.adapter ? o.h_.adapter->attributeIterator_iterClone(o.h_) : o.h_) {}

GenericIterator::~GenericIterator() {
  if (h_.adapter && h_.state) h_.adapter->attributeIterator_iterDel(h_);
}

// --- Adapters of objects

Ptr<KivType> GenericIfPtrInterface::objectType() const {
  PtrInterface* o = object();
  return o ? o->fwkType() : KivType::ptrInterfaceType();
}

void* GenericIfPtrInterface::castTo(Ptr<KivType> const& type) const {
  PtrInterface* o = object();
  Ptr<KivType> t = objectType();
  if (o && type && t->isA(type.ptr())) return o;
  throwTypeException(t->name());
}

String8 GenericIfPtrInterface::strRep() const {
  return valueToStrep(Ptr<PtrInterface const>(object()));
}

Ptr<GenericIf> GenericIfEntity::attributeOp(AttributeOp const& op, Ptr<GenericIf const> const& index,
                                            Ptr<GenericIf> const& value) {
  requireModifiable(op.code);
  auto* entity = dynamic_cast<Entity*>(object());
  if (!entity) return GenericIfPtrInterface::attributeOp(op, index, value);
  switch (op.attributeId) {
    case Attr::name:
      if (index) throwBadIndexAttrException("name");
      if (op.code != opGet) throwOpNotSupportedException("name", op.code, false);
      return Builtin<Name>::genericIf(entity->name(), isConst());
    case Attr::parent:
      if (index) throwBadIndexAttrException("parent");
      if (op.code != opGet) throwOpNotSupportedException("parent", op.code, false);
      return KivType::genericIf(entity->parent().ptr(), isConst());
    case Attr::isNondestructing: {
      if (index) throwBadIndexAttrException("isNondestructing");
      if (op.code == opGet) return Builtin<bool>::genericIf(entity->isNondestructing(), isConst());
      if (op.code != opSet) throwOpNotSupportedException("isNondestructing", op.code, false);
      auto v = Builtin<bool>::valueOf(value);
      if (!v) throwTypeException("isNondestructing");
      entity->isNondestructingIs(*v);
      return nullptr;
    }
    case Attr::kivHasAttrLogInterface:  // a function attribute
      if (op.code != opGet) throwOpNotSupportedException("kivHasAttrLogInterface", op.code, false);
      return Builtin<bool>::genericIf(entity->kivHasAttrLogInterface(), isConst());
    default:
      return GenericIfPtrInterface::attributeOp(op, index, value);
  }
}

}  // namespace Kiv

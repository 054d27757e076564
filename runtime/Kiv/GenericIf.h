#pragma once
// Kiv::GenericIf is the type-erased interface through which tools and
// scripts reach any registered object or value without compiled-in
// knowledge of its class: read and write attributes by id or name, call
// function attributes, walk and change collections, print values.
//
//   auto type = Kiv::KivType::typeNode("Bridging::Orva::Config");
//   auto config = type->genericIf(Kiv::GenericIf::list({Kiv::Builtin<Kiv::Name>::genericIf("c")}), false);
//   auto id = config->attributeId("complete");
//   config->attributeOp({id, Kiv::GenericIf::opSet}, nullptr, Kiv::Builtin<bool>::genericIf(true));
//   bool done = Kiv::Builtin<bool>::valueOf(config->attributeOp({id, Kiv::GenericIf::opGet}, nullptr, nullptr));
//
// Operation codes: 0 reads (or calls a function), 1 counts a collection's
// members, 2 gives its change counter, 3 tests a key; 128 to 255 modify
// (128 sets or adds, 129 deletes); 256 and up are value operations
// (256 equal, 257 unequal, 262 equal to the default value). A const adapter
// refuses every modifying code before it looks at anything else.
//
// Every failure is thrown through the throwers below, each naming the
// attribute, argument or type at fault.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <type_traits>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/Export.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/Notifiee.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"

namespace Kiv {

class KIV_API GenericIf : public PtrInterface::NotifieeConst {
 public:
  struct AttributeOp {
    AttributeId attributeId;
    std::uint32_t code;
  };
  static constexpr std::uint32_t opGet = 0;
  static constexpr std::uint32_t opCount = 1;
  static constexpr std::uint32_t opVersion = 2;
  static constexpr std::uint32_t opExists = 3;
  static constexpr std::uint32_t opSet = 128;
  static constexpr std::uint32_t opDel = 129;
  static constexpr std::uint32_t opEqual = 256;
  static constexpr std::uint32_t opNotEqual = 257;
  static constexpr std::uint32_t opIsDefault = 262;
  static constexpr bool isModifying(std::uint32_t code) noexcept { return code >= 128 && code <= 255; }

  class List_;

  // A position in a collection attribute of an adapter. The state belongs
  // to the adapter that made the handle (its attributeIterator_* operations
  // read it); GenericIterator wraps a handle and frees it.
  struct AttributeIterator {
    Ptr<GenericIf const> adapter;
    AttributeId attributeId = 0;
    void* state = nullptr;
  };

  // --- Failures.
  class KIV_API Error : public Exception {
   public:
    Error(String8 const& message, std::uint32_t exceptionId, String8 const& subject);
    // The attribute, argument or type named by the failure.
    String8 const& subject() const noexcept { return subject_; }

   private:
    String8 subject_;
  };
  [[noreturn]] static void throwConstException(char const* message);
  [[noreturn]] static void throwTypeException(String8 const& name);
  [[noreturn]] static void throwBadIndexAttrException(String8 const& name);
  [[noreturn]] static void throwOpNotSupportedException(String8 const& name, std::uint32_t code, bool isKey);
  [[noreturn]] static void throwUnknownArgException(String8 const& name);
  [[noreturn]] static void throwUnknownAttrException(String8 const& name);
  // A value of the right type that the attribute or argument `name` does
  // not take (a VLAN id of 0): "<name>: <what>", a range failure.
  [[noreturn]] static void throwOutOfRangeException(String8 const& name, String8 const& what);

  static Ptr<List_> list(std::initializer_list<Ptr<GenericIf>> items);

  // Whether this adapter refuses modifying operations.
  virtual bool isConst() const;

  // --- Virtual operations, after the observer's.
  // A change of attribute `id` of the wrapped object (with the collection
  // key, when there is one). The default hands it to the attribute sink.
  virtual void onAttribute(AttributeId id);
  virtual void onAttribute(AttributeId id, Ptr<GenericIf const> const& key);

  // The type of the wrapped object or value.
  virtual Ptr<KivType> objectType() const;
  // The wrapped object or value as type `type` (a pointer to it), or the
  // type exception naming the wrapped type.
  virtual void* castTo(Ptr<KivType> const& type) const;
  virtual String8 attributeString(AttributeId id) const;
  // The id of the attribute `name` of the wrapped type; throws the unknown
  // attribute exception when the type has none.
  virtual AttributeId attributeId(String8 const& name) const;
  virtual Ptr<GenericIf> attributeOp(AttributeOp const& op, Ptr<GenericIf const> const& index,
                                     Ptr<GenericIf> const& value);
  virtual String8 strRep() const;
  virtual void kivDoZombieReactors(bool zombie);

  virtual AttributeIterator attributeIteratorConst(AttributeId id) const;
  virtual AttributeIterator attributeIteratorKeyConst(AttributeId id, Ptr<GenericIf const> const& key) const;
  virtual Ptr<GenericIf const> attributeIterator_iterObj(AttributeIterator const& it) const;
  virtual Ptr<GenericIf> attributeIterator_iterObj(AttributeIterator const& it);
  virtual void attributeIterator_iterInc(AttributeIterator& it) const;
  virtual Ptr<GenericIf> attributeIterator_iterKey(AttributeIterator const& it) const;
  virtual AttributeIterator attributeIterator_iterClone(AttributeIterator const& it) const;
  virtual bool attributeIterator_nonNull(AttributeIterator const& it) const;
  virtual void attributeIterator_iterDel(AttributeIterator& it) const;
  virtual AttributeIterator attributeIterator(AttributeId id);
  virtual AttributeIterator attributeIteratorKey(AttributeId id, Ptr<GenericIf const> const& key);

  virtual Ptr<GenericIf> clone() const;
  // The wrapped object (null for values).
  virtual PtrInterface* object() const;
  virtual PtrInterface* objectSecond() const;
  // Replaces the wrapped object and returns the former one.
  virtual Ptr<PtrInterface> objectIs(Ptr<PtrInterface> const& object);

  // Where onAttribute() reports by default: a host or a test watching an
  // object through its adapter.
  using AttributeSink = std::function<void(AttributeId, Ptr<GenericIf const> const& key)>;
  void attributeSinkIs(AttributeSink sink) { sink_ = std::move(sink); }

  // The adapter of a collection iterator handle, for adapters that
  // implement the attributeIterator_* family for one iterator type It.
  template <class It>
  AttributeIterator kivIteratorMake(AttributeId id, It it) const {
    return AttributeIterator{Ptr<GenericIf const>(this), id, new It(std::move(it))};
  }
  template <class It>
  static It& kivIterator(AttributeIterator const& h) {
    return *static_cast<It*>(h.state);
  }

 protected:
  // Refuses a modifying code on a const adapter.
  void requireModifiable(std::uint32_t code) const;

 private:
  AttributeSink sink_;
};

// An argument list: the arguments of a function call or of a new
// instance. An element may be null ("holds no value").
class KIV_API GenericIf::List_ : public GenericIf {
 public:
  List_() = default;
  explicit List_(std::vector<Ptr<GenericIf>> items) : items_(std::move(items)) {}

  std::size_t size() const noexcept { return items_.size(); }
  Ptr<GenericIf> at(std::size_t i) const { return i < items_.size() ? items_[i] : nullptr; }
  void push(Ptr<GenericIf> const& item) { items_.push_back(item); }

  static Ptr<KivType> _fwkType();
  Ptr<KivType> objectType() const override;
  String8 strRep() const override;
  Ptr<GenericIf> clone() const override;

 private:
  std::vector<Ptr<GenericIf>> items_;
};

// The registered type of a value type T: T::_fwkType() for classes; the
// runtime's own types for built-in ones.
template <class T, class = void>
struct ValueType {
  static Ptr<KivType> type() { return T::_fwkType(); }
};
#define KIV_BUILTIN_VALUE_TYPE(T)            \
  template <>                                \
  struct KIV_API ValueType<T, void> {        \
    static Ptr<KivType> type();              \
  }
KIV_BUILTIN_VALUE_TYPE(bool);
KIV_BUILTIN_VALUE_TYPE(unsigned short);
KIV_BUILTIN_VALUE_TYPE(unsigned int);
KIV_BUILTIN_VALUE_TYPE(unsigned long long);
KIV_BUILTIN_VALUE_TYPE(int);
KIV_BUILTIN_VALUE_TYPE(long long);
KIV_BUILTIN_VALUE_TYPE(double);
KIV_BUILTIN_VALUE_TYPE(String8);
KIV_BUILTIN_VALUE_TYPE(Name);
KIV_BUILTIN_VALUE_TYPE(void*);
#undef KIV_BUILTIN_VALUE_TYPE

// A generic value: a copy of a T with its text form.
template <class T>
class KIV_API Builtin : public GenericIf {
 public:
  using Value = T;

  Builtin(T const& v, bool isConst) : value_(v), const_(isConst) {}
  static Ptr<GenericIf> genericIf(T const& v, bool isConst = false) { return make<Builtin>(v, isConst); }
  static Ptr<KivType> _fwkType() { return ValueType<T>::type(); }

  T const& value() const noexcept { return value_; }
  void valueIs(T const& v) { value_ = v; }

  // The value held by `g` as a T: a generic value of type T, or one that
  // converts (a string and a name convert into each other; integers convert
  // when the value fits). Empty when `g` is null or holds another type.
  static std::optional<T> valueOf(Ptr<GenericIf const> const& g);

  bool isConst() const override { return const_; }
  Ptr<KivType> objectType() const override { return _fwkType(); }
  void* castTo(Ptr<KivType> const& type) const override {
    if (type == _fwkType()) return const_cast<T*>(&value_);
    throwTypeException(_fwkType()->qualifiedName());
  }
  String8 strRep() const override { return valueToStrep(value_); }
  Ptr<GenericIf> clone() const override { return make<Builtin>(value_, const_); }
  Ptr<GenericIf> attributeOp(AttributeOp const& op, Ptr<GenericIf const> const& index,
                             Ptr<GenericIf> const& value) override {
    if (op.attributeId == 0 && (op.code == opEqual || op.code == opNotEqual)) {
      auto other = valueOf(index ? index : Ptr<GenericIf const>(value));
      if (!other) throwTypeException("kivOpArg");
      return Builtin<bool>::genericIf((*other == value_) == (op.code == opEqual));
    }
    return GenericIf::attributeOp(op, index, value);
  }

 private:
  T value_;
  bool const_;
};

namespace detail {
// Conversions between generic values of different built-in types.
KIV_API bool genericConvert(GenericIf const& g, Ptr<KivType> const& to, void* out);
}  // namespace detail

template <class T>
std::optional<T> Builtin<T>::valueOf(Ptr<GenericIf const> const& g) {
  if (!g) return std::nullopt;
  Ptr<KivType> t = _fwkType();
  if (g->objectType() == t) return *static_cast<T const*>(g->castTo(t));
  if constexpr (std::is_arithmetic<T>::value || std::is_same<T, String8>::value || std::is_same<T, Name>::value) {
    T out{};
    if (detail::genericConvert(*g, t, &out)) return out;
  }
  return std::nullopt;
}

// The type object of a value type T: wraps values and parses text forms.
template <class T>
class KIV_API BuiltinType : public KivType {
 public:
  using KivType::KivType;
  Ptr<GenericIf> genericIfOfValue(void const* value, bool isConst) const override {
    return Builtin<T>::genericIf(*static_cast<T const*>(value), isConst);
  }
  Ptr<GenericIf> genericIfFromStrep(String8 const& text, bool isConst) const override {
    return Builtin<T>::genericIf(strepToValue<T>(text), isConst);
  }
};

// The object that a generic adapter wraps, as a T (null when `g` is null,
// wraps nothing, or wraps an object of another class).
template <class T>
T* genericObject(Ptr<GenericIf const> const& g) {
  return g ? dynamic_cast<T*>(g->object()) : nullptr;
}

// Walks one collection attribute of an adapter, freeing its state at the
// end.
class KIV_API GenericIterator {
 public:
  explicit GenericIterator(GenericIf::AttributeIterator h) : h_(std::move(h)) {}
  GenericIterator(GenericIterator const& o);
  GenericIterator& operator=(GenericIterator const&) = delete;
  ~GenericIterator();

  bool nonNull() const { return h_.adapter && h_.adapter->attributeIterator_nonNull(h_); }
  Ptr<GenericIf const> obj() const { return h_.adapter->attributeIterator_iterObj(h_); }
  Ptr<GenericIf> key() const { return h_.adapter->attributeIterator_iterKey(h_); }
  GenericIterator& operator++() {
    h_.adapter->attributeIterator_iterInc(h_);
    return *this;
  }
  GenericIf::AttributeIterator const& handle() const noexcept { return h_; }

 private:
  GenericIf::AttributeIterator h_;
};

// The base of adapters of counted objects. It serves no attribute of its
// own; ids that an adapter does not handle end here and are refused.
class KIV_API GenericIfPtrInterface : public GenericIf {
 public:
  Ptr<KivType> objectType() const override;
  void* castTo(Ptr<KivType> const& type) const override;
  String8 strRep() const override;
};

// The base of adapters of entities: serves the attributes that every entity
// has (name, parent, isNondestructing, kivHasAttrLogInterface).
class KIV_API GenericIfEntity : public GenericIfPtrInterface {
 public:
  Ptr<GenericIf> attributeOp(AttributeOp const& op, Ptr<GenericIf const> const& index,
                             Ptr<GenericIf> const& value) override;
};

// The adapter a type gives when it has none of its own: the object and the
// const flag over one of the two bases above.
template <class Base>
class KIV_API GenericIfHolder : public Base {
 public:
  GenericIfHolder(Ptr<PtrInterface> const& object, bool isConst) : object_(object), const_(isConst) {}
  bool isConst() const override { return const_; }
  PtrInterface* object() const override { return object_.ptr(); }
  Ptr<PtrInterface> objectIs(Ptr<PtrInterface> const& o) override {
    Ptr<PtrInterface> old = std::move(object_);
    object_ = o;
    return old;
  }
  Ptr<GenericIf> clone() const override { return make<GenericIfHolder>(object_, const_); }

 private:
  Ptr<PtrInterface> object_;
  bool const_;
};

}  // namespace Kiv

// Python values into generic values and back.
//
// Built-in types map to Python's own: bool, the integer types to int (with
// the slot's range checked, so that 70000 for a 16-bit descriptor names the
// attribute and its range), double to float, strings and names to str.
// Strings are byte strings: each byte is the code point of the same value,
// which makes the runtime's text form of a string a Python literal of it.
// A str given for a value type of the library (an interface id, an address)
// is read as that type's text form, or else handed over as a string.
#include <cstdint>
#include <limits>
#include <type_traits>

#include "Binding.h"
#include "Kiv/GenericAccess.h"
#include "Kiv/Name.h"

namespace BtsPython {

namespace {

template <class T>
bool holds(Kiv::Ptr<Kiv::KivType> const& t) {
  return t && t == Kiv::ValueType<T>::type();
}

template <class T>
T const& valueIn(Kiv::GenericIf const& g) {
  return *static_cast<T const*>(g.castTo(Kiv::ValueType<T>::type()));
}

// An int for an integer slot of type T, or RangeError naming `subject` and
// T's range.
template <class T>
Kiv::Ptr<Kiv::GenericIf> integerFor(py::handle value, std::string const& subject) {
  int overflow = 0;
  long long const s = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (s == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow > 0) {
    unsigned long long const u = PyLong_AsUnsignedLongLong(value.ptr());
    if (PyErr_Occurred()) {
      PyErr_Clear();
    } else if constexpr (std::is_same<T, unsigned long long>::value) {
      return Kiv::Builtin<T>::genericIf(u);
    }
  } else if (overflow == 0) {
    bool fits;
    if constexpr (std::is_signed<T>::value) {
      fits = s >= static_cast<long long>(std::numeric_limits<T>::min()) &&
             s <= static_cast<long long>(std::numeric_limits<T>::max());
    } else {
      fits = s >= 0 && static_cast<unsigned long long>(s) <= std::numeric_limits<T>::max();
    }
    if (fits) return Kiv::Builtin<T>::genericIf(static_cast<T>(s));
  }
  raise("RangeError",
        subject + ": " + std::string(py::str(value)) + " is out of range (" +
            std::to_string(std::numeric_limits<T>::min()) + " to " + std::to_string(std::numeric_limits<T>::max()) + ")",
        subject);
}

// A value of an integer, or RangeError when Python's int does not fit 64
// bits either way.
Kiv::Ptr<Kiv::GenericIf> anyInteger(py::handle value, std::string const& subject) {
  int overflow = 0;
  long long const s = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (s == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow == 0) return Kiv::Builtin<long long>::genericIf(s);
  return integerFor<unsigned long long>(value, subject);
}

std::string typeNameOf(py::handle value) { return py::str(py::type::handle_of(value).attr("__name__")); }

}  // namespace

Kiv::String8 bytesOf(py::handle text, std::string const& subject) {
  Py_ssize_t const n = PyUnicode_GetLength(text.ptr());
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(n));
  int const kind = PyUnicode_KIND(text.ptr());
  void const* data = PyUnicode_DATA(text.ptr());
  for (Py_ssize_t i = 0; i < n; ++i) {
    Py_UCS4 const c = PyUnicode_READ(kind, data, i);
    if (c > 0xff) {
      raise("RangeError",
            subject + ": the character U+" + std::to_string(c) + " at " + std::to_string(i) +
                " is not a byte (strings hold code points 0 to 255; encode text first)",
            subject);
    }
    bytes.push_back(static_cast<char>(c));
  }
  return Kiv::String8(bytes);
}

py::str strOf(Kiv::String8 const& bytes) {
  return py::reinterpret_steal<py::str>(PyUnicode_DecodeLatin1(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr));
}

Kiv::Ptr<Kiv::GenericIf> toGeneric(py::handle value, Kiv::Ptr<Kiv::KivType> const& target, std::string const& subject) {
  if (value.is_none()) return nullptr;
  if (py::isinstance<Object>(value)) {
    Object const& o = value.cast<Object const&>();
    o.adapter();
    return o.g;
  }
  if (PyBool_Check(value.ptr())) {
    // Read only by the adapter that takes them, so shared.
    static Kiv::GenericIf* const truth[2] = {Kiv::Builtin<bool>::genericIf(false, true).release(),
                                              Kiv::Builtin<bool>::genericIf(true, true).release()};
    return Kiv::Ptr<Kiv::GenericIf>(truth[value.ptr() == Py_True]);
  }
  if (PyLong_Check(value.ptr())) {
    if (holds<unsigned short>(target)) return integerFor<unsigned short>(value, subject);
    if (holds<unsigned int>(target)) return integerFor<unsigned int>(value, subject);
    if (holds<unsigned long long>(target)) return integerFor<unsigned long long>(value, subject);
    if (holds<int>(target)) return integerFor<int>(value, subject);
    if (holds<long long>(target)) return integerFor<long long>(value, subject);
    if (holds<double>(target)) return Kiv::Builtin<double>::genericIf(value.cast<double>());
    return anyInteger(value, subject);
  }
  if (PyFloat_Check(value.ptr())) return Kiv::Builtin<double>::genericIf(PyFloat_AS_DOUBLE(value.ptr()));
  if (PyBytes_Check(value.ptr())) {
    return Kiv::Builtin<Kiv::String8>::genericIf(
        Kiv::String8(PyBytes_AS_STRING(value.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(value.ptr()))));
  }
  if (PyUnicode_Check(value.ptr())) {
    Kiv::String8 const text = bytesOf(value, subject);
    if (holds<Kiv::Name>(target)) return Kiv::Builtin<Kiv::Name>::genericIf(Kiv::Name(text));
    if (!target || holds<Kiv::String8>(target) || !target->isValue()) return Kiv::Builtin<Kiv::String8>::genericIf(text);
    // A value type of a library: its text form, or else the plain string,
    // which the adapter reads (an interface name) or refuses, naming the
    // attribute.
    try {
      return target->genericIfFromStrep(text, false);
    } catch (Kiv::Exception const&) {
      return Kiv::Builtin<Kiv::String8>::genericIf(text);
    }
  }
  raise("TypeMismatchError",
        subject + ": a " + typeNameOf(value) + " is no " +
            (target ? target->qualifiedName().stdString() : std::string("value of the runtime")),
        subject);
}

py::object toPython(Kiv::Ptr<Kiv::GenericIf const> const& g) {
  if (!g) return py::none();
  Kiv::Ptr<Kiv::KivType> const t = g->objectType();
  if (holds<bool>(t)) return py::bool_(valueIn<bool>(*g));
  if (holds<unsigned short>(t)) return py::int_(valueIn<unsigned short>(*g));
  if (holds<unsigned int>(t)) return py::int_(valueIn<unsigned int>(*g));
  if (holds<unsigned long long>(t)) return py::int_(valueIn<unsigned long long>(*g));
  if (holds<int>(t)) return py::int_(valueIn<int>(*g));
  if (holds<long long>(t)) return py::int_(valueIn<long long>(*g));
  if (holds<double>(t)) return py::float_(valueIn<double>(*g));
  if (holds<Kiv::String8>(t)) return strOf(valueIn<Kiv::String8>(*g));
  if (holds<Kiv::Name>(t)) return strOf(valueIn<Kiv::Name>(*g).string());
  if (t && !g->object() && t->attrTable()->members().empty()) {
    static PyObject* const literal = py::object(py::module_::import("ast").attr("literal_eval")).release().ptr();  // lives as long as the module
    py::str const text = strOf(g->strRep());
    PyObject* const v = PyObject_CallOneArg(literal, text.ptr());
    if (v) return py::reinterpret_steal<py::object>(v);
    PyErr_Clear();
  }
  // An adapter of no object stands for a null reference.
  if (!g->object() && t && t->isA(Kiv::KivType::ptrInterfaceType().ptr())) return py::none();
  return wrap(Kiv::Ptr<Kiv::GenericIf>(const_cast<Kiv::GenericIf*>(g.ptr())));
}

}  // namespace BtsPython

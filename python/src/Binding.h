#pragma once
// The pieces of the Python extension module `_bts` that its source files
// share: the Python face of a generic adapter (Object), errors raised as
// Python exceptions of the runtime's failure kinds, conversions between
// Python values and generic values, and the "change" bracket through which
// every call that may notify observers runs.
//
// The module is generic over the runtime's type registry: it knows no class
// of the library. A Python object holds a Kiv::GenericIf and reaches every
// attribute by the registry's descriptions (Kiv::KivType, Kiv::KivAttr).
//
// Everything runs on the one activity thread, the thread that holds the
// GIL; the GIL is given up only while waiting on descriptors (wait_for).
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivAttr.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/String8.h"

namespace BtsPython {

namespace py = pybind11;

// --- Errors

// Raises the Python exception of `e`'s kind. The message is the runtime's;
// one that does not name its subject already is prefixed by `where` (the
// attribute, argument or type the caller worked on).
[[noreturn]] void raise(Kiv::Exception const& e, std::string const& where);
// Raises the exception class `kind` ("RangeError", "AbsentKeyError", ...)
// with `message`; `subject` names the attribute, argument or key at fault.
[[noreturn]] void raise(char const* kind, std::string const& message, std::string const& subject);
// Makes the exception classes in `module`.
void defineErrors(py::module_& module);

// What a Python callback raised, thrown on to the runtime so that its
// exception path (onNotificationException) handles it; the Python exception
// itself waits in the loop's collection (see change()).
class CallbackRaised : public Kiv::Exception {
 public:
  CallbackRaised();
};

// --- The loop and its generation

// Incremented by every reset of the loop: an object made before the last
// reset is stale.
std::uint64_t loopGeneration() noexcept;

// Runs `call` as one change made by Python: a Kiv failure becomes the
// Python exception of its kind (named by `where`); exceptions that observer
// callbacks raised meanwhile are raised when the outermost change ends,
// unless the test collects them instead.
template <class Call>
auto change(std::string const& where, Call&& call) -> decltype(call());

// Records what a callback raised (the current Python error).
void callbackRaised(py::error_already_set& e);

// --- Conversions

// A Python string's bytes: code points 0 to 255 stand for the byte values,
// so that the runtime's text form of a string is a Python literal of the
// same string. Raises RangeError naming `subject` for a code point above 255.
Kiv::String8 bytesOf(py::handle text, std::string const& subject);
py::str strOf(Kiv::String8 const& bytes);

// `value` as a generic value for a slot of type `target` (null: unknown)
// named `subject`. Objects give their adapters, None gives null.
Kiv::Ptr<Kiv::GenericIf> toGeneric(py::handle value, Kiv::Ptr<Kiv::KivType> const& target, std::string const& subject);
// A generic value as Python: built-in values as bool, int, float or str;
// null and adapters of no object as None; anything else as an Object of
// the class made for its type.
py::object toPython(Kiv::Ptr<Kiv::GenericIf const> const& g);

// --- Objects

// An object or value of a registered type, held through its generic
// adapter. The Python classes made from the registry derive from it.
struct Object {
  Kiv::Ptr<Kiv::GenericIf> g;
  std::uint64_t generation = 0;
  bool isValue = false;

  // The adapter; raises StaleObjectError for an object made before the loop
  // was last reset.
  Kiv::GenericIf& adapter() const;
  // The attribute `name` (a str) of the object's type, or
  // UnknownAttributeError. Found once per type and name, then remembered.
  Kiv::KivAttr& attribute(py::handle name) const;
  std::string typeName() const;
};

// The Object of the class made for `g`'s type.
py::object wrap(Kiv::Ptr<Kiv::GenericIf> const& g);

// An argument list for `declared` from Python's positional and keyword
// arguments, each converted to its declared type. A missing argument is
// TypeMismatchError naming it; one more than declared, or an unknown
// keyword, is UnknownArgumentError naming it and `owner`.
Kiv::Ptr<Kiv::GenericIf::List_> argumentList(std::vector<Kiv::KivAttr::Argument> const& declared, py::args const& args,
                                             py::kwargs const& kwargs, std::string const& owner);

void defineObjects(py::module_& module);
void defineLoop(py::module_& module);
void defineConnections(py::module_& module);

// --- change(), defined here since it is a template.

namespace detail {
void enterChange() noexcept;
// Leaves a change; when it was the outermost one, raises what callbacks
// raised meanwhile (unless collected). `failed`: the change itself raised.
void leaveChange(bool failed);
}  // namespace detail

template <class Call>
auto change(std::string const& where, Call&& call) -> decltype(call()) {
  detail::enterChange();
  try {
    if constexpr (std::is_void<decltype(call())>::value) {
      call();
      detail::leaveChange(false);
    } else {
      auto result = call();
      detail::leaveChange(false);
      return result;
    }
  } catch (CallbackRaised const& e) {
    // Reached the change itself (a delivery outside a notification): what
    // the callback raised is raised by the outermost change.
    detail::leaveChange(false);
    raise(e, where);
  } catch (Kiv::Exception const& e) {
    detail::leaveChange(true);
    raise(e, where);
  } catch (...) {
    detail::leaveChange(true);
    throw;
  }
}

}  // namespace BtsPython

// The runtime's failures as Python exceptions: one class per failure kind,
// all under bridging_test_support.Error. Each kind also derives from the
// built-in exception a Python user expects of it (a range failure is a
// ValueError, an absent key a KeyError), so that `except KeyError` and
// Mapping methods work.
#include <utility>
#include <vector>

#include "Binding.h"

namespace BtsPython {

namespace {

struct Kind {
  char const* name;
  PyObject* builtin;  // the second base, or null
  char const* doc;
};

// The kinds by name; "Error" is the base of the others.
std::vector<std::pair<std::string, py::object>>& classes() {
  static auto* c = new std::vector<std::pair<std::string, py::object>>();  // lives as long as the module
  return *c;
}

py::object classOf(char const* kind) {
  for (auto const& [name, cls] : classes())
    if (name == kind) return cls;
  return classes().front().second;
}

// The kind of a runtime failure, by the first exception id that names one.
char const* kindOf(Kiv::Exception const& e) {
  for (std::uint32_t id : e.ids()) {
    switch (id) {
      case Kiv::ExceptionId::range: return "RangeError";
      case Kiv::ExceptionId::nameInUse: return "NameInUseError";
      case Kiv::ExceptionId::type: return "TypeMismatchError";
      case Kiv::ExceptionId::constInstance: return "ConstInstanceError";
      case Kiv::ExceptionId::badIndex: return "BadIndexError";
      case Kiv::ExceptionId::opNotSupported: return "OpNotSupportedError";
      case Kiv::ExceptionId::unknownArg: return "UnknownArgumentError";
      case Kiv::ExceptionId::internal: return "InternalError";
      default: break;
    }
  }
  return "Error";
}

}  // namespace

CallbackRaised::CallbackRaised() : Kiv::Exception("an observer callback raised", {Kiv::ExceptionId::internal}, true) {}

void raise(char const* kind, std::string const& message, std::string const& subject) {
  py::object cls = classOf(kind);
  py::object exc = cls(message);
  exc.attr("subject") = subject.empty() ? py::object(py::none()) : py::object(py::str(subject));
  PyErr_SetObject(cls.ptr(), exc.ptr());
  throw py::error_already_set();
}

void raise(Kiv::Exception const& e, std::string const& where) {
  std::string message = e.message().stdString();
  std::string subject = where;
  if (auto const* g = dynamic_cast<Kiv::GenericIf::Error const*>(&e)) {
    if (!g->subject().empty()) subject = g->subject().stdString();
  }
  // The generic adapters name their subject; other failures (a setter's
  // range check) do not, so the attribute or argument is put in front.
  if (!where.empty() && message.find(where) == std::string::npos) message = where + ": " + message;
  raise(kindOf(e), message, subject);
}

void defineErrors(py::module_& module) {
  static Kind const kinds[] = {
      {"Error", nullptr, "The base of every failure that the runtime reports."},
      {"RangeError", PyExc_ValueError, "A value out of its range, or text that does not read as its type."},
      {"TypeMismatchError", PyExc_TypeError, "A value of the wrong type, or an argument that is missing."},
      {"UnknownArgumentError", PyExc_TypeError, "More arguments than declared, or an unknown keyword."},
      {"UnknownAttributeError", PyExc_AttributeError, "No attribute of that name."},
      {"UnknownTypeError", PyExc_LookupError, "No registered type of that name."},
      {"AbsentKeyError", PyExc_KeyError, "A collection has no member of that key."},
      {"ConstInstanceError", nullptr, "A change through a read-only object."},
      {"BadIndexError", nullptr, "A key given to an attribute that takes none."},
      {"OpNotSupportedError", nullptr, "An operation the attribute does not support."},
      {"NameInUseError", nullptr, "A name that another entity has."},
      {"InternalError", nullptr, "A failed assertion of the runtime."},
      {"StaleObjectError", nullptr, "An object used after the event loop it was made on was reset."},
      {"ConnectionClosedError", nullptr, "A replication connection used after it closed."},
  };
  std::string const prefix = py::str(module.attr("__name__"));
  for (Kind const& k : kinds) {
    py::object bases;
    if (classes().empty()) {
      bases = py::reinterpret_borrow<py::object>(PyExc_Exception);
    } else if (k.builtin) {
      bases = py::make_tuple(classes().front().second, py::handle(k.builtin));
    } else {
      bases = classes().front().second;
    }
    py::dict members;
    members["__doc__"] = k.doc;
    members["subject"] = py::none();
    py::object cls =
        py::reinterpret_steal<py::object>(PyErr_NewException((prefix + "." + k.name).c_str(), bases.ptr(), members.ptr()));
    if (!cls) throw py::error_already_set();
    module.attr(k.name) = cls;
    classes().emplace_back(k.name, cls);
  }
}

}  // namespace BtsPython

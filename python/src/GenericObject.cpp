// Objects, collections, function attributes and observers of any registered
// type, through its generic adapter alone.
//
//   cfg = bts.Bridging.Orva.Config("cfg")          # Object (a generated subclass)
//   cfg.complete = True                              # opSet on "complete"
//   cfg.extTapDevice["t"] = tap                      # Collection: opSet with the key
//   watch = cfg.observe("extTapDevice", seen.append) # Watch: an adapter with a sink
//
// Every call that may change an entity runs as one change (Binding.h), so
// that failures become exceptions of their kind and what observer callbacks
// raise is raised at its end.
#include <pybind11/stl.h>

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Binding.h"
#include "Kiv/GenericAccess.h"

namespace BtsPython {

namespace {

using Kiv::GenericIf;

PyObject* classFactory = nullptr;  // owned: bridging_test_support's _class_for

Kiv::Ptr<Kiv::GenericIf> op(Object const& o, Kiv::KivAttr const& a, std::uint32_t code,
                            Kiv::Ptr<GenericIf const> const& index = nullptr, Kiv::Ptr<GenericIf> const& value = nullptr) {
  return o.adapter().attributeOp({a.id(), code}, index, value);
}

bool truth(Kiv::Ptr<GenericIf> const& g) { return Kiv::Builtin<bool>::valueOf(g).value_or(false); }

std::string describe(Kiv::Ptr<Kiv::KivType> const& t) { return t ? t->qualifiedName().stdString() : "None"; }

// --- Collections

// A collection attribute of an object, as a mutable mapping from keys to
// members in the runtime's order. An instantiating collection (one whose
// members are made from arguments) adds members with add().
struct Collection {
  Object owner;
  Kiv::Ptr<Kiv::KivAttr> a;

  std::string name() const { return a->name().stdString(); }
  Kiv::Ptr<GenericIf> key(py::handle k) const { return toGeneric(k, a->keyType(), name()); }

  bool contains(Kiv::Ptr<GenericIf> const& k) const { return truth(op(owner, *a, GenericIf::opExists, k)); }
  void requirePresent(py::handle k, Kiv::Ptr<GenericIf> const& g) const {
    if (!contains(g)) raise("AbsentKeyError", name() + " has no member " + std::string(py::repr(k)), name());
  }

  py::object get(py::handle k) const {
    return change(name(), [&] {
      auto const g = key(k);
      requirePresent(k, g);
      return toPython(op(owner, *a, GenericIf::opGet, g));
    });
  }
  void set(py::handle k, py::handle v) const {
    change(name(), [&] {
      auto const g = key(k);
      op(owner, *a, GenericIf::opSet, g, toGeneric(v, a->type(), name()));
    });
  }
  void del(py::handle k) const {
    change(name(), [&] {
      auto const g = key(k);
      requirePresent(k, g);
      op(owner, *a, GenericIf::opDel, g);
    });
  }
  py::object add(py::args const& args, py::kwargs const& kwargs) const {
    return change(name(), [&] {
      auto const list = argumentList(a->arguments(), args, kwargs, name());
      return toPython(op(owner, *a, GenericIf::opSet, nullptr, list));
    });
  }
  std::size_t size() const {
    return change(name(), [&] { return Kiv::Builtin<unsigned int>::valueOf(op(owner, *a, GenericIf::opCount)).value_or(0); });
  }
  bool has(py::handle k) const {
    return change(name(), [&] { return contains(key(k)); });
  }
  // The keys, or (key, member) pairs, in the runtime's order.
  py::list walk(bool withMembers) const {
    return change(name(), [&] {
      py::list out;
      owner.adapter();
      for (Kiv::GenericIterator it(owner.g->attributeIteratorConst(a->id())); it.nonNull(); ++it) {
        py::object k = toPython(it.key());
        out.append(withMembers ? py::object(py::make_tuple(k, toPython(it.obj()))) : k);
      }
      return out;
    });
  }
  void clear() const {
    py::list const keys = walk(false);
    change(name(), [&] {
      for (py::handle k : keys) op(owner, *a, GenericIf::opDel, key(k));
    });
  }
};

// A function attribute bound to its object.
struct Method {
  Object owner;
  Kiv::Ptr<Kiv::KivAttr> a;

  py::object call(py::args const& args, py::kwargs const& kwargs) const {
    std::string const name = a->name().stdString();
    return change(name, [&] {
      auto const list = argumentList(a->arguments(), args, kwargs, name);
      return toPython(op(owner, *a, GenericIf::opGet, list));
    });
  }
};

// --- Observers

// A Python callback held by a C++ call-back; released with the GIL held,
// wherever the call-back ends.
struct Callback {
  py::object fn;
  explicit Callback(py::object f) : fn(std::move(f)) {}
  ~Callback() {
    if (!Py_IsInitialized()) {
      fn.release();
      return;
    }
    py::gil_scoped_acquire gil;
    fn = py::object();
  }
};

// One observer: an adapter of the observed object whose sink calls the
// callback for the one attribute. Dropping it detaches the adapter.
struct Watch {
  Kiv::Ptr<GenericIf> adapter;
  std::string attribute;

  bool active() const { return static_cast<bool>(adapter); }
  void close() { adapter = nullptr; }
};

Watch observe(Object const& self, std::string const& name, py::function callback) {
  Kiv::Ptr<Kiv::KivAttr> const a(&self.attribute(py::str(name)));
  if (self.isValue) raise("OpNotSupportedError", name + ": a value has no observers", name);
  Kiv::Ptr<GenericIf> w = Kiv::KivType::genericIf(self.adapter().object(), true);
  auto const held = std::make_shared<Callback>(std::move(callback));
  Kiv::AttributeId const id = a->id();
  w->attributeSinkIs([held, id](Kiv::AttributeId changed, Kiv::Ptr<GenericIf const> const& key) {
    if (changed != id) return;
    py::gil_scoped_acquire gil;
    // Held through the call: the callback may drop its own watch.
    std::shared_ptr<Callback> const keep = held;
    try {
      keep->fn(toPython(key));
    } catch (py::error_already_set& e) {
      callbackRaised(e);
      throw CallbackRaised();
    }
  });
  return Watch{std::move(w), name};
}

// --- Construction

std::vector<Kiv::KivAttr::Argument> const noArguments;

void construct(Object& self, std::string const& typeName, py::tuple const& positional, py::dict const& keywords) {
  auto const args = py::reinterpret_borrow<py::args>(positional);
  auto const kwargs = py::reinterpret_borrow<py::kwargs>(keywords);
  change(typeName, [&] {
    Kiv::Ptr<Kiv::KivType> const t = Kiv::KivType::typeNode(Kiv::String8(typeName));
    if (!t) raise("UnknownTypeError", "no registered type named " + typeName, typeName);
    // A value type takes its fields by keyword: made by default, then each
    // field set on the new value, which is dropped if one fails.
    bool const fields = t->isValue() && t->constructorArgs().empty();
    auto const list = argumentList(t->constructorArgs(), args, fields ? py::kwargs() : kwargs, t->name().stdString());
    Kiv::Ptr<GenericIf> const g = t->genericIf(Kiv::Ptr<GenericIf const>(list), false);
    Object made{g, loopGeneration(), !g->object()};
    if (fields) {
      for (auto const& [k, v] : kwargs) {
        std::string const field = py::str(k);
        Kiv::Ptr<Kiv::KivAttr> const a(&made.attribute(k));
        g->attributeOp({a->id(), GenericIf::opSet}, nullptr, toGeneric(v, a->type(), field));
      }
    }
    self = std::move(made);
  });
}

py::object getAttribute(Object const& self, py::handle key) {
  Kiv::Ptr<Kiv::KivAttr> const a(&self.attribute(key));
  std::string const name = a->name().stdString();
  if (a->isCollection()) return py::cast(Collection{self, a});
  if (a->isFunction()) return py::cast(Method{self, a});
  return change(name, [&] { return toPython(op(self, *a, GenericIf::opGet)); });
}

void setAttribute(Object const& self, py::handle key, py::handle value) {
  Kiv::KivAttr& a = self.attribute(key);
  std::string const name = a.name().stdString();
  if (a.isCollection() || a.isFunction()) {
    raise("OpNotSupportedError",
          name + " is a " + (a.isFunction() ? "function" : "collection: change its members (" + name + "[key] = value)"),
          name);
  }
  change(name, [&] { op(self, a, GenericIf::opSet, nullptr, toGeneric(value, a.type(), name)); });
}

// The type slot behind `obj.attr = value` (and `del obj.attr`, refused):
// called directly by the interpreter, without a bound method's dispatch.
int setAttributeSlot(PyObject* self, PyObject* name, PyObject* value) {
  try {
    Object const& o = py::handle(self).cast<Object const&>();
    if (!value) {
      std::string const n = py::str(name);
      raise("OpNotSupportedError", n + ": an attribute of " + o.typeName() + " cannot be deleted", n);
    }
    setAttribute(o, name, value);
    return 0;
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (py::builtin_exception const& e) {
    e.set_error();
  } catch (std::exception const& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return -1;
}

// Values compare by the runtime's equality, objects by identity.
bool equal(Object const& self, py::handle other) {
  if (!py::isinstance<Object>(other)) return false;
  Object const& o = other.cast<Object const&>();
  if (!self.g || !o.g) return self.g == o.g;
  if (self.isValue != o.isValue) return false;
  if (!self.isValue) return self.g->object() == o.g->object();
  if (self.g->objectType() != o.g->objectType()) return false;
  return change("==", [&] { return truth(self.g->attributeOp({0, GenericIf::opEqual}, o.g, nullptr)); });
}

py::dict typeDescription(Kiv::KivType const& t) {
  auto arguments = [](std::vector<Kiv::KivAttr::Argument> const& args) {
    py::list out;
    for (auto const& x : args) out.append(py::make_tuple(x.name.stdString(), x.typeName.stdString()));
    return out;
  };
  py::dict d;
  d["name"] = t.qualifiedName().stdString();
  d["entity"] = t.isEntity();
  d["value"] = t.isValue();
  d["library"] = t.isTypeNode();
  d["base"] = t.parent() ? py::object(py::str(t.parent()->qualifiedName().stdString())) : py::object(py::none());
  d["constructor"] = arguments(t.constructorArgs());
  py::list attrs;
  for (auto const& a : t.attrTable()->members()) {
    py::dict x;
    x["name"] = a->name().stdString();
    x["id"] = a->id();
    x["type"] = describe(a->type());
    x["key"] = a->keyType() ? py::object(py::str(describe(a->keyType()))) : py::object(py::none());
    x["collection"] = a->isCollection();
    x["function"] = a->isFunction();
    x["arguments"] = arguments(a->arguments());
    attrs.append(x);
  }
  d["attributes"] = attrs;
  return d;
}

}  // namespace

Kiv::GenericIf& Object::adapter() const {
  if (!g) raise("Error", "the object is not made yet (construct it through its class)", "");
  if (!isValue && generation != loopGeneration())
    raise("StaleObjectError", typeName() + " " + g->strRep().stdString() + " was made before the event loop was reset",
          typeName());
  return *g;
}

Kiv::KivAttr& Object::attribute(py::handle name) const {
  // Per type, a dict from attribute names to their descriptions: a Python
  // name looked up by its cached hash (and, for a name in the program's
  // text, by identity). Types and their attribute tables live for the whole
  // process; so do the dicts and the references they stand for.
  static auto* names = new std::unordered_map<Kiv::KivType const*, PyObject*>();
  static auto* held = new std::vector<Kiv::Ptr<Kiv::KivAttr>>();
  Kiv::Ptr<Kiv::KivType> const t = adapter().objectType();
  PyObject*& table = (*names)[t.ptr()];
  if (!table && !(table = PyDict_New())) throw py::error_already_set();
  if (PyObject* hit = PyDict_GetItemWithError(table, name.ptr())) return *static_cast<Kiv::KivAttr*>(PyLong_AsVoidPtr(hit));
  if (PyErr_Occurred()) throw py::error_already_set();
  std::string const n = py::str(name);
  Kiv::Ptr<Kiv::KivAttr> a = t ? t->attr(bytesOf(name, n)) : nullptr;
  if (!a) raise("UnknownAttributeError", typeName() + " has no attribute " + n, n);
  py::object const address = py::reinterpret_steal<py::object>(PyLong_FromVoidPtr(a.ptr()));
  if (!address || PyDict_SetItem(table, name.ptr(), address.ptr()) != 0) throw py::error_already_set();
  held->push_back(a);
  return *a;
}

std::string Object::typeName() const { return g ? describe(g->objectType()) : "object"; }

py::object wrap(Kiv::Ptr<Kiv::GenericIf> const& g) {
  py::object cls = py::type::of<Object>();
  if (classFactory) cls = py::reinterpret_borrow<py::object>(classFactory)(describe(g->objectType()));
  py::object inst = cls.attr("__new__")(cls);
  py::type::of<Object>().attr("__init__")(inst);
  Object& o = inst.cast<Object&>();
  o.g = g;
  o.generation = loopGeneration();
  o.isValue = !g->object();
  return inst;
}

Kiv::Ptr<Kiv::GenericIf::List_> argumentList(std::vector<Kiv::KivAttr::Argument> const& declared, py::args const& args,
                                             py::kwargs const& kwargs, std::string const& owner) {
  if (args.size() > declared.size()) {
    raise("UnknownArgumentError",
          "too many arguments for " + owner + ": it takes " + std::to_string(declared.size()) + ", not " +
              std::to_string(args.size()),
          owner);
  }
  for (auto const& [k, v] : kwargs) {
    std::string const name = py::str(k);
    bool known = false;
    for (std::size_t i = args.size(); i < declared.size(); ++i) known = known || declared[i].name.stdString() == name;
    if (!known) raise("UnknownArgumentError", owner + " takes no argument " + name + " here", name);
  }
  auto list = Kiv::make<GenericIf::List_>();
  for (std::size_t i = 0; i < declared.size(); ++i) {
    std::string const name = declared[i].name.stdString();
    py::object v;
    if (i < args.size()) {
      v = args[i];
    } else if (kwargs.contains(name.c_str())) {
      v = kwargs[name.c_str()];
    } else {
      raise("TypeMismatchError", owner + ": missing argument " + name + " (" + declared[i].typeName.stdString() + ")",
            name);
    }
    list->push(toGeneric(v, Kiv::KivType::typeNode(declared[i].typeName), name));
  }
  return list;
}

void defineObjects(py::module_& m) {
  py::class_<Object>(m, "Object",
                     "An object or value of a registered type. Attributes read and write as Python attributes;\n"
                     "collections are mappings; function attributes are methods.")
      .def(py::init<>())
      .def("_construct", &construct)
      .def("__getattr__", &getAttribute)
      .def("observe", &observe, py::arg("attribute"), py::arg("callback"),
           "Calls callback(key) after each change of the attribute (key None for a scalar attribute), in the\n"
           "runtime's notification order, until the returned Watch is dropped or closed.")
      .def("__eq__", &equal)
      .def("__ne__", [](Object const& self, py::handle other) { return !equal(self, other); })
      .def("__hash__",
           [](Object const& self) -> py::object {
             if (self.isValue) raise("OpNotSupportedError", "a value of " + self.typeName() + " is not hashable", "");
             return py::int_(reinterpret_cast<std::uintptr_t>(self.adapter().object()));
           })
      .def("__repr__",
           [](Object const& self) -> py::object {
             if (!self.g) return py::str("<unmade object>");
             if (self.isValue) return strOf(self.g->strRep());
             return py::str("<" + self.typeName() + " " + self.g->strRep().stdString() + ">");
           })
      .def("__str__", [](Object const& self) { return self.g ? strOf(self.g->strRep()) : py::str(""); })
      .def("__dir__",
           [](py::object self) {
             py::list names = py::module_::import("builtins").attr("object").attr("__dir__")(self);
             Object const& o = self.cast<Object const&>();
             if (o.g && o.g->objectType())
               for (auto const& a : o.g->objectType()->attrTable()->members()) names.append(a->name().stdString());
             return names;
           })
      .def_property_readonly("_kiv_type", &Object::typeName);

  // Writes go straight from the interpreter to the slot. A class made in
  // Python takes its slots from the names in its bases' dicts, where there
  // is no __setattr__ to find, so each class made from the registry is
  // given the slot too (_adopt).
  auto adopt = [](py::handle cls) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    type->tp_setattro = &setAttributeSlot;
    PyType_Modified(type);
  };
  adopt(py::type::of<Object>());
  m.def("_adopt", adopt);

  py::class_<Collection>(m, "Collection", "A collection attribute: a mapping from keys to members in the runtime's order.")
      .def("__getitem__", &Collection::get)
      .def("__setitem__", &Collection::set)
      .def("__delitem__", &Collection::del)
      .def("__len__", &Collection::size)
      .def("__contains__", &Collection::has)
      .def("__iter__", [](Collection const& c) { return py::iter(c.walk(false)); })
      .def("keys", [](Collection const& c) { return c.walk(false); })
      .def("items", [](Collection const& c) { return c.walk(true); })
      .def("values",
           [](Collection const& c) {
             py::list out;
             for (py::handle kv : c.walk(true)) out.append(kv.cast<py::tuple>()[1]);
             return out;
           })
      .def("get",
           [](Collection const& c, py::handle k, py::object fallback) {
             return c.has(k) ? c.get(k) : fallback;
           },
           py::arg("key"), py::arg("default") = py::none())
      .def("clear", &Collection::clear)
      .def("add", &Collection::add, "Makes (or finds) the member of an instantiating collection from its arguments.")
      .def("__repr__", [](Collection const& c) {
        return py::str("<{} {}>").format(c.name(), py::repr(py::dict(py::iter(c.walk(true)))));
      });

  py::class_<Method>(m, "Method", "A function attribute bound to its object.").def("__call__", &Method::call);

  py::class_<Watch>(m, "Watch", "An observer of one attribute; dropping or closing it detaches it.")
      .def_property_readonly("active", &Watch::active)
      .def_readonly("attribute", &Watch::attribute)
      .def("close", &Watch::close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Watch& w, py::args const&) { w.close(); });

  m.def("_set_class_factory", [](py::object f) {
    Py_XDECREF(classFactory);
    classFactory = f.release().ptr();
  });
  m.def("_getter", [](py::str const& name) {
    return py::cpp_function([name](Object const& self) { return getAttribute(self, name); },
                            py::name(std::string(name).c_str()));
  });
  m.def("_setter", [](py::str const& name) {
    return py::cpp_function([name](Object const& self, py::handle v) { setAttribute(self, name, v); },
                            py::name(std::string(name).c_str()));
  });
  m.def("_define_method", [](py::object cls, std::string const& name, std::string const& doc) {
    py::cpp_function f(
        [name](Object const& self, py::args const& args, py::kwargs const& kwargs) {
          return getAttribute(self, py::str(name)).cast<Method const&>().call(args, kwargs);
        },
        py::name(name.c_str()), py::is_method(cls), py::sibling(py::getattr(cls, name.c_str(), py::none())),
        py::doc(doc.c_str()));
    cls.attr(name.c_str()) = f;
  });
  m.def("types", [] {
    py::list out;
    for (auto const& t : Kiv::KivType::typeNodes()) out.append(typeDescription(*t));
    return out;
  }, "Every type of the registry, as dictionaries: name, entity, value, library, base, constructor, attributes.");
  m.def("from_text",
        [](std::string const& typeName, py::handle text) {
          return change(typeName, [&] {
            Kiv::Ptr<Kiv::KivType> const t = Kiv::KivType::typeNode(Kiv::String8(typeName));
            if (!t) raise("UnknownTypeError", "no registered type named " + typeName, typeName);
            return toPython(t->genericIfFromStrep(bytesOf(text, typeName), false));
          });
        },
        py::arg("type_name"), py::arg("text"), "Reads a value of the type from the runtime's text form.");
}

}  // namespace BtsPython

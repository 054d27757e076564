"""Python classes made from the type registry: one per registered type, named and nested as its
qualified name is (Bridging::Orva::Config is Bridging.Orva.Config), with a property per attribute
(so that help() lists them) and a method per function attribute."""
from typing import Any, Dict, List, Optional

from . import _bts

_CLASSES: Dict[str, type] = {}
_TYPES: Dict[str, Dict[str, Any]] = {}


class Namespace:
    """A namespace of qualified type names (Bridging, Bridging::Orva)."""

    def __init__(self, name: str) -> None:
        self.__name = name

    def __repr__(self) -> str:
        return f"<namespace {self.__name}>"


def _describe(attribute: Dict[str, Any]) -> str:
    args = ", ".join(f"{n}: {t}" for n, t in attribute["arguments"])
    if attribute["function"]:
        return f"{attribute['name']}({args})"
    if attribute["collection"]:
        return f"{attribute['name']}: {attribute['key']} -> {attribute['type']}" + (f"  add({args})" if args else "")
    return f"{attribute['name']}: {attribute['type']}"


def _init(self: _bts.Object, *args: Any, **kwargs: Any) -> None:
    _bts.Object.__init__(self)
    self._construct(type(self).__kiv_type__, args, kwargs)  # type: ignore[attr-defined]


def _type(name: str) -> Optional[Dict[str, Any]]:
    if name not in _TYPES:
        # A library loaded since: read the registry again.
        _TYPES.update((t["name"], t) for t in _bts.types())
    return _TYPES.get(name)


def class_for(name: str) -> type:
    """The class of the registered type `name` (made on first use); UnknownTypeError if none."""
    cls = _CLASSES.get(name)
    if cls is not None:
        return cls
    t = _type(name)
    if t is None:
        raise _bts.UnknownTypeError(f"no registered type named {name}")
    base = class_for(t["base"]) if t["base"] and _type(t["base"]) else _bts.Object
    ctor = ", ".join(f"{n}: {ty}" for n, ty in t["constructor"])
    if t["value"] and not t["constructor"]:
        ctor = "**fields"
    doc = [f"{name}({ctor})", ""] + ["    " + _describe(a) for a in t["attributes"]]
    members: Dict[str, Any] = {"__slots__": (), "__kiv_type__": name, "__doc__": "\n".join(doc),
                               "__init__": _init, "__module__": "bridging_test_support"}
    for a in t["attributes"]:
        if not a["function"]:
            # Writes go through Object.__setattr__; the setter is there for help().
            members[a["name"]] = property(_bts._getter(a["name"]), _bts._setter(a["name"]), doc=_describe(a))
    cls = type(name.split("::")[-1], (base,), members)
    cls.__qualname__ = name.replace("::", ".")
    _bts._adopt(cls)
    for a in t["attributes"]:
        if a["function"]:
            _bts._define_method(cls, a["name"], _describe(a))
    _CLASSES[name] = cls
    return cls


def _factory(name: str) -> type:
    try:
        return class_for(name)
    except _bts.UnknownTypeError:
        return _bts.Object


def library_types() -> List[Dict[str, Any]]:
    """The registry's types that have qualified names (A::B), outer before inner."""
    return sorted((t for t in _bts.types() if "::" in t["name"]), key=lambda t: t["name"].count("::"))


def install_namespaces(scope: Dict[str, Any]) -> None:
    """Puts each registered type's class into `scope` under its qualified name."""
    _bts._set_class_factory(_factory)
    for t in library_types():
        *outer, last = t["name"].split("::")
        holder: Any = None
        for i, part in enumerate(outer):
            if holder is None:
                if part not in scope:
                    scope[part] = Namespace(part)
                holder = scope[part]
            else:
                if not hasattr(holder, part):
                    setattr(holder, part, Namespace("::".join(outer[: i + 1])))
                holder = getattr(holder, part)
        cls = class_for(t["name"])
        if holder is None:
            scope[last] = cls
        else:
            setattr(holder, last, cls)


def new(type_name: str, *args: Any, **kwargs: Any) -> Any:
    """A new instance of the registered type `type_name`, from its constructor arguments."""
    return class_for(type_name)(*args, **kwargs)


def Value(type_name: str, **fields: Any) -> Any:  # noqa: N802 -- the name the runtime's text form calls
    """A value of the registered value type `type_name` with the given fields, so that
    eval(repr(v)) == v for every value v."""
    return class_for(type_name)(**fields)

"""Writes the package's type stubs, the registered types' part made from the type registry:

    python -m bridging_test_support._stubs DIR      # DIR/__init__.pyi and DIR/_bts.pyi

so that an editor completes attribute names and mypy checks tests against them."""
import sys
from typing import Any, Dict, List

from . import _bts
from ._classes import library_types

# Python's types for the runtime's built-in ones.
BUILTIN = {"bool": "bool", "double": "float", "Kiv::String": "str", "Kiv::Name": "str", "void*": "int",
           "unsigned short": "int", "unsigned int": "int", "unsigned long long": "int", "int": "int",
           "long long": "int", "Kiv::U8": "int", "Kiv::U16": "int", "Kiv::U32": "int", "Kiv::U64": "int"}

BTS_PYI = '''"""The extension module: generic objects, the event loop, observers, traces, replication."""
from typing import Any, Callable, Generic, Iterator, List, Optional, Tuple, TypeVar

K = TypeVar("K")
V = TypeVar("V")

class Error(Exception):
    subject: Optional[str]
class RangeError(Error, ValueError): ...
class TypeMismatchError(Error, TypeError): ...
class UnknownArgumentError(Error, TypeError): ...
class UnknownAttributeError(Error, AttributeError): ...
class UnknownTypeError(Error, LookupError): ...
class AbsentKeyError(Error, KeyError): ...
class ConstInstanceError(Error): ...
class BadIndexError(Error): ...
class OpNotSupportedError(Error): ...
class NameInUseError(Error): ...
class InternalError(Error): ...
class StaleObjectError(Error): ...
class ConnectionClosedError(Error): ...

class Watch:
    active: bool
    attribute: str
    def close(self) -> None: ...
    def __enter__(self) -> "Watch": ...
    def __exit__(self, *exc: Any) -> None: ...

class Object:
    def __init__(self) -> None: ...
    def _construct(self, type_name: str, args: Tuple[Any, ...], kwargs: dict[str, Any]) -> None: ...
    def observe(self, attribute: str, callback: Callable[[Any], Any]) -> Watch: ...
    def __getattr__(self, name: str) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...
    _kiv_type: str

class Collection(Generic[K, V]):
    def __getitem__(self, key: K) -> V: ...
    def __setitem__(self, key: K, value: V) -> None: ...
    def __delitem__(self, key: K) -> None: ...
    def __len__(self) -> int: ...
    def __contains__(self, key: object) -> bool: ...
    def __iter__(self) -> Iterator[K]: ...
    def keys(self) -> List[K]: ...
    def items(self) -> List[Tuple[K, V]]: ...
    def values(self) -> List[V]: ...
    def get(self, key: K, default: Optional[V] = None) -> Optional[V]: ...
    def clear(self) -> None: ...
    def add(self, *args: Any, **kwargs: Any) -> V: ...

class Method:
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...

class TraceRecord:
    handle: str
    context: str
    text: str
    level: int
    function: str

class TraceCapture:
    def __init__(self, handle: str = "", levels: int = 1023) -> None: ...
    def __enter__(self) -> "TraceCapture": ...
    def __exit__(self, *exc: Any) -> None: ...
    records: List[TraceRecord]
    texts: List[str]

class Connection:
    def __init__(self, fd: int, side: str = "first", mirror_dir: Optional[str] = "mirror") -> None: ...
    def mount(self, entity: Object) -> None: ...
    def close(self, reason: str = "closed by the test") -> None: ...
    open: bool
    close_reason: str
    records_received: int
    mirrors: dict[str, Any]

def reset() -> None: ...
def now() -> float: ...
def advance(seconds: float) -> None: ...
def run_until(time: float) -> None: ...
def run_once() -> None: ...
def pending() -> int: ...
def raise_callback_errors(raise_them: bool) -> None: ...
def collected_callback_errors() -> List[BaseException]: ...
def configure_trace(handle: str, enabled: bool, levels: int = 1023) -> None: ...
def types() -> List[dict[str, Any]]: ...
def from_text(type_name: str, text: str) -> Any: ...
def wait_for(done: Callable[[], object], timeout: float = 5.0) -> bool: ...
def _set_class_factory(factory: Callable[[str], type]) -> None: ...
def _getter(name: str) -> Callable[[Object], Any]: ...
def _setter(name: str) -> Callable[[Object, Any], None]: ...
def _define_method(cls: type, name: str, doc: str) -> None: ...
def _adopt(cls: type) -> None: ...
'''

INIT_HEAD = '''"""Type stubs of bridging_test_support; the classes below are made from the type registry."""
from typing import Any, Dict, List, Optional

from ._bts import (
{names}
)

def Value(type_name: str, **fields: Any) -> Any: ...
def new(type_name: str, *args: Any, **kwargs: Any) -> Any: ...
def class_for(name: str) -> type: ...
def install_namespaces(scope: Dict[str, Any]) -> None: ...
'''


def python_type(name: str, known: Dict[str, Dict[str, Any]], argument: bool = False, member: bool = False) -> str:
    if name in BUILTIN:
        return BUILTIN[name]
    t = known.get(name)
    if t is None:
        return "Any"
    cls = name.replace("::", ".")
    if not t["attributes"]:
        return "Any"  # read as its text form's Python literal (10, 'Ethernet1'), written as one
    if t["value"]:
        # An argument of a library's value type may also be its text form.
        return f"{cls} | str" if argument else cls
    return cls if member else f"Optional[{cls}]"


def class_lines(t: Dict[str, Any], known: Dict[str, Dict[str, Any]], nested: List[Dict[str, Any]],
                indent: str) -> List[str]:
    name = t["name"]
    base = t["base"].replace("::", ".") if t["base"] in known else "Object"
    lines = [f"{indent}class {name.split('::')[-1]}({base}):"]
    inner = indent + "    "
    lines.append(f"{inner}__kiv_type__: str")
    if t["value"] and not t["constructor"]:
        args = "".join(f", {a['name']}: {python_type(a['type'], known, True)} = ..." for a in t["attributes"]
                       if not a["function"] and not a["collection"])
        lines.append(f"{inner}def __init__(self, *{args}) -> None: ..." if args else
                     f"{inner}def __init__(self) -> None: ...")
    else:
        args = "".join(f", {n}: {python_type(ty, known, True)}" for n, ty in t["constructor"])
        lines.append(f"{inner}def __init__(self{args}) -> None: ...")
    for a in t["attributes"]:
        if a["function"]:
            args = "".join(f", {n}: {python_type(ty, known, True)}" for n, ty in a["arguments"])
            lines.append(f"{inner}def {a['name']}(self{args}) -> Any: ...")
        elif a["collection"]:
            key = python_type(a["key"], known)
            member = python_type(a["type"], known, member=True)
            lines.append(f"{inner}{a['name']}: Collection[{key}, {member}]")
        else:
            lines.append(f"{inner}{a['name']}: {python_type(a['type'], known)}")
    for n in nested:
        lines += class_lines(n, known, [], inner)
    return lines


def init_pyi() -> str:
    names = sorted(n for n in dir(_bts) if not n.startswith("__"))
    out = INIT_HEAD.format(names="\n".join(f"    {n} as {n}," for n in names))
    types = library_types()
    known = {t["name"]: t for t in types}
    # Namespaces (A::B) become classes holding the types' classes.
    tree: Dict[str, Any] = {}
    for t in types:
        node = tree
        for part in t["name"].split("::"):
            node = node.setdefault(part, {})
        node["__type__"] = t

    def emit(node: Dict[str, Any], name: str, indent: str) -> List[str]:
        t = node.get("__type__")
        children = {k: v for k, v in node.items() if k != "__type__"}
        if t is not None:
            lines = class_lines(t, known, [], indent)
        else:
            lines = [f"{indent}class {name}:"]
        for child, sub in children.items():
            lines += emit(sub, child, indent + "    ")
        if len(lines) == 1:
            lines.append(indent + "    ...")
        return lines

    for name, node in tree.items():
        out += "\n" + "\n".join(emit(node, name, "")) + "\n"
    return out


def main(directory: str) -> None:
    with open(f"{directory}/_bts.pyi", "w") as f:
        f.write(BTS_PYI)
    with open(f"{directory}/__init__.pyi", "w") as f:
        f.write(init_pyi())


if __name__ == "__main__":
    main(sys.argv[1])

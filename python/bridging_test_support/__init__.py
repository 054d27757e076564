"""The Bridging test support library from Python, generic over the runtime's type registry.

Every registered type is a class, under its qualified name::

    import bridging_test_support as bts

    bts.reset()                                   # a fresh loop on simulated time
    cfg = bts.Bridging.Orva.Config("cfg")         # or bts.new("Bridging::Orva::Config", "cfg")
    cfg.extTapDevice["tap1"] = bts.Bridging.Orva.Config.TapDevice(name="tap1", fileno=3)
    watch = cfg.observe("complete", print)
    cfg.complete = True                           # prints None (a scalar attribute has no key)
    bts.advance(1.0)

Failures are exceptions under bts.Error, one class per kind of failure.
"""
from ._bts import (
    AbsentKeyError,
    BadIndexError,
    Collection,
    Connection,
    ConnectionClosedError,
    ConstInstanceError,
    Error,
    InternalError,
    Method,
    NameInUseError,
    Object,
    OpNotSupportedError,
    RangeError,
    StaleObjectError,
    TraceCapture,
    TraceRecord,
    TypeMismatchError,
    UnknownArgumentError,
    UnknownAttributeError,
    UnknownTypeError,
    Watch,
    advance,
    collected_callback_errors,
    configure_trace,
    from_text,
    now,
    pending,
    raise_callback_errors,
    reset,
    run_once,
    run_until,
    types,
    wait_for,
)
from ._classes import Value, class_for, new, install_namespaces

install_namespaces(globals())

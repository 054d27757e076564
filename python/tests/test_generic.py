"""Objects, values and collections of the agent model through the generic binding alone."""
import random
from typing import Any, Callable, List, Tuple

import pytest

import bridging_test_support as bts
from bridging_test_support.pytest_plugin import assert_attr, assert_members

TAP = "Bridging::Orva::Config::TapDevice"


def tap(name: str, fileno: int) -> Any:
    return bts.Value(TAP, name=name, fileno=fileno)


def test_classes_from_the_registry_build_read_and_write_the_model(bts_loop: Any) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    assert bts.new("Bridging::Orva::Config", "cfg2").name == "cfg2"
    assert isinstance(cfg, bts.Object) and cfg.name == "cfg" and cfg.complete is False
    cfg.complete = True
    assert_attr(cfg, "complete", True)
    status = bts.Bridging.Orva.Status(name="status")
    status.fabricDeviceName = "fab0"
    assert (status.fabricDeviceName, status.initialized) == ("fab0", False)
    assert cfg.kivHasAttrLogInterface() is True
    assert {"extTapDevice", "complete"} <= set(dir(cfg))
    assert "extTapDevice" in (bts.Bridging.Orva.Config.__doc__ or "")


def test_collection_is_a_mapping_in_the_runtimes_order(bts_loop: Any) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    devices = {f"et{i}": tap(f"Ethernet{i}", i) for i in range(40)}
    for k, v in devices.items():
        cfg.extTapDevice[k] = v
    keys = list(cfg.extTapDevice)
    assert sorted(keys) == sorted(devices) and keys != sorted(keys), "the runtime's hash order, not insertion"
    assert [k for k, _ in cfg.extTapDevice.items()] == keys == cfg.extTapDevice.keys()
    assert cfg.extTapDevice.values() == [devices[k] for k in keys]
    assert_members(cfg.extTapDevice, devices)
    assert len(cfg.extTapDevice) == 40 and "et3" in cfg.extTapDevice and "et99" not in cfg.extTapDevice
    assert cfg.extTapDevice.get("et99") is None
    del cfg.extTapDevice["et3"]
    assert len(cfg.extTapDevice) == 39 and "et3" not in cfg.extTapDevice
    cfg.extTapDevice.clear()
    assert len(cfg.extTapDevice) == 0 and list(cfg.extTapDevice) == []


def test_values_compare_print_and_read_back(bts_loop: Any) -> None:
    a = tap("tap1", 3)
    assert a == tap("tap1", 3) and a != tap("tap1", 4) and a != "tap1"
    assert repr(a) == "Value('Bridging::Orva::Config::TapDevice', ** {'name': 'tap1', 'fileno': 3})"
    assert bts.from_text(TAP, repr(a)) == a
    a.fileno = 9  # a value is the caller's copy
    assert a.fileno == 9
    with pytest.raises(bts.OpNotSupportedError):
        hash(a)


def test_text_form_is_a_python_expression_of_the_same_value_for_any_name(bts_loop: Any) -> None:
    rng = random.Random(18)
    every_byte = "".join(map(chr, range(256)))
    names = [every_byte, "'", '"', "\\", "\\'", "'\"'", ""] + [
        "".join(rng.choice(every_byte + "''\\\\\"") for _ in range(rng.randrange(12))) for _ in range(3000)]
    for i, name in enumerate(names):
        x = tap(name, i % 65536)
        text = repr(x)
        assert eval(text, {"Value": bts.Value}) == x, text
        assert bts.from_text(TAP, text) == x and repr(bts.from_text(TAP, text)) == text, text


BAD_INPUT: List[Tuple[str, Callable[[Any], Any], type, str]] = [
    ("unknown attribute", lambda c: setattr(c, "completed", True), bts.UnknownAttributeError, "completed"),
    ("unknown attribute read", lambda c: c.nothing, bts.UnknownAttributeError, "nothing"),
    ("wrong type", lambda c: setattr(c, "complete", "yes"), bts.TypeMismatchError, "complete"),
    ("wrong member type", lambda c: c.extTapDevice.__setitem__("k", 3), bts.TypeMismatchError, "extTapDevice"),
    ("wrong key type", lambda c: c.extTapDevice.__setitem__(3, tap("t", 1)), bts.TypeMismatchError, "extTapDevice"),
    ("descriptor out of range", lambda c: tap("t", 70000), bts.RangeError, "fileno"),
    ("negative descriptor", lambda c: tap("t", -1), bts.RangeError, "fileno"),
    ("huge number", lambda c: tap("t", 1 << 80), bts.RangeError, "fileno"),
    ("VLAN 0", lambda c: bts.Bridging.Config("br").vlanConfig.add(0), bts.RangeError, "vlanId: VLAN id 0"),
    ("character above a byte", lambda c: tap("\u20ac", 1), bts.RangeError, "name"),
    ("absent key read", lambda c: c.extTapDevice["absent"], bts.AbsentKeyError, "extTapDevice"),
    ("absent key deleted", lambda c: c.extTapDevice.__delitem__("absent"), bts.AbsentKeyError, "extTapDevice"),
    ("collection assigned", lambda c: setattr(c, "extTapDevice", {}), bts.OpNotSupportedError, "extTapDevice"),
    ("too few arguments", lambda c: bts.new("Bridging::Orva::Config"), bts.TypeMismatchError, "name"),
    ("too many arguments", lambda c: bts.new("Bridging::Orva::Config", "a", "b"), bts.UnknownArgumentError, "Config"),
    ("unknown keyword", lambda c: bts.new("Bridging::Orva::Config", nam="a"), bts.UnknownArgumentError, "nam"),
    ("unknown field", lambda c: bts.Value(TAP, nmae="t"), bts.UnknownAttributeError, "nmae"),
    ("unknown type", lambda c: bts.new("Bridging::Orva::Konfig", "a"), bts.UnknownTypeError, "Konfig"),
    ("function argument", lambda c: c.kivHasAttrLogInterface(1), bts.UnknownArgumentError, "kivHasAttrLogInterface"),
    ("unreadable text", lambda c: bts.from_text(TAP, "Value('x'"), bts.RangeError, ""),
]


@pytest.mark.parametrize("case,bad,kind,named", BAD_INPUT, ids=[c[0] for c in BAD_INPUT])
def test_bad_input_is_an_exception_naming_its_subject_and_changes_nothing(
        bts_loop: Any, case: str, bad: Callable[[Any], Any], kind: type, named: str) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    cfg.extTapDevice["k"] = tap("t", 1)
    seen: List[Any] = []
    watch = cfg.observe("extTapDevice", seen.append)
    before = (cfg.complete, list(cfg.extTapDevice.items()))
    raised: Any
    with pytest.raises(kind) as raised:
        bad(cfg)
    assert isinstance(raised.value, bts.Error)
    assert named in str(raised.value), case
    assert (cfg.complete, list(cfg.extTapDevice.items())) == before and seen == [], "nothing changed"
    assert watch.active

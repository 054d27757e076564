"""Observers as Python callbacks, the loop on simulated time, and traces."""
from typing import Any, Callable, Dict, List, Optional

import pytest

import bridging_test_support as bts


def test_callbacks_hear_keys_in_notification_order_until_dropped(bts_loop: Any) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    heard: List[Any] = []
    first = cfg.observe("extTapDevice", lambda k: heard.append(("first", k)))
    second = cfg.observe("extTapDevice", lambda k: heard.append(("second", k)))
    scalar = cfg.observe("complete", lambda k: heard.append(("complete", k)))
    cfg.extTapDevice["a"] = bts.Value("Bridging::Orva::Config::TapDevice", name="t", fileno=1)
    cfg.complete = True
    cfg.complete = True  # no change, no notification
    del first
    del cfg.extTapDevice["a"]
    assert heard == [("first", "a"), ("second", "a"), ("complete", None), ("second", "a")]
    scalar.close()
    cfg.complete = False
    assert not scalar.active and heard[-1] == ("second", "a")


def test_a_raising_callback_goes_to_the_runtime_and_is_raised_when_the_change_ends(bts_loop: Any) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    heard: List[Optional[str]] = []

    def boom(key: Optional[str]) -> None:
        raise LookupError("boom " + str(key))

    watches = [cfg.observe("complete", boom), cfg.observe("complete", heard.append),
               cfg.observe("complete", boom)]
    with pytest.raises(ExceptionGroup) as group:
        cfg.complete = True
    assert [str(e) for e in group.value.exceptions] == ["boom None", "boom None"]
    assert heard == [None] and cfg.complete is True, "the others were called and the change stands"
    watches.pop()
    with pytest.raises(LookupError, match="boom"):
        cfg.complete = False
    bts.raise_callback_errors(False)
    cfg.complete = True
    assert [str(e) for e in bts.collected_callback_errors()] == ["boom None"]
    assert bts.collected_callback_errors() == [] and heard == [None, None, None]


def test_callbacks_that_drop_their_watch_or_their_object(bts_loop: Any) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    held: Dict[str, Any] = {}
    heard: List[str] = []

    def once(key: Optional[str]) -> None:
        heard.append("once")
        held.pop("once").close()

    def drops_object(key: Optional[str]) -> None:
        heard.append("drop")
        held.pop("cfg", None)

    held["once"] = cfg.observe("complete", once)
    held["drop"] = cfg.observe("complete", drops_object)
    held["cfg"] = cfg
    del cfg
    held["cfg"].complete = True
    assert heard == ["once", "drop"] and "cfg" not in held
    watch = held["drop"]
    assert watch.active


def test_objects_of_a_reset_loop_are_stale(bts_loop: Any) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    value = bts.Value("Bridging::Orva::Config::TapDevice", name="t", fileno=1)
    devices = cfg.extTapDevice
    bts.reset()
    uses: List[Callable[[], Any]] = [lambda: cfg.complete, lambda: setattr(cfg, "complete", True),
                                     lambda: len(devices), lambda: cfg.observe("complete", print)]
    for use in uses:
        with pytest.raises(bts.StaleObjectError, match="cfg"):
            use()
    assert value.fileno == 1, "values belong to no loop"


def test_simulated_time_moves_only_when_run(bts_loop: Any) -> None:
    assert bts.now() == 0.0 and bts.pending() == 0
    bts.advance(1.5)
    bts.run_until(2.0)
    bts.run_until(1.0)  # an earlier time runs only what is due
    assert bts.now() == 2.0
    with pytest.raises(bts.RangeError, match="run_until"):
        bts.run_until(float("nan"))


def test_traces_are_captured_into_a_list(bts_model: Any) -> None:
    bts_model.topology("blue")
    bts_model.port("blue", "Ethernet1")
    bts.advance(1e-3)
    with bts.TraceCapture("TopoStateReflector", 0x0180) as capture:
        bts_model.topoConfig.topoConfig["blue"].topoPortConfig["Ethernet1"].state = "forwarding"
        bts.advance(1e-3)
    assert any(t.startswith("Scheduling state update for port") for t in capture.texts)
    assert all(r.level in (7, 8) for r in capture.records)

"""pytest fixtures and assertions for tests of the library.

Enable it in a conftest.py::

    pytest_plugins = ["bridging_test_support.pytest_plugin"]

Fixtures:
    bts_loop    the package, on a fresh event loop (simulated time 0.0) for the test
    bts_model   a model of bridge-sim's default size with its reflector tree (see Model)
    bts_mirror  a second process that mirrors what the test mounts (see MirrorProcess)

Assertions (a failure names the attribute and both values):
    assert_attr(obj, "complete", True)
    assert_members(cfg.extTapDevice, {"et1": tap})
"""
import multiprocessing
import multiprocessing.connection
import multiprocessing.reduction
import os
import socket
from typing import Any, Callable, Dict, Iterator, List, Mapping, Optional, Tuple

import pytest

import bridging_test_support as bts

# --- Assertions


def assert_attr(obj: Any, attribute: str, expected: Any) -> None:
    """obj.<attribute> == expected, or a failure naming the attribute and both values."""
    actual = getattr(obj, attribute)
    if actual != expected:
        raise AssertionError(f"{obj!r}.{attribute} is {actual!r}, expected {expected!r}")


def assert_members(collection: Any, expected: Mapping[Any, Any]) -> None:
    """The collection holds exactly `expected`; a failure names each key that differs and both values."""
    actual = dict(collection.items())
    wrong = [f"[{k!r}] is {actual.get(k, '<absent>')!r}, expected {expected.get(k, '<absent>')!r}"
             for k in sorted(set(actual) | set(expected), key=repr) if actual.get(k) != expected.get(k)]
    if wrong:
        raise AssertionError(f"{collection!r}:\n  " + "\n  ".join(wrong))


# --- Fixtures


@pytest.fixture
def bts_loop() -> Iterator[Any]:
    """The package on a fresh event loop; objects of earlier tests are stale."""
    bts.reset()
    yield bts
    bts.reset()


class Model:
    """The agent's world: topology and bridging configuration and status, a clock, the state reflector
    tree over them (root), and the agent's Config and Status, named as bridge-sim names them.
    build() fills it as bridge-sim's default run does: topologies topo0.., ports Ethernet1.. in each,
    VLANs 1.. over the topologies in turn, hosts spread over the VLANs and ports, a tap device per port."""

    def __init__(self) -> None:
        self.topoConfig = bts.new("Bridging::Topology::Config", "topoConfig")
        self.topoStatus = bts.new("Bridging::Topology::Inst::Status", "topoStatus")
        self.brConfig = bts.new("Bridging::Config", "brConfig")
        self.brStatus = bts.new("Bridging::Status", "brStatus")
        self.clock = bts.new("Kiv::Clock", "clock")
        self.root: Optional[Any] = bts.Bridging.StateReflector(
            self.topoConfig, self.topoStatus, self.brConfig, self.brStatus, self.clock)
        self.agentConfig = bts.Bridging.Orva.Config("agentConfig")
        self.agentStatus = bts.Bridging.Orva.Status("agentStatus")

    def topology(self, name: str) -> None:
        self.topoConfig.topoConfig.add(name)
        self.topoStatus.topoStatus.add(name)

    def port(self, topology: str, port: str) -> None:
        self.topoConfig.topoConfig[topology].topoPortConfig.add(port)
        self.topoStatus.topoStatus[topology].topoPortStatus.add(port)

    def vlan(self, vid: int, topology: str) -> None:
        """The VLAN's configuration, its forwarding database (the Fid of the same number) and its topology."""
        self.brConfig.vlanConfig.add(vid)
        self.brStatus.fdbStatus.add(vid)
        self.topoConfig.vidToTopoMap[vid] = self.topoConfig.topoConfig[topology]

    def host(self, vid: int, addr: str, port: str) -> None:
        self.brStatus.fdbStatus[vid].learnedHost[addr] = port

    def flush(self, topology: str, port: str) -> int:
        """Raises the port's flush request counter; returns its new value."""
        config = self.topoConfig.topoConfig[topology].topoPortConfig[port]
        config.fdbFlush += 1
        return int(config.fdbFlush)

    def build(self, topologies: int = 2, ports: int = 8, vlans: int = 4, hosts: int = 64) -> "Model":
        for t in range(topologies):
            self.topology(f"topo{t}")
            for p in range(ports):
                self.port(f"topo{t}", f"Ethernet{p + 1}")
        for v in range(vlans):
            self.vlan(v + 1, f"topo{v % topologies}")
        for h in range(hosts):
            self.host(h % vlans + 1, "00:1c:73:%02x:%02x:%02x" % (h >> 16 & 255, h >> 8 & 255, h & 255),
                      f"Ethernet{h % ports + 1}")
        for p in range(ports):
            self.agentConfig.extTapDevice[f"et{p + 1}"] = bts.Value(
                "Bridging::Orva::Config::TapDevice", name=f"Ethernet{p + 1}", fileno=p + 3)
        bts.advance(1e-3)
        return self


@pytest.fixture
def bts_model(bts_loop: Any) -> Iterator[Model]:
    """An empty Model with its reflector tree on a fresh loop; call build() for bridge-sim's default size."""
    model = Model()
    yield model
    model.root = None


def _mirror_main(control: multiprocessing.connection.Connection) -> None:
    """The mirror process: mirrors what its peer mounts into the directory "mirror", answers
    ("eval", expression) with the repr of the expression over `mirrors` and `connection`, takes ("connect",) followed
    by a descriptor for a new connection, and ends on ("stop",)."""
    bts.reset()
    conn: Optional[bts.Connection] = None
    mirrors: Dict[str, Any] = {}
    while True:
        bts.wait_for(control.poll, timeout=3600)
        request = control.recv()
        try:
            if request[0] == "stop":
                control.send(("ok", None))
                return
            if request[0] == "connect":
                fd = multiprocessing.reduction.recv_handle(control)
                conn = bts.Connection(fd, side="second", mirror_dir="mirror")
                mirrors = conn.mirrors
                control.send(("ok", None))
            elif request[0] == "eval":
                control.send(("ok", repr(eval(request[1], {"mirrors": mirrors, "connection": conn, "bts": bts}))))
        except Exception as e:  # the test hears of it
            control.send(("error", f"{type(e).__name__}: {e}"))


class MirrorProcess:
    """A second process connected over a socket pair. mount(entity) replicates an entity into it;
    value(expression) evaluates an expression there over its `mirrors` (entity name: mirror) and its
    `connection`;
    await_value() waits until that equals what the test expects; break_link() and reconnect()
    break the connection and make a new one, on which the same entities are mounted again."""

    def __init__(self) -> None:
        ctx = multiprocessing.get_context("fork")
        self.control, child = ctx.Pipe()
        self.process = ctx.Process(target=_mirror_main, args=(child,), daemon=True)
        self.process.start()
        child.close()
        self.mounted: List[Any] = []
        self.connection: Optional[bts.Connection] = None
        self.reconnect()

    def _ask(self, *request: Any, handle: Optional[int] = None) -> Any:
        self.control.send(request)
        if handle is not None:
            multiprocessing.reduction.send_handle(self.control, handle, self.process.pid)
        if not bts.wait_for(self.control.poll, timeout=10.0):
            raise AssertionError(f"the mirror process did not answer {request!r}")
        status, answer = self.control.recv()
        if status != "ok":
            raise AssertionError(f"the mirror process failed {request!r}: {answer}")
        return answer

    def reconnect(self) -> None:
        mine, theirs = socket.socketpair()
        self._ask("connect", handle=theirs.fileno())
        theirs.close()
        self.connection = bts.Connection(mine.detach())
        for entity in self.mounted:
            self.connection.mount(entity)

    def break_link(self) -> None:
        assert self.connection is not None
        self.connection.close("broken by the test")

    def mount(self, entity: Any) -> None:
        self.mounted.append(entity)
        assert self.connection is not None
        self.connection.mount(entity)

    def value(self, expression: str) -> Any:
        return eval(self._ask("eval", expression), {"Value": bts.Value})

    def await_value(self, expression: str, expected: Any, timeout: float = 5.0) -> None:
        """Waits until the mirror's `expression` equals `expected`; a failure names both values."""
        last: List[Any] = [None]

        def holds() -> bool:
            last[0] = self.value(expression)
            return bool(last[0] == expected)

        if not bts.wait_for(holds, timeout=timeout):
            raise AssertionError(f"mirror {expression} is {last[0]!r}, expected {expected!r}")

    def stop(self) -> None:
        if self.process.is_alive():
            self._ask("stop")
        self.process.join(5.0)


@pytest.fixture
def bts_mirror(bts_loop: Any) -> Iterator[MirrorProcess]:
    """A mirror process connected to this one, stopped after the test."""
    mirror = MirrorProcess()
    yield mirror
    mirror.stop()

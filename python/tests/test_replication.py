"""Replication between processes over real sockets, driven from Python."""
import os
import socket
import sys
import tempfile
import threading
from typing import Any, Callable, List, Tuple

import pytest

import bridging_test_support as bts
from bridging_test_support.pytest_plugin import MirrorProcess

TAP = "Bridging::Orva::Config::TapDevice"


def tap(name: str, fileno: int) -> Any:
    return bts.Value(TAP, name=name, fileno=fileno)


def test_mirror_process_follows_through_a_break_and_a_reconnect(bts_mirror: MirrorProcess) -> None:
    cfg = bts.Bridging.Orva.Config("agentConfig")
    status = bts.Bridging.Orva.Status("agentStatus")
    for i in range(20):
        cfg.extTapDevice[f"et{i}"] = tap(f"Ethernet{i}", i + 3)
    bts_mirror.mount(cfg)
    bts_mirror.mount(status)
    bts_mirror.await_value("sorted(mirrors)", ["agentConfig", "agentStatus"])
    bts_mirror.await_value("dict(mirrors['agentConfig'].extTapDevice.items())", dict(cfg.extTapDevice.items()))
    status.fabricDeviceName = "fab0"
    bts_mirror.await_value("mirrors['agentStatus'].fabricDeviceName", "fab0")

    bts_mirror.break_link()
    bts_mirror.await_value("connection.open", False)
    for i in range(0, 20, 2):
        del cfg.extTapDevice[f"et{i}"]
    cfg.extTapDevice["new"] = tap("Ethernet99", 99)
    cfg.complete = True
    bts_mirror.reconnect()
    bts_mirror.await_value("dict(mirrors['agentConfig'].extTapDevice.items())", dict(cfg.extTapDevice.items()))
    bts_mirror.await_value("mirrors['agentConfig'].complete", True)
    assert len(cfg.extTapDevice) == 11


def unix_pair() -> Tuple[socket.socket, socket.socket]:
    path = os.path.join(tempfile.mkdtemp(), "log")
    listener = socket.socket(socket.AF_UNIX)
    listener.bind(path)
    listener.listen(1)
    client = socket.socket(socket.AF_UNIX)
    client.connect(path)
    server, _ = listener.accept()
    listener.close()
    os.unlink(path)
    return client, server


def tcp_pair() -> Tuple[socket.socket, socket.socket]:
    listener = socket.create_server(("127.0.0.1", 0))
    client = socket.create_connection(listener.getsockname())
    server, _ = listener.accept()
    listener.close()
    return client, server


@pytest.mark.parametrize("pair", [unix_pair, tcp_pair], ids=["unix", "tcp"])
def test_mount_on_one_end_makes_a_mirror_at_the_other(
        bts_loop: Any, pair: Callable[[], Tuple[socket.socket, socket.socket]]) -> None:
    a, b = pair()
    source = bts.Connection(a.detach())
    peer = bts.Connection(b.detach(), side="second", mirror_dir=f"mirror-{pair.__name__}")
    cfg = bts.Bridging.Orva.Config("cfg")
    cfg.extTapDevice["et1"] = tap("Ethernet1", 3)
    source.mount(cfg)
    assert bts.wait_for(lambda: "cfg" in peer.mirrors and "et1" in peer.mirrors["cfg"].extTapDevice)
    mirror = peer.mirrors["cfg"]
    heard: List[Any] = []
    watch = mirror.observe("extTapDevice", heard.append)
    cfg.extTapDevice["et2"] = tap("Ethernet2", 4)
    assert bts.wait_for(lambda: heard == ["et2"]), heard
    assert mirror.extTapDevice["et2"] == tap("Ethernet2", 4) and mirror is not cfg
    source.close("done")
    assert bts.wait_for(lambda: not peer.open)
    with pytest.raises(bts.ConnectionClosedError, match="done"):
        source.mount(cfg)
    watch.close()


def test_waiting_on_descriptors_lets_other_python_threads_run(bts_loop: Any) -> None:
    a, b = socket.socketpair()
    source, peer = bts.Connection(a.detach()), bts.Connection(b.detach(), side="second")
    go, ran = threading.Event(), threading.Event()

    def work() -> None:
        go.wait()
        ran.set()

    worker = threading.Thread(target=work)
    worker.start()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)  # no thread takes the GIL unless its holder gives it up
    try:
        go.set()
        assert bts.wait_for(ran.is_set, timeout=5.0), "the worker ran only while the loop waited"
    finally:
        sys.setswitchinterval(interval)
        worker.join()
    assert source.open and peer.open

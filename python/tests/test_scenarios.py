"""The README's host example, bridge-sim's flush scenario and its default set-up, in Python."""
from typing import Any

import bridging_test_support as bts
from bridging_test_support.pytest_plugin import Model, assert_attr, assert_members


def test_readme_host_example(bts_loop: Any) -> None:
    topo_config = bts.Bridging.Topology.Config("topoConfig")
    topo_status = bts.Bridging.Topology.Inst.Status("topoStatus")
    root = bts.Bridging.StateReflector(topo_config, topo_status, bts.Bridging.Config("brConfig"),
                                       bts.Bridging.Status("brStatus"), bts.Kiv.Clock("clock"))
    port = topo_config.topoConfig.add("default").topoPortConfig.add("Ethernet1")
    status = topo_status.topoStatus.add("default").topoPortStatus.add("Ethernet1")
    bts.advance(1e-6)  # the tree grows a reflector for the new port
    port.state = "forwarding"
    bts.advance(1e-6)  # the status follows 2^-20 s later
    assert_attr(status, "state", "forwarding")
    del root  # tears the tree down


def test_flush_scenario(bts_model: Model) -> None:
    m = bts_model
    for topology in ("blue", "green"):
        m.topology(topology)
    for topology, port in (("blue", "Ethernet1"), ("blue", "Ethernet2"), ("green", "Ethernet1")):
        m.port(topology, port)
    for vid, topology in ((10, "blue"), (20, "blue"), (30, "green")):
        m.vlan(vid, topology)
    m.host(10, "00:1c:73:00:00:01", "Ethernet1")
    m.host(10, "00:1c:73:00:00:02", "Ethernet2")
    m.host(20, "00:1c:73:00:00:03", "Ethernet1")
    m.host(30, "00:1c:73:00:00:04", "Ethernet1")  # another topology: stays
    bts.advance(0.001)

    m.flush("blue", "Ethernet1")
    report = m.topoStatus.topoStatus["blue"].topoPortStatus["Ethernet1"]
    assert_attr(report, "fdbFlushReport", 0)  # reported 2^-20 s later
    bts.advance(0.001)
    assert_attr(report, "fdbFlushReport", 1)
    assert_members(m.brStatus.fdbStatus[10].learnedHost,
                   {"00:1c:73:00:00:02": bts.Value("Bridging::LearnedHost", addr="00:1c:73:00:00:02", intf="Ethernet2")})
    assert len(m.brStatus.fdbStatus[20].learnedHost) == 0
    assert m.brStatus.fdbStatus[30].learnedHost["00:1c:73:00:00:04"].intf == "Ethernet1"


def test_default_set_up_grows_a_reflector_per_port_and_reflects_every_state(bts_model: Model) -> None:
    m = bts_model.build()
    assert m.root is not None
    assert sum(len(t.topoPortStateReflector) for t in m.root.topoStateReflector.values()) == 16
    assert sum(len(f.learnedHost) for f in m.brStatus.fdbStatus.values()) == 64
    for topology in m.topoConfig.topoConfig.values():
        for port in topology.topoPortConfig.values():
            port.state = "forwarding"
    bts.advance(1e-3)
    states = {p.state for t in m.topoStatus.topoStatus.values() for p in t.topoPortStatus.values()}
    assert states == {"forwarding"}

"""The installed Python package, as a test project uses it: run by tests/consumer/run against the
installed prefix and against the unpacked Debian package (BTS_PYTHON_ROOT: where it must come from)."""
import os
from typing import Any

import bridging_test_support as bts

pytest_plugins = ["bridging_test_support.pytest_plugin"]


def test_the_package_comes_from_the_installed_tree_with_its_stubs() -> None:
    where = os.path.dirname(bts.__file__)
    assert where.startswith(os.environ["BTS_PYTHON_ROOT"]), where
    assert os.path.exists(os.path.join(where, "__init__.pyi")) and os.path.exists(os.path.join(where, "py.typed"))


def test_the_agent_model_through_the_registry(bts_loop: Any) -> None:
    cfg = bts.Bridging.Orva.Config("cfg")
    heard: list[Any] = []
    watch = cfg.observe("complete", heard.append)
    cfg.complete = True
    bts.advance(1.0)
    assert heard == [None] and bts.now() == 1.0 and watch.active

pytest_plugins = ["bridging_test_support.pytest_plugin"]

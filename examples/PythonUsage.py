# A pytest-style check of the agent model from Python, on simulated time.
import bridging_test_support as bts

bts.reset()  # a fresh event loop: simulated time 0.0
cfg = bts.Bridging.Orva.Config("agentConfig")
heard: list[str] = []
watch = cfg.observe("extTapDevice", heard.append)  # called with the key of each change
cfg.extTapDevice["et1"] = bts.Value("Bridging::Orva::Config::TapDevice", name="Ethernet1", fileno=3)
cfg.complete = True
bts.advance(1.0)
assert heard == ["et1"] and cfg.extTapDevice["et1"].fileno == 3, heard
print("observed", heard, "at", bts.now())

// The extension module bridging_test_support._bts: the runtime's generic
// access, event loop, observers, traces and replication for Python. The
// package around it (bridging_test_support/__init__.py) makes a Python
// class for each registered type.
#include "Binding.h"

PYBIND11_MODULE(_bts, m) {
  m.doc() = "The Bridging test support library through the runtime's type registry.";
  BtsPython::defineErrors(m);
  BtsPython::defineObjects(m);
  BtsPython::defineLoop(m);
  BtsPython::defineConnections(m);
}

// The event loop from Python, on simulated time; what observer callbacks
// raise; traces captured into Python lists.
//
// A test resets the loop first (the pytest fixture does): simulated time
// 0.0, nothing queued, and every object made before is stale, so that no
// test works on another test's entities by accident.
#include <pybind11/stl.h>

#include <memory>
#include <utility>
#include <vector>

#include "Binding.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Trace.h"

namespace BtsPython {

namespace {

std::uint64_t generation = 1;

// What callbacks raised during the current outermost change, and what to
// do with it at its end.
struct CallbackErrors {
  int depth = 0;
  bool raiseAtEnd = true;
  std::vector<py::object>* pending = new std::vector<py::object>();   // lives as long as the module
  std::vector<py::object>* collected = new std::vector<py::object>();
};
CallbackErrors errors;

void raisePending(std::vector<py::object> pending) {
  if (pending.size() == 1) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(pending[0].ptr())), pending[0].ptr());
    throw py::error_already_set();
  }
  py::object group = py::module_::import("builtins").attr("ExceptionGroup");
  py::object exc = group("observer callbacks raised", py::cast(pending));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  throw py::error_already_set();
}

// A trace capture for the length of a `with` block; its records stay
// readable afterwards.
struct TraceCapture {
  std::unique_ptr<Kiv::TraceCapture> capture;
  std::string handle;
  std::uint16_t levels;
  std::vector<Kiv::TraceRecord> kept;

  std::vector<Kiv::TraceRecord> const& records() const { return capture ? capture->records() : kept; }
  py::list texts() const {
    py::list out;
    for (auto const& r : records()) out.append(strOf(r.text));
    return out;
  }
};

}  // namespace

std::uint64_t loopGeneration() noexcept { return generation; }

void callbackRaised(py::error_already_set& e) {
  py::object value = e.value();
  if (e.trace()) PyException_SetTraceback(value.ptr(), e.trace().ptr());
  errors.pending->push_back(std::move(value));
}

namespace detail {

void enterChange() noexcept { ++errors.depth; }

void leaveChange(bool failed) {
  if (--errors.depth > 0 || errors.pending->empty()) return;
  std::vector<py::object> pending = std::move(*errors.pending);
  errors.pending->clear();
  if (!errors.raiseAtEnd) {
    for (auto& e : pending) errors.collected->push_back(std::move(e));
    return;
  }
  // The change's own failure is raised; the callbacks' are noted on it.
  if (failed) {
    if (PyErr_Occurred()) return;
    for (auto& e : pending) errors.collected->push_back(std::move(e));
    return;
  }
  raisePending(std::move(pending));
}

}  // namespace detail

void defineLoop(py::module_& m) {
  m.def("reset",
        [] {
          if (Kiv::eventLoop().running()) raise("Error", "reset: the event loop is running", "reset");
          change("reset", [] { Kiv::eventLoop().reset(); });
          ++generation;
          errors.pending->clear();
          errors.collected->clear();
          errors.raiseAtEnd = true;
        },
        "Simulated time at 0.0, nothing queued; every object made before is stale from now on.");
  m.def("now", [] { return Kiv::now(); }, "The event loop's time in seconds.");
  m.def("advance", [](double seconds) { change("advance", [&] { Kiv::eventLoop().advance(seconds); }); },
        py::arg("seconds"), "Runs everything due in the next `seconds` of simulated time, in time order.");
  m.def("run_until", [](double t) { change("run_until", [&] { Kiv::eventLoop().runUntil(t); }); }, py::arg("time"),
        "Runs everything due at or before `time`; the time is then `time`.");
  m.def("run_once", [] { change("run_once", [] { Kiv::eventLoop().runOnce(); }); },
        "One turn of the loop at the current time.");
  m.def("pending", [] { return Kiv::eventLoop().pending(); }, "The number of queued timers and deferred calls.");
  m.def("raise_callback_errors", [](bool raise) { errors.raiseAtEnd = raise; }, py::arg("raise_them"),
        "True (the default after reset): what observer callbacks raise is raised when the change that called them\n"
        "ends. False: it is collected for collected_callback_errors().");
  m.def("collected_callback_errors",
        [] {
          py::list out = py::cast(*errors.collected);
          errors.collected->clear();
          return out;
        },
        "What observer callbacks raised and was not raised (collected, or behind a failing change); clears it.");

  py::class_<Kiv::TraceRecord>(m, "TraceRecord", "One trace record.")
      .def_property_readonly("handle", [](Kiv::TraceRecord const& r) { return strOf(r.handle); })
      .def_property_readonly("context", [](Kiv::TraceRecord const& r) { return strOf(r.context); })
      .def_property_readonly("text", [](Kiv::TraceRecord const& r) { return strOf(r.text); })
      .def_readonly("level", &Kiv::TraceRecord::level)
      .def_property_readonly("function", [](Kiv::TraceRecord const& r) { return strOf(r.function); })
      .def("__repr__", [](Kiv::TraceRecord const& r) { return strOf(Kiv::traceLine(r)); });

  py::class_<TraceCapture>(m, "TraceCapture",
                           "Collects trace records in a `with` block: every record, or one handle's at the given\n"
                           "levels (bit L for level L), switched on for the block.")
      .def(py::init([](std::string const& handle, std::uint16_t levels) {
             return TraceCapture{nullptr, handle, levels, {}};
           }),
           py::arg("handle") = "", py::arg("levels") = Kiv::TraceHandle::allLevels)
      .def("__enter__",
           [](py::object self) {
             auto& c = self.cast<TraceCapture&>();
             c.kept.clear();
             c.capture = c.handle.empty() ? std::make_unique<Kiv::TraceCapture>()
                                          : std::make_unique<Kiv::TraceCapture>(Kiv::String8(c.handle), c.levels);
             return self;
           })
      .def("__exit__",
           [](TraceCapture& c, py::args const&) {
             if (c.capture) c.kept = c.capture->records();
             c.capture = nullptr;
           })
      .def_property_readonly("records", [](TraceCapture const& c) { return py::cast(c.records()); })
      .def_property_readonly("texts", &TraceCapture::texts);
  m.def("configure_trace",
        [](std::string const& handle, bool enabled, std::uint16_t levels) {
          Kiv::TraceHandle::configure(Kiv::String8(handle), enabled, levels);
        },
        py::arg("handle"), py::arg("enabled"), py::arg("levels") = Kiv::TraceHandle::allLevels);
}

}  // namespace BtsPython

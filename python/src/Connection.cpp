// Replication between processes from Python: an attribute-log connection
// over a descriptor that Python made (a socket pair across os.fork() or
// multiprocessing, a Unix-domain socket, TCP on loopback).
//
//   a, b = socket.socketpair()
//   conn = bts.Connection(a.detach())               # this side mounts
//   conn.mount(cfg)
//   peer = bts.Connection(b.detach(), side="second", mirror_dir="mirror")
//   bts.wait_for(lambda: "cfg" in peer.mirrors)     # the GIL is free while it waits
//
// The event loop drives every connection; wait_for runs its turns without
// moving simulated time and gives up the GIL while it waits in poll().
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "Binding.h"
#include "Kiv/ByteStream.h"
#include "Kiv/Dir.h"
#include "Kiv/Entity.h"
#include "Kiv/EventLoop.h"
#include "Kiv/NboAttrLogDemuxer.h"

namespace BtsPython {

namespace {

using Kiv::NboAttrLog::Demuxer;

struct Connection;
// The open connections, whose descriptors wait_for waits on (non-owning:
// a connection takes itself off when it goes).
std::vector<Connection*> connections;

struct Connection {
  Kiv::Ptr<Demuxer> demuxer;
  int fd;
  py::dict mirrors;  // entity name: mirror, as orphan records made them

  Connection(int descriptor, std::string const& side, py::object mirrorDir) : fd(descriptor) {
    if (side != "first" && side != "second") raise("RangeError", "side: 'first' or 'second', not " + side, "side");
    change("Connection", [&] {
      demuxer = Demuxer::DemuxerIs(Kiv::FdByteStream::FdByteStreamIs(descriptor),
                                   side == "first" ? Demuxer::first : Demuxer::second);
      if (!mirrorDir.is_none()) demuxer->mirrorDirIs(Kiv::Dir::DirIs(Kiv::Name(bytesOf(mirrorDir, "mirror_dir"))));
      PyObject* table = mirrors.ptr();  // the connection owns the table and outlives the demuxer's call-back
      demuxer->mirrorCallbackIs([table](Kiv::Ptr<Kiv::Entity> const& e) {
        py::gil_scoped_acquire gil;
        PyDict_SetItem(table, strOf(e->name().string()).ptr(),
                       toPython(Kiv::KivType::genericIf(e.ptr(), false)).ptr());
      });
    });
    connections.push_back(this);
  }
  ~Connection() {
    connections.erase(std::remove(connections.begin(), connections.end(), this), connections.end());
    if (demuxer) {
      demuxer->mirrorCallbackIs(nullptr);
      demuxer->close("dropped by its owner");
    }
  }
  Connection(Connection const&) = delete;
  Connection& operator=(Connection const&) = delete;

  Demuxer& open() const {
    if (!demuxer->open())
      raise("ConnectionClosedError", "the connection is closed: " + demuxer->closeReason().stdString(), "");
    return *demuxer;
  }
  void mount(Object const& o) {
    change("mount", [&] {
      Kiv::Entity* const e = dynamic_cast<Kiv::Entity*>(o.adapter().object());
      if (!e) raise("TypeMismatchError", "mount: " + o.typeName() + " is no entity", "entity");
      open().mount(Kiv::Ptr<Kiv::Entity>(e));
    });
  }
  void close(std::string const& reason) {
    change("close", [&] {
      if (demuxer->open()) demuxer->close(Kiv::String8(reason));
    });
  }
};

// Runs loop turns until `done()` is true or `timeout` seconds have passed;
// between turns waits, without the GIL, for a connection's descriptor.
bool waitFor(py::function done, double timeout) {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  for (;;) {
    change("wait_for", [] { Kiv::eventLoop().runOnce(); });
    if (py::bool_(done())) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::vector<pollfd> fds;
    for (Connection const* c : connections)
      if (c->demuxer->open()) fds.push_back(pollfd{c->fd, POLLIN, 0});
    py::gil_scoped_release free;
    ::poll(fds.data(), fds.size(), 10);
  }
}

}  // namespace

void defineConnections(py::module_& m) {
  py::class_<Connection>(m, "Connection",
                         "An attribute-log connection over a connected stream socket's descriptor, which it takes\n"
                         "over (pass sock.detach()). side: 'first' or 'second' (the two ends mint entity ids\n"
                         "apart); mirror_dir: the directory that keeps the mirrors the peer's mounts make here.")
      .def(py::init<int, std::string const&, py::object>(), py::arg("fd"), py::arg("side") = "first",
           py::arg("mirror_dir") = "mirror")
      .def("mount", &Connection::mount, py::arg("entity"),
           "Replicates the entity on this connection: the peer gets a mirror of it, kept in step.")
      .def("close", &Connection::close, py::arg("reason") = "closed by the test")
      .def_property_readonly("open", [](Connection const& c) { return c.demuxer->open(); })
      .def_property_readonly("close_reason", [](Connection const& c) { return strOf(c.demuxer->closeReason()); })
      .def_property_readonly("records_received", [](Connection const& c) { return c.demuxer->recordsReceived(); })
      .def_readonly("mirrors", &Connection::mirrors);
  m.def("wait_for", &waitFor, py::arg("done"), py::arg("timeout") = 5.0,
        "Runs the event loop's turns (simulated time stands still) until done() is true; waits for the\n"
        "connections' descriptors between turns with the GIL released. False when `timeout` seconds passed.");
}

}  // namespace BtsPython

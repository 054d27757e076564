#include "SocketAddress.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "BadInput.h"

namespace BridgeSim {

namespace {

bool allDigits(std::string const& s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

sockaddr_un unixAddress(std::string const& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

// A socket connected to `addr`, or -1 with errno set. With `timeout`
// (seconds) the connection attempt is given at most that long.
int connected(sockaddr const* addr, socklen_t len, int timeout = -1) {
  int const fd = ::socket(addr->sa_family, SOCK_STREAM | SOCK_CLOEXEC | (timeout >= 0 ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  int r = ::connect(fd, addr, len);
  if (r != 0 && errno == EINPROGRESS && timeout >= 0) {
    pollfd p{fd, POLLOUT, 0};
    int error = ETIMEDOUT;
    socklen_t size = sizeof error;
    if (::poll(&p, 1, timeout * 1000) == 1) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    r = error == 0 ? 0 : -1;
    errno = error;
  }
  if (r != 0) {
    int const saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  if (timeout >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Calls `f` with each address HOST:PORT resolves to until it returns a
// descriptor; -1 (errno set) when none did. Throws BadInput for a host
// that does not resolve.
int eachTcpAddress(SocketAddress const& a, bool passive, std::function<int(addrinfo const&)> const& f) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  addrinfo* list = nullptr;
  int const r = ::getaddrinfo(a.host.c_str(), std::to_string(a.port).c_str(), &hints, &list);
  if (r != 0) throw BadInput(a.option + " " + a.text + ": unknown host " + a.host + " (" + ::gai_strerror(r) + ")");
  int fd = -1;
  int error = EADDRNOTAVAIL;
  for (addrinfo const* i = list; i && fd < 0; i = i->ai_next) {
    fd = f(*i);
    if (fd < 0) error = errno;
  }
  ::freeaddrinfo(list);
  errno = error;
  return fd;
}

}  // namespace

SocketAddress SocketAddress::parse(std::string const& option, std::string const& text) {
  SocketAddress a;
  a.option = option;
  a.text = text;
  std::size_t const colon = text.rfind(':');
  std::string const port = colon == std::string::npos ? "" : text.substr(colon + 1);
  std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (text.find('/') == std::string::npos && colon != std::string::npos && !host.empty() && allDigits(port)) {
    a.tcp = true;
    a.host = host;
    a.port = defaultTcpPort;
    if (!port.empty()) {
      if (port.size() > 5 || std::stoul(port) > 65535) {
        throw BadInput(option + " " + text + ": port " + port + " is out of range (0 to 65535)");
      }
      a.port = static_cast<std::uint16_t>(std::stoul(port));
    }
    return a;
  }
  std::size_t const most = sizeof sockaddr_un::sun_path - 1;
  if (text.empty() || text.size() > most) {
    throw BadInput(option + " " + text + ": a socket path must have 1 to " + std::to_string(most) +
                   " bytes (or give HOST:PORT for TCP)");
  }
  a.path = text;
  return a;
}

int SocketAddress::listenOn(std::string& shown, std::string& note) const {
  shown = text;
  if (tcp) {
    int const fd = eachTcpAddress(*this, true, [](addrinfo const& i) {
      int const s = ::socket(i.ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      int const on = 1;
      if (s >= 0) ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      if (s >= 0 && ::bind(s, i.ai_addr, i.ai_addrlen) == 0 && ::listen(s, 8) == 0) return s;
      int const saved = errno;
      if (s >= 0) ::close(s);
      errno = saved;
      return -1;
    });
    if (fd < 0) throw BadInput(option + " " + text + ": cannot listen (" + std::strerror(errno) + ")");
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    std::uint16_t const p = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                                              : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    shown = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(p);
    return fd;
  }
  sockaddr_un const addr = unixAddress(path);
  int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto bindAndListen = [&] {
    return ::bind(fd, reinterpret_cast<sockaddr const*>(&addr), sizeof addr) == 0 && ::listen(fd, 8) == 0;
  };
  bool ok = bindAndListen();
  if (!ok && errno == EADDRINUSE) {
    // A socket file outlives a listener that was killed: replace it when
    // nothing accepts on it any more.
    struct stat st {};
    std::string why;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
      why = "the path exists and is not a socket: remove it or choose another";
    } else if (accepting()) {
      why = "another process listens on this socket";
    } else if (::unlink(path.c_str()) != 0) {
      why = "a socket left by a listener that is gone cannot be removed (" + std::string(std::strerror(errno)) + ")";
    } else {
      note = "replaced the socket " + path + " left by a listener that is gone";
      ok = bindAndListen();
    }
    if (!why.empty()) {
      ::close(fd);
      throw BadInput(option + " " + text + ": " + why);
    }
  }
  if (!ok) {
    std::string const why = std::strerror(errno);
    ::close(fd);
    throw BadInput(option + " " + text + ": cannot bind the socket (" + why + ")");
  }
  return fd;
}

int SocketAddress::connectTo() const {
  int fd;
  if (tcp) {
    fd = eachTcpAddress(*this, false, [](addrinfo const& i) { return connected(i.ai_addr, i.ai_addrlen); });
  } else {
    sockaddr_un const addr = unixAddress(path);
    fd = connected(reinterpret_cast<sockaddr const*>(&addr), sizeof addr);
  }
  if (fd < 0) throw BadInput(option + " " + text + ": cannot connect (" + std::strerror(errno) + ")");
  return fd;
}

bool SocketAddress::accepting() const {
  int fd;
  if (tcp) {
    try {
      fd = eachTcpAddress(*this, false, [](addrinfo const& i) { return connected(i.ai_addr, i.ai_addrlen, 1); });
    } catch (BadInput const&) {
      return false;
    }
  } else {
    sockaddr_un const addr = unixAddress(path);
    fd = connected(reinterpret_cast<sockaddr const*>(&addr), sizeof addr, 1);
  }
  if (fd < 0) return false;
  // A listener that is going away (a killed process whose descriptors the
  // system is still closing) drops the connections it has not accepted:
  // the probe sees its end at once. One that stays leaves it open.
  pollfd p{fd, POLLIN, 0};
  bool const stays = ::poll(&p, 1, 500) == 0;
  ::close(fd);
  return stays;
}

}  // namespace BridgeSim

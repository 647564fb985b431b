// The loopback socket layer on BSD sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

#include "support/loopback_socket.h"

namespace folivex {
namespace {

int Fd(std::intptr_t native) { return static_cast<int>(native); }

// A write to a peer that has gone raises SIGPIPE, which would end the test
// program; MSG_NOSIGNAL covers send(), this covers OpenSSL's writes.
void IgnoreSigpipe() {
  static const bool done = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)done;
}

void MakeNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// 1 ready, 0 timed out, -1 failed.
int Wait(int fd, short events, int timeout_ms) {
  pollfd entry{fd, events, 0};
  for (;;) {
    int result = poll(&entry, 1, timeout_ms);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return -1;
    return result > 0 ? 1 : 0;
  }
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = other.native_;
    other.native_ = kInvalid;
  }
  return *this;
}

long Socket::Read(char* buffer, std::size_t size, int timeout_ms) {
  if (!valid()) return kSocketError;
  int ready = Wait(Fd(native_), POLLIN, timeout_ms);
  if (ready == 0) return kSocketTimeout;
  if (ready < 0) return kSocketError;
  for (;;) {
    ssize_t got = recv(Fd(native_), buffer, size, 0);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kSocketTimeout;
    return kSocketError;
  }
}

long Socket::Write(const char* data, std::size_t size, int timeout_ms) {
  if (!valid()) return kSocketError;
  int ready = Wait(Fd(native_), POLLOUT, timeout_ms);
  if (ready == 0) return kSocketTimeout;
  if (ready < 0) return kSocketError;
  for (;;) {
    ssize_t sent = send(Fd(native_), data, size, MSG_NOSIGNAL);
    if (sent > 0) return static_cast<long>(sent);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kSocketTimeout;
    return kSocketError;
  }
}

void Socket::ShutdownWrite() {
  if (valid()) shutdown(Fd(native_), SHUT_WR);
}

void Socket::ShutdownBoth() {
  if (valid()) shutdown(Fd(native_), SHUT_RDWR);
}

void Socket::CloseWithReset() {
  if (!valid()) return;
  linger option{1, 0};
  setsockopt(Fd(native_), SOL_SOCKET, SO_LINGER, &option, sizeof option);
  Close();
}

void Socket::Close() {
  if (valid()) {
    close(Fd(native_));
    native_ = kInvalid;
  }
}

bool Listener::Listen(int port, std::string* error) {
  IgnoreSigpipe();
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    if (error) *error = "socket() failed";
    return false;
  }
  socket_ = Socket(fd);
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 64) != 0) {
    if (error) *error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    socket_.Close();
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  MakeNonBlocking(fd);
  return true;
}

Socket Listener::Accept(int timeout_ms) {
  if (!socket_.valid() || Wait(Fd(socket_.native()), POLLIN, timeout_ms) <= 0) return Socket();
  int fd = accept(Fd(socket_.native()), nullptr, nullptr);
  if (fd < 0) return Socket();
  MakeNonBlocking(fd);
  int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  return Socket(fd);
}

Socket ConnectLoopback(int port, int timeout_ms) {
  IgnoreSigpipe();
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return Socket();
  Socket result(fd);
  MakeNonBlocking(fd);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS || Wait(fd, POLLOUT, timeout_ms) <= 0) return Socket();
    int problem = 0;
    socklen_t length = sizeof problem;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &problem, &length);
    if (problem != 0) return Socket();
  }
  return result;
}

}  // namespace folivex

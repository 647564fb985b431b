// The loopback socket layer on Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "support/loopback_socket.h"

namespace folivex {
namespace {

SOCKET Handle(std::intptr_t native) { return static_cast<SOCKET>(native); }

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

void MakeNonBlocking(SOCKET socket) {
  u_long yes = 1;
  ioctlsocket(socket, FIONBIO, &yes);
}

// 1 ready, 0 timed out, -1 failed. For writing, a failed connect also counts
// as ready so that the caller sees the error.
int Wait(SOCKET socket, bool for_write, int timeout_ms) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int result = for_write ? select(0, nullptr, &ready, &failed, &limit)
                         : select(0, &ready, nullptr, &failed, &limit);
  if (result == SOCKET_ERROR) return -1;
  return result > 0 ? 1 : 0;
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
  int ready = Wait(Handle(native_), false, timeout_ms);
  if (ready == 0) return kSocketTimeout;
  if (ready < 0) return kSocketError;
  int got = recv(Handle(native_), buffer, static_cast<int>(size), 0);
  if (got >= 0) return got;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kSocketTimeout : kSocketError;
}

long Socket::Write(const char* data, std::size_t size, int timeout_ms) {
  if (!valid()) return kSocketError;
  int ready = Wait(Handle(native_), true, timeout_ms);
  if (ready == 0) return kSocketTimeout;
  if (ready < 0) return kSocketError;
  int sent = send(Handle(native_), data, static_cast<int>(size), 0);
  if (sent > 0) return sent;
  if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return kSocketTimeout;
  return kSocketError;
}

void Socket::ShutdownWrite() {
  if (valid()) shutdown(Handle(native_), SD_SEND);
}

void Socket::ShutdownBoth() {
  if (valid()) shutdown(Handle(native_), SD_BOTH);
}

void Socket::CloseWithReset() {
  if (!valid()) return;
  linger option{1, 0};
  setsockopt(Handle(native_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
             sizeof option);
  Close();
}

void Socket::Close() {
  if (valid()) {
    closesocket(Handle(native_));
    native_ = kInvalid;
  }
}

bool Listener::Listen(int port, std::string* error) {
  StartWinsock();
  SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) {
    if (error) *error = "socket() failed";
    return false;
  }
  socket_ = Socket(static_cast<std::intptr_t>(handle));
  // Without exclusive use another program could bind the same port.
  BOOL yes = TRUE;
  setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
             sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  if (bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(handle, 64) != 0) {
    if (error) *error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    socket_.Close();
    return false;
  }
  int length = sizeof address;
  getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  MakeNonBlocking(handle);
  return true;
}

Socket Listener::Accept(int timeout_ms) {
  if (!socket_.valid() || Wait(Handle(socket_.native()), false, timeout_ms) <= 0) return Socket();
  SOCKET handle = accept(Handle(socket_.native()), nullptr, nullptr);
  if (handle == INVALID_SOCKET) return Socket();
  MakeNonBlocking(handle);
  BOOL yes = TRUE;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
  return Socket(static_cast<std::intptr_t>(handle));
}

Socket ConnectLoopback(int port, int timeout_ms) {
  StartWinsock();
  SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return Socket();
  Socket result(static_cast<std::intptr_t>(handle));
  MakeNonBlocking(handle);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK || Wait(handle, true, timeout_ms) <= 0) {
      return Socket();
    }
    int problem = 0;
    int length = sizeof problem;
    getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&problem), &length);
    if (problem != 0) return Socket();
  }
  return result;
}

}  // namespace folivex

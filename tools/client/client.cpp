#include "tools/client/client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace quorclient {

namespace {

constexpr uint32_t NAME_KEY = 0x7D3A91E6u;
constexpr uint32_t CIPHER_START = 0x4C2B;

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

}  // namespace

bool Connection::connect(const std::string& host, uint16_t port, int timeout_ms) {
  close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0 || !res) {
    errno = 0;  // the name does not resolve
    return false;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  bool ok = fd >= 0;
  if (ok && ::connect(fd, res->ai_addr, res->ai_addrlen) != 0) {
    ok = errno == EINPROGRESS;
    if (ok) {
      pollfd p{fd, POLLOUT, 0};
      int err = 0;
      socklen_t len = sizeof err;
      int ready = poll(&p, 1, timeout_ms);
      if (ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0)
        errno = err;  // callers say why: refused, unreachable ...
      else if (ready == 0)
        errno = ETIMEDOUT;
      ok = ready == 1 && err == 0;
    }
  }
  freeaddrinfo(res);
  if (!ok) {
    int why = errno;
    if (fd >= 0) ::close(fd);
    errno = why;
    return false;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fd_ = fd;
  buf_.clear();
  eof_ = false;
  return true;
}

void Connection::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buf_.clear();
  eof_ = false;
}

bool Connection::send_raw(std::string_view bytes) {
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, 5000) != 1) return false;
        continue;
      }
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

bool Connection::fill(int timeout_ms) {
  if (fd_ < 0 || eof_) return false;
  pollfd p{fd_, POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  if (r <= 0) return false;
  char tmp[65536];
  ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
  if (n <= 0) {
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    eof_ = true;
    return false;
  }
  buf_.append(tmp, size_t(n));
  return true;
}

bool Connection::read_block(Reply& out, int timeout_ms) {
  out.lines.clear();
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t cr = buf_.find('\r');
    if (cr != std::string::npos) {
      std::string block = buf_.substr(0, cr);
      buf_.erase(0, cr + 1);
      size_t start = 0;
      while (start < block.size()) {
        size_t lf = block.find('\n', start);
        if (lf == std::string::npos) lf = block.size();
        out.lines.push_back(block.substr(start, lf - start));
        start = lf + 1;
      }
      return true;
    }
    if (!fill(remaining_ms(deadline))) return false;
  }
}

bool Connection::command(std::string_view line, Reply& out, int timeout_ms) {
  return send_line(line) && read_block(out, timeout_ms);
}

bool Connection::open_session(int timeout_ms) {
  Reply r;
  return send_line("Quiblet! /") && read_block(r, timeout_ms) && r.first() == "ok";
}

bool Connection::read_some(std::string& out, int timeout_ms) {
  out = std::move(buf_);
  buf_.clear();
  if (!out.empty()) return true;
  bool got = fill(timeout_ms);
  out = std::move(buf_);
  buf_.clear();
  return got || !out.empty() || !eof_;
}

bool Connection::wait_closed(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!eof_) {
    int left = remaining_ms(deadline);
    if (left == 0) return false;
    fill(left);
  }
  return true;
}

std::string Connection::login(const std::string& password, uint32_t key) {
  Reply r;
  if (!command("mvar|" + encode_password(password), r) || r.fail() || r.first().size() != 32) return "fail";
  if (!command("auth|" + answer_challenge(r.first(), key), r)) return "fail";
  return r.first();
}

std::string nibble_encode(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    s += char(0x30 + (b >> 4));
    s += char(0x30 + (b & 0x0F));
  }
  return s;
}

std::vector<uint8_t> nibble_decode(std::string_view text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(uint8_t(((text[i] & 0x0F) << 4) | (text[i + 1] & 0x0F)));
  return out;
}

std::string encode_password(std::string_view password) {
  uint32_t state = CIPHER_START;
  std::vector<uint8_t> bytes;
  for (char c : password) bytes.push_back(encrypt(uint8_t(c), &state, NAME_KEY));
  return nibble_encode(bytes);
}

std::string answer_challenge(std::string_view challenge, uint32_t key) {
  std::vector<uint8_t> bytes = nibble_decode(challenge);
  uint32_t state = CIPHER_START;
  for (auto& b : bytes) b = uint8_t(encrypt(b, &state, key) + 1);
  state = CIPHER_START;
  for (auto& b : bytes) b = encrypt(b, &state, key);
  return nibble_encode(bytes);
}

std::string float_to_wire(float v) { return std::to_string(std::bit_cast<int32_t>(v)); }

bool wire_to_float(std::string_view text, float* v) {
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end || errno || n < INT32_MIN || n > INT32_MAX) return false;
  *v = std::bit_cast<float>(int32_t(n));
  return true;
}

int download(const std::string& host, uint16_t port, const std::string& name, std::string* body, int timeout_ms) {
  Connection c;
  if (!c.connect(host, port) || !c.send_line("GET /" + name)) return -1;
  std::string all, part;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int left = remaining_ms(deadline);
    bool open = c.read_some(part, left);
    all += part;
    if (!open) break;  // the controller closed: the file is complete
    if (left == 0) return -1;
  }
  const std::string ok = "HTTP/1.1 200 OK\r\n\r\n", missing = "HTTP/1.1 404 Not Found\r\n\r\n";
  if (all.compare(0, ok.size(), ok) == 0) {
    if (body) *body = all.substr(ok.size());
    return 200;
  }
  if (all.compare(0, missing.size(), missing) == 0) return 404;
  return -1;
}

bool upload(const std::string& host, uint16_t port, const std::string& name, std::string_view data, int timeout_ms) {
  Connection c;
  if (!c.connect(host, port)) return false;
  std::string head = "POST /" + name + "\n" + std::to_string(data.size()) + "\r";
  if (!c.send_raw(head + std::string(data))) return false;
  return c.wait_closed(timeout_ms);
}

}  // namespace quorclient

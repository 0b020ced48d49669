// Client side of the controller's user port: sessions, reply blocks, login
// with the challenge cipher, value bit patterns, file download and upload.
// Shares only the byte cipher header with the controller; used by quorctl,
// tests and benchmarks.
#pragma once
#include "program/cipher.h"
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorclient {

// One reply block: its lines without the line feeds.
struct Reply {
  std::vector<std::string> lines;
  bool fail() const { return lines.size() == 1 && lines[0] == "fail"; }
  std::string first() const { return lines.empty() ? std::string() : lines[0]; }
};

class Connection {
 public:
  Connection() = default;
  ~Connection() { close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&& o) noexcept : fd_(o.fd_), buf_(std::move(o.buf_)), eof_(o.eof_) { o.fd_ = -1; }
  Connection& operator=(Connection&& o) noexcept {
    if (this != &o) {
      close();
      fd_ = o.fd_;
      buf_ = std::move(o.buf_);
      eof_ = o.eof_;
      o.fd_ = -1;
    }
    return *this;
  }

  // TCP connection; false when it cannot be made within timeout_ms.
  bool connect(const std::string& host, uint16_t port, int timeout_ms = 3000);
  // Sends "Quiblet! /" and expects "ok".
  bool open_session(int timeout_ms = 3000);
  // Sends bytes as they are / one protocol line ended by a carriage return.
  bool send_raw(std::string_view bytes);
  bool send_line(std::string_view line) { return send_raw(std::string(line) + "\r"); }
  // Reads up to and including the next terminator.
  bool read_block(Reply& out, int timeout_ms = 5000);
  // One command and its reply block.
  bool command(std::string_view line, Reply& out, int timeout_ms = 5000);
  // Logs in with a password and the entry's encryption key. Returns "prog",
  // "hmi", or "fail" (also when the exchange breaks down).
  std::string login(const std::string& password, uint32_t key = 0);
  // Whatever arrives within timeout_ms (and any bytes already buffered);
  // false once the peer has closed and nothing is left.
  bool read_some(std::string& out, int timeout_ms);
  // True when the peer closes the connection within timeout_ms.
  bool wait_closed(int timeout_ms);
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void close();

 private:
  bool fill(int timeout_ms);  // one receive into buf_
  int fd_ = -1;
  std::string buf_;
  bool eof_ = false;
};

// The byte cipher (shared with the controller) and the login encodings.
using ::encrypt;
std::string nibble_encode(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> nibble_decode(std::string_view text);
// The enciphered password of "mvar".
std::string encode_password(std::string_view password);
// The answer of "auth" to a 32-character challenge.
std::string answer_challenge(std::string_view challenge, uint32_t key);

// Cell values travel as the signed decimal text of the float's bits.
std::string float_to_wire(float v);
bool wire_to_float(std::string_view text, float* v);

// "GET /name": status 200 with the body, 404, or -1 when the exchange fails.
int download(const std::string& host, uint16_t port, const std::string& name, std::string* body,
             int timeout_ms = 10000);
// "POST /name" with the byte count; true when the controller closed the
// connection after taking every byte.
bool upload(const std::string& host, uint16_t port, const std::string& name, std::string_view data,
            int timeout_ms = 10000);

}  // namespace quorclient

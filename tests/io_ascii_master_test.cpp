// The ASCII master against a local line server and an HTTP responder.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>

#include "io/ascii_master.h"
#include "tests/support/io_fixture.h"

namespace {

// Accepts connections one at a time (the master keeps one per address) and
// answers each request line with the scripted answer: segments sent a few
// ms apart, "" closing the connection.
class LineServer {
 public:
  LineServer() {
    fd_ = listen_loopback(4, &port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LineServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  void answer(std::vector<std::string> segments) {
    std::lock_guard<std::mutex> l(m_);
    answer_ = std::move(segments);
  }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }
  u16 port = 0;

 private:
  void serve() {
    int c = -1;
    std::string partial;
    char buf[20000];
    while (!stop_) {
      pollfd p{c >= 0 ? c : fd_, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      if (c < 0) {
        c = accept(fd_, nullptr, nullptr);
        partial.clear();
        continue;
      }
      ssize_t n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) close(c), c = -1;
      if (n > 0) partial.append(buf, size_t(n));
      for (size_t end; c >= 0 && (end = partial.find("\r\n")) != std::string::npos;) {
        std::vector<std::string> segments;
        {
          std::lock_guard<std::mutex> l(m_);
          requests_.push_back(partial.substr(0, end));
          segments = answer_;
        }
        partial.erase(0, end + 2);
        for (size_t k = 0; c >= 0 && k < segments.size(); ++k) {
          if (segments[k].empty()) close(c), c = -1;
          else send(c, segments[k].data(), segments[k].size(), MSG_NOSIGNAL);
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      }
    }
    if (c >= 0) close(c);
  }
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex m_;
  std::vector<std::string> requests_, answer_;
};

class AsciiMaster : public IoTest {
 protected:
  enum : u16 { ENABLE, STATUS, TX, RX, COM, IP, PORT, TIMEOUT, RETRIES, NSEND, NRECV, TXS, RXP };
  Ascii* add(u16 port, const std::string& tx, const std::string& parse, u8 n_recv, Ivar* rx) {
    auto* a = static_cast<Ascii*>(inst_create(TYPE_ASCII, tail_, "ascii", 0));
    tail_ = a;
    set_num(a, COM, 0, ptype::Select);
    set_text(a, IP, "127.0.0.1");
    set_num(a, PORT, port);
    set_num(a, TIMEOUT, 30);
    set_text(a, TXS, tx.c_str());
    set_text(a, RXP, parse.c_str());
    set_num(a, NRECV, n_recv);
    if (rx) set_ref(a, RX, rx);
    return a;
  }
  int run(Ascii* a) {
    a->execute();
    int scan = 0;
    bool ok = pump([&] {
      if (!a->ready() && (!a->port || !a->port->busy)) return true;
      if (scan++ % 10 == 0) engine_hooks.io_start(a);
      return false;
    });
    return ok ? a->status : -1;
  }
};

TEST_F(AsciiMaster, LineExchanges) {
  LineServer srv;
  Ivar* tx = var("tx", 0);
  Ivar* rx = var("rx", 0);
  tx->set(0, 1.5f);

  // Template values, an acknowledgement.
  Ascii* a = add(srv.port, "SET #,#", "", 1, nullptr);
  set_num(a, NSEND, 2);
  set_ref(a, TX, tx);
  tx->set(1, 20.0f);
  srv.answer({"Do", "ne\r\n"});
  EXPECT_EQ(run(a), ascii_status::Ok);
  srv.answer({"Error\r\n"});
  EXPECT_EQ(run(a), ascii_status::Refused);

  // A data line parsed into two values; the line end may come split.
  Ascii* d = add(srv.port, "READ", "T=#,H=#", 2, rx);
  srv.answer({"T=21.5,H=", "40\r", "\n"});
  EXPECT_EQ(run(d), ascii_status::Ok);
  EXPECT_EQ(rx->get(0), 21.5f);
  EXPECT_EQ(rx->get(1), 40.0f);
  // Nothing stored: not accepted. No number where one is due: the marker.
  set_text(d, RXP, "X#");
  srv.answer({"abc\r\n"});
  EXPECT_EQ(run(d), ascii_status::Refused);
  set_text(d, RXP, "T=#");
  srv.answer({"T=?\r\n"});
  EXPECT_EQ(run(d), ascii_status::Ok);
  EXPECT_EQ(rx->get(0), 9.999999933815813e36f);
  // An answer longer than 299 bytes, and silence with two attempts.
  srv.answer({std::string(400, '1') + "\r\n"});
  EXPECT_EQ(run(d), ascii_status::Refused);
  set_num(d, RETRIES, 2);
  srv.answer({});
  size_t before = srv.requests().size();
  EXPECT_EQ(run(d), ascii_status::Timeout);
  EXPECT_EQ(srv.requests().size(), before + 2);

  // No answer expected: sent once, finished with status 0.
  Ascii* n = add(srv.port, "PING #", "", 0, nullptr);
  set_num(n, NSEND, 1);
  set_ref(n, TX, tx);
  before = srv.requests().size();
  EXPECT_EQ(run(n), ascii_status::Armed);
  EXPECT_FALSE(n->ready());
  // A template longer than the 300-byte frame goes out whole.
  set_text(n, TXS, ("LONG " + std::string(500, 'x') + " #").c_str());
  EXPECT_EQ(run(n), ascii_status::Armed);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto reqs = srv.requests();
  ASSERT_EQ(reqs.size(), before + 2);
  EXPECT_EQ(reqs[before], "PING 1.5");
  EXPECT_EQ(reqs[before + 1], "LONG " + std::string(500, 'x') + " 1.5");
  EXPECT_EQ(srv.requests()[0], "SET 1.5,20");
}

TEST_F(AsciiMaster, WebRequests) {
  LineServer srv;
  Ivar* rx = var("rx", 0);
  Ascii* w = add(srv.port, "GET /val", "#", 1, rx);
  // Header and body split across segments, body without a newline, closed.
  srv.answer({"HTTP/1.0 200 OK\r\nContent-", "Type: text/plain\r\n\r", "\n4", "2", ""});
  EXPECT_EQ(run(w), ascii_status::Ok);
  EXPECT_EQ(rx->get(0), 42.0f);
  EXPECT_EQ(w->port->descriptor, 0);  // closed after the exchange
  // A body the peer neither ends nor closes: the time-out ends it.
  srv.answer({"HTTP/1.0 200 OK\r\n\r\n17"});
  EXPECT_EQ(run(w), ascii_status::Ok);
  EXPECT_EQ(rx->get(0), 17.0f);
  // A header that never ends is a time-out.
  srv.answer({"HTTP/1.0 200 OK\r\n"});
  EXPECT_EQ(run(w), ascii_status::Timeout);
  EXPECT_EQ(srv.requests()[0], "GET /val");
}

}  // namespace

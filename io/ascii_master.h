// Ascii (type 31, "Asciimaster"): one text request to an instrument or web
// device, over a serial line or TCP, built from a template with values
// inserted; the one-line answer is accepted as an acknowledgement or parsed
// into variables. A template beginning with "GET " over TCP is a web
// request: the answer's header is skipped and the connection closed after
// the exchange.
#pragma once
#include <string>

#include "core/rows.h"
#include "io/io_base.h"

namespace ascii_status {
inline constexpr u8 Armed = 0;     // or finished without an answer expected
inline constexpr u8 Ok = 1;
inline constexpr u8 Timeout = 2;
inline constexpr u8 Started = 3;   // an answer line has begun
inline constexpr u8 Refused = 4;   // a complete answer that was not accepted
inline constexpr u8 Initial = 7;
}  // namespace ascii_status

// Longest answer line that is parsed; a longer one ends with status 4.
inline constexpr size_t ASCII_ANSWER_MAX = 299;
// Most bytes taken from the peer in one step.
inline constexpr size_t ASCII_RECEIVE_MAX = 14000;

class Ascii : public WithRows<Ascii, IO_base> {
 public:
  pIdata enable{};
  pIdata status_var{};
  pIdata tx{};
  pIdata rx{};
  u16 timeout = 0;  // 10-ms ticks
  u8 retries = 1;
  u8 n_send = 0;
  u8 n_receive = 0;
  std::string tx_string;
  std::string rx_parse;
  u8 status = ascii_status::Initial;

  Ascii(Control* prev, const char* desc, u16 n);
  u16 num() const override { return TYPE_ASCII; }
  Control* execute() override;
  void start(IO_def* port) override;
  void end(IO_def* port) override;

  // The request the template gives with the current TX data, CR LF ended.
  std::string expand() const;
  // Walks the parse pattern over an answer line, storing into RX data;
  // returns the status (1 accepted, 4 not).
  u8 parse(const std::string& line);

  static const RowTable<Ascii> rows;

 private:
  friend struct AsciiRows;
  bool web(const IO_def* port) const;
  void send_request(IO_def* port);
  void finish(IO_def* port);
};


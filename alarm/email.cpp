#include "alarm/email.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "core/config.h"
#include "core/engine.h"
#include "history/history.h"
#include "net/clock.h"
#include "net/sockets.h"

namespace {

constexpr size_t kReplyKeep = 4096;  // tail of a reply kept for its code
constexpr size_t kQueueHigh = 16384;  // body lines wait while this much is queued
constexpr const char kLookup[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string reply;        // the reply being collected
int last_job = 7;         // files are looked at in rotation after this one
std::string sender;       // "From:" address
std::string wan_seen;     // address in the greeting reply, committed once mailed
// Body of a file job: first record, records in the ring, records to send,
// records sent, and whether the file could be read at all.
i32 body_start = -1;
u32 body_ring = 0, body_count = 0, body_sent = 0, body_last = 0;
bool body_readable = false;
std::unique_ptr<hist_par> status_buf;
std::vector<float> values(HIST_MAX_N);

bool is_file_job(u8 job) { return job < 8; }
std::atomic<i32>& marker(u8 job) { return job < 4 ? per_mail_rec[job] : evt_mail_rec[job - 4]; }
u8 first_index(u8 job) { return job < 4 ? per_email1[job] : job < 8 ? evt_email1[job - 4] : con_email1; }
u8 last_index(u8 job) { return job < 4 ? per_email2[job] : job < 8 ? evt_email2[job - 4] : con_email2; }

std::string address(size_t i) {
  if (i >= con_email.size() || !con_email[i]) return {};
  return mail_clean(*con_email[i]);
}

bool file_status(u8 job, hist_par* p) {
  p->file = job % 4;
  return job < 4 ? status_periodic(p) : status_event(p);
}

void fail() {
  close_mail(false);
  mail_backoff.store(MAIL_RETRY_S);
}

// Sends what is queued; true once all of it went out.
bool flush() {
  while (!mail_msg.empty()) {
    ssize_t n = send(mail_sockfd, mail_msg.data(), mail_msg.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      mail_msg.erase(0, size_t(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
    fail();
    return false;
  }
  return true;
}

void await_reply() {
  mail_timer.store(MAIL_REPLY_S);
  mail_timer10ms.store(50);
  mail_rec = false;
  reply.clear();
  mail_connect = 2;
}

// The reply's final line has arrived: "ddd" then a space or the line end.
bool reply_complete() {
  if (reply.size() < 4 || reply.back() != '\n') return false;
  size_t end = reply.size() - 1;
  if (end > 0 && reply[end - 1] == '\r') --end;
  size_t start = reply.rfind('\n', end - 1);
  start = start == std::string::npos ? 0 : start + 1;
  if (end - start < 3) return false;
  for (size_t i = start; i < start + 3; ++i)
    if (reply[i] < '0' || reply[i] > '9') return false;
  return end - start == 3 || reply[start + 3] == ' ';
}

int reply_code() {
  size_t end = reply.size();
  while (end > 0 && (reply[end - 1] == '\n' || reply[end - 1] == '\r')) --end;
  size_t start = reply.rfind('\n', end ? end - 1 : 0);
  start = start == std::string::npos ? 0 : start + 1;
  if (end - start < 3) return 0;
  int c = 0;
  for (size_t i = start; i < start + 3; ++i) {
    if (reply[i] < '0' || reply[i] > '9') return 0;
    c = c * 10 + (reply[i] - '0');
  }
  return c;
}

// The address between the first "[" and the next "]" of the reply.
std::string bracketed() {
  size_t a = reply.find('[');
  if (a == std::string::npos) return {};
  size_t b = reply.find(']', a + 1);
  if (b == std::string::npos) return {};
  return mail_clean(reply.substr(a + 1, b - a - 1));
}

std::string event_word(u32 status) {
  static const char* const words[4] = {" Clear ", " Low alarm ", " High alarm ", " Both "};
  return words[(status >> 1) & 3];
}

// One body line of the file job, record body_sent from body_start.
std::string body_line() {
  if (!body_readable) return ",No data\r\n";
  const u8 f = mail_file % 4;
  const u32 rec = (u32(body_start) + body_sent) % body_ring;
  char num[48];
  std::string line;
  if (mail_file < 4) {
    u32 t = 0;
    if (!read_periodic(f, values.data(), &t, rec)) return ",No data\r\n";
    line = get_date(t);
    const u32 n = std::min<u32>(status_buf->n, HIST_MAX_N);
    for (u32 i = 0; i < n; ++i) {
      std::snprintf(num, sizeof num, ",%g", double(values[i]));
      line += num;
    }
  } else {
    u32 t = 0;
    float data = 0, status = 0;
    u16 event = 0;
    if (!read_event(f, rec, &t, &data, &status, &event)) return ",No data\r\n";
    const u32 st = status > 0 && status < 4294967040.0f ? u32(status) : 0;
    std::snprintf(num, sizeof num, ",%i,%g,%u", int(event), double(data), st);
    line = get_date(t) + num + event_word(st);
    u32 e = event < 1 ? 1 : event > HIST_MAX_N ? HIST_MAX_N : event;
    if (e <= evt_ptr[f].size()) line += mail_clean(evt_ptr[f][e - 1].name);
  }
  return line + "\r\n";
}

// The job's file records from its marker to the latest one.
void body_prepare() {
  body_sent = body_count = 0;
  body_readable = false;
  if (!is_file_job(mail_file)) return;
  if (!status_buf) status_buf = std::make_unique<hist_par>();
  body_start = marker(mail_file).load();
  body_count = 1;
  if (body_start < 0 || !file_status(mail_file, status_buf.get()) || status_buf->records == 0) return;
  body_ring = status_buf->records;
  if (u32(body_start) >= body_ring || status_buf->latest >= body_ring) return;
  // Progress is a distance round the ring from the marker.
  body_count = (status_buf->latest + body_ring - u32(body_start)) % body_ring + 1;
  body_last = status_buf->latest;
  body_readable = true;
}

// The final "." was accepted: the mailed records are done with.
void delivered() {
  if (mail_file == 10) {
    con_wan_ip = wan_seen;
    return;
  }
  if (!is_file_job(mail_file)) return;
  std::atomic<i32>& m = marker(mail_file);
  if (m.load() != body_start) return;  // the program was replaced meanwhile
  m.store(-1);
  // Records written while this mail was on its way: their writer saw the
  // marker set and left it, so the next mail starts after the last one sent.
  if (body_readable && file_status(mail_file, status_buf.get()) && status_buf->records == body_ring &&
      status_buf->latest != body_last)
    m.store(i32((body_last + 1) % body_ring));
}

void queue(std::string_view s) { mail_msg.append(s); }

void compose() {
  switch (mail_seq) {
    case 0: {
      const bool auth = con_name && con_pass;
      queue(auth ? "EHLO quor\r\n" : "HELO quor\r\n");
      if (mail_file == 8) mail_file = 9;
      mail_seq = auth ? 1 : 2;
      await_reply();
      return;
    }
    case 1:
      queue("AUTH PLAIN " + get_auth_string());
      mail_seq = 2;
      await_reply();
      return;
    case 2: {
      if (!con_email.empty() && mail_to >= con_email.size()) mail_to = u16(con_email.size() - 1);
      sender = address(mail_to);
      if (sender.empty()) {
        close_mail(true);
        return;
      }
      body_prepare();
      queue("Mail from:" + sender + "\r\n");
      mail_seq = 3;
      await_reply();
      return;
    }
    case 3: {
      // A last index below the first still mails the first address.
      const size_t last =
          std::min<size_t>(std::max(last_index(mail_file), first_index(mail_file)), con_email.size());
      while (mail_to < last) {
        std::string a = address(mail_to++);
        if (a.empty()) continue;
        mail_addr_found = true;
        queue("Rcpt to:" + a + "\r\n");
        await_reply();
        return;
      }
      if (!mail_addr_found) {
        close_mail(true);
        return;
      }
      mail_seq = 4;
      [[fallthrough]];
    }
    case 4:
      queue("data\r\n");
      mail_seq = 5;
      await_reply();
      return;
    case 5:
      queue("Date:" + get_date(timec.load()) + "\r\n");
      mail_seq = 6;
      return;
    case 6: {
      std::string subject = "Subject:" + (gen_site_name && !gen_site_name->empty() ? mail_clean(*gen_site_name) : "No Name");
      char n[8];
      std::snprintf(n, sizeof n, "%i", mail_file % 4 + 1);
      if (mail_file < 4)
        subject += std::string(" Periodic file ") + n;
      else if (mail_file < 8)
        subject += std::string(" Event file ") + n;
      else
        subject += " New IP address";
      queue(subject + "\r\nFrom:" + sender + "\r\n\r\n");
      mail_seq = 7;
      return;
    }
    case 7: {
      if (mail_msg.size() > kQueueHigh) return;  // let the socket drain first
      if (!is_file_job(mail_file)) {
        queue("The new IP address is: " + wan_seen + "\r\n");
        mail_seq = 8;
        return;
      }
      std::string line = body_line();
      if (line[0] == '.') line.insert(0, 1, '.');
      queue(line);
      mail_timer.store(MAIL_REPLY_S);
      if (!body_readable || ++body_sent >= body_count) mail_seq = 8;
      return;
    }
    case 8:
      queue(".\r\n");
      mail_seq = 9;
      await_reply();
      return;
    default:
      close_mail(false);
      return;
  }
}

// A whole reply arrived for the command of the step before mail_seq.
void replied() {
  const int code = reply_code();
  if (mail_file == 9) {
    std::string seen = bracketed();
    if (seen.empty() || (con_wan_ip && *con_wan_ip == seen)) {
      close_mail(false);
      return;
    }
    wan_seen = seen;
    mail_file = 10;
  }
  if (mail_seq == 5 && code / 100 != 3) {  // no "data": nothing may follow as text
    fail();
    return;
  }
  if (mail_seq == 9) {
    if (code / 100 == 2) {
      delivered();
      close_mail(false);
    } else {
      fail();
    }
    return;
  }
  mail_connect = 1;
}

void collect() {
  char buf[256];
  for (;;) {
    ssize_t n = recv(mail_sockfd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      reply.append(buf, size_t(n));
      if (reply.size() > kReplyKeep) reply.erase(0, reply.size() - kReplyKeep);
      mail_rec = true;
      mail_timer10ms.store(50);
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      fail();  // closed or refused mid-reply
      return;
    }
    break;
  }
  if (reply_complete() || (mail_rec && mail_timer10ms.load() == 0)) {
    replied();
    return;
  }
  // Silent or trickling: the reply limit ends the job either way.
  if (mail_timer.load() == 0) fail();
}

}  // namespace

std::string mail_clean(std::string_view text) {
  std::string r;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) r += c;
  return r;
}

std::string encode64(std::string_view in) {
  std::string r;
  r.reserve((in.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    u32 v = u32(u8(in[i])) << 16 | u32(u8(in[i + 1])) << 8 | u8(in[i + 2]);
    r += kLookup[v >> 18];
    r += kLookup[(v >> 12) & 63];
    r += kLookup[(v >> 6) & 63];
    r += kLookup[v & 63];
  }
  if (i < in.size()) {
    u32 v = u32(u8(in[i])) << 16 | (i + 1 < in.size() ? u32(u8(in[i + 1])) << 8 : 0);
    r += kLookup[v >> 18];
    r += kLookup[(v >> 12) & 63];
    r += i + 1 < in.size() ? kLookup[(v >> 6) & 63] : '=';
    r += '=';
  }
  return r;
}

std::string get_auth_string() {
  std::string plain(3, '\0');
  if (con_name && con_pass) plain = std::string(1, '\0') + *con_name + '\0' + *con_pass;
  return encode64(plain) + "\r\n";
}

void close_mail(bool drop) {
  close_fd(mail_sockfd);
  if (drop && is_file_job(mail_file)) marker(mail_file).store(-1);
  mail_msg.clear();
  reply.clear();
  mail_connect = 0;
}

bool check_mail() {
  mail_seq = 0;
  mail_addr_found = false;
  mail_timer.store(MAIL_REPLY_S);
  const u32 now = timec.load();
  if (con_email2) {
    // A clock set back never leaves the check more than 900 s away.
    if (ip_timeout.load() > now + 900) ip_timeout.store(now + 900);
    if (now > ip_timeout.load()) {
      ip_timeout.store(now + 900);
      mail_to = u16(con_email1 - 1);
      mail_file = 8;
      return true;
    }
  }
  for (int k = 1; k <= 8; ++k) {
    const u8 j = u8((last_job + k) % 8);
    if (marker(j).load() == -1) continue;
    if (!first_index(j)) {  // no longer mailed: its records are not kept for it
      marker(j).store(-1);
      continue;
    }
    last_job = j;
    mail_file = j;
    mail_to = u16(first_index(j) - 1);
    return true;
  }
  return false;
}

void email() {
  if (!con_mail_ip || con_mail_ip->empty() || !con_email1) {
    if (mail_connect) close_mail(false);
    return;
  }
  switch (mail_connect) {
    case 0: {
      if (mail_backoff.load() || !check_mail()) return;
      sockaddr_in a{};
      mail_sockfd = Port_out(con_mail_port, con_mail_ip->c_str(), &a);
      if (!mail_sockfd ||
          (connect(mail_sockfd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS)) {
        fail();
        return;
      }
      mail_msg.clear();
      await_reply();
      mail_connect = 3;
      return;
    }
    case 1:
      if (!flush()) {
        if (mail_connect && mail_timer.load() == 0) fail();
        return;
      }
      compose();
      if (mail_connect == 1 || mail_connect == 2) flush();
      return;
    case 2:
      if (mail_timer.load() == 0) {
        fail();
        return;
      }
      if (flush()) {
        mail_timer.store(MAIL_REPLY_S);
        mail_timer10ms.store(50);
        mail_rec = false;
        mail_connect = 3;
      }
      return;
    case 3:
      collect();
      return;
    default:
      close_mail(false);
  }
}

void mail_reset() {
  close_mail(false);
  mail_seq = 0;
  mail_file = 0;
  last_job = 7;
  mail_timer.store(0);
  mail_timer10ms.store(0);
  mail_backoff.store(0);
}

// Session commands: login by challenge and answer, who is connected, the
// session vocabulary, keep-alive and the end-of-replies markers.
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "core/config.h"
#include "core/engine.h"
#include "core/registry.h"
#include "core/scan_pause.h"
#include "core/startup.h"
#include "hmi/commands.h"
#include "net/user_port.h"
#include "program/cipher.h"
#include "program/program_new.h"

namespace {

constexpr u32 NAME_KEY = 0x7D3A91E6u;
constexpr u32 CIPHER_START = 0x4C2B;

// A password entry of the "General/Password" page.
struct PasswordEntry {
  std::string password;
  u8 low = 255, high = 255;
  u32 key = 0;
};

int password_count() {
  Ilparam shape;
  return gen::on_page(0, [&] { return gen::lparam(&shape); }) ? shape.groups : 0;
}

bool password_entry(int i, PasswordEntry& e) {
  Iparam p;
  u16 g = u16(i + 1);
  if (!gen_row(0, g, 0, &p)) return false;
  e.password = p.text ? p.text : "";
  if (!gen_row(0, g, 1, &p)) return false;
  e.low = u8(p.value);
  if (!gen_row(0, g, 2, &p)) return false;
  e.high = u8(p.value);
  if (!gen_row(0, g, 3, &p)) return false;
  e.key = p.value;
  return true;
}

void login_failed(int slot) {
  port_timeout[slot] = 5;  // the session ends five seconds later
  reply_fail(slot);
}

}  // namespace

void challenge_from_clock(u8* bytes, size_t n) {
  srandom(timec.load());
  for (size_t i = 0; i < n; ++i) bytes[i] = u8(rand() & 0xFF);
}

void challenge_from_system(u8* bytes, size_t n) {
  try {
    static std::random_device source;
    for (size_t i = 0; i < n; ++i) bytes[i] = u8(source() & 0xFF);
  } catch (const std::exception&) {
    // No random source on this system: the clock-seeded generator.
    challenge_from_clock(bytes, n);
  }
}

void cmd_term(HmiCommand& c) { reply_one(c.slot, "sync"); }
void cmd_flush(HmiCommand& c) { reply_one(c.slot, "eob"); }

void cmd_mvar(HmiCommand& c) {
  u8 bytes[HMI_TEXT_LIMIT / 2];
  size_t n = nibble_decode(c.text, bytes, sizeof bytes);
  u32 state = CIPHER_START;
  std::string password;
  for (size_t i = 0; i < n; ++i) password += char(encrypt(bytes[i], &state, NAME_KEY));

  int count = password_count();
  PasswordEntry e;
  int found = -1;
  for (int i = 0; i < count && found < 0; ++i)
    if (password_entry(i, e) && e.password == password) found = i;
  if (found < 0) {
    login_failed(c.slot);
    return;
  }
  authorize_index[c.slot] = u8(found);
  u8 drawn[16];
  challenge_source(drawn, sizeof drawn);
  state = CIPHER_START;
  u8 challenge[16];
  for (int i = 0; i < 16; ++i) {
    u8 r = drawn[i];
    authorize_number[c.slot][i] = u8(r + 1);
    challenge[i] = encrypt(r, &state, e.key);
  }
  authorize_pending[c.slot] = true;
  reply_one(c.slot, nibble_encode(challenge, 16));
}

void cmd_auth(HmiCommand& c) {
  int slot = c.slot;
  // An answer needs a challenge of this connection, and a challenge
  // answers once: without that, a fresh connection could log in with the
  // answer to the initial (all-zero) challenge bytes.
  bool pending = authorize_pending[slot];
  authorize_pending[slot] = false;
  PasswordEntry e;
  if (!pending || !password_entry(authorize_index[slot], e)) {
    login_failed(slot);
    return;
  }
  u8 answer[16]{};
  nibble_decode(c.text, answer, 16);
  u32 state = CIPHER_START;
  for (int i = 0; i < 16; ++i) {
    if (encrypt(answer[i], &state, e.key) != authorize_number[slot][i]) {
      login_failed(slot);
      return;
    }
  }
  priority[slot] = e.low;
  priority_hi[slot] = e.high;
  if (e.low != 0) {
    reply_one(slot, "hmi");
    return;
  }
  // A programmer: every other session ends, and the programmer's own
  // connection lives in slot 0.
  ScanPause pause(Pause::Paused);
  for (int s = 0; s < CLIENT_SLOTS; ++s)
    if (s != slot) close_socket(s);
  if (slot != 0) {
    slot_move(slot, 0);
    priority[0] = 0;
    priority_hi[0] = 255;
    priority[slot] = priority_hi[slot] = 255;
    current_hmi_mod[0] = current_hmi_mod[slot];
    current_hmi_mod[slot] = nullptr;
    slot = 0;
  }
  // The programmer starts with no current screen object.
  hmi_slot_no_object(slot);
  reply_one(slot, "prog");
}

void cmd_logoff(HmiCommand& c) {
  reply_one(c.slot, "OK");
  close_socket(c.slot);
}

void cmd_users(HmiCommand& c) {
  const char* who = "none";
  for (int s = 0; s < HMI_SLOTS; ++s)
    if (priority[s] != 255) {
      who = priority[s] == 0 ? "prog" : "hmi";
      break;
    }
  send_HMI_response(c.slot, who);
  send_HMI_response(c.slot, (std::string("Version ") + QUOR_VERSION).c_str());
  const char* t = site_title();
  send_HMI_response(c.slot, t ? t : "No name");
  send_HMI_term(c.slot);
}

void cmd_sname(HmiCommand& c) {
  const char* t = site_title();
  reply_one(c.slot, t ? t : "no name");
}

void cmd_alive(HmiCommand& c) {
  port_timeout[c.slot] = 120;  // an atomic countdown: no pause needed
  reply_ok(c.slot);
}

void cmd_init(HmiCommand& c) {
  int slot = c.slot;
  for (u16 t = 0; t < INST_TYPES; ++t) {
    const inst_def& d = inst_def_use[t];
    send_HMI_response(slot, std::string(d.name ? d.name : "") + "|" + (d.prompt ? d.prompt : "none"));
  }
  send_HMI_term(slot);

  static const char* const kObjectTypes[] = {"Frame",    "Button",     "Variable",         "Instruction",
                                             "Resource", "Graph_vars", "Graph_bins/events"};
  for (const char* name : kObjectTypes) send_HMI_response(slot, std::string(name) + "|none");
  send_HMI_term(slot);

  send_HMI_response(slot, "none|Enter number of password entries");
  send_HMI_response(slot, "none|No change allowed");
  send_HMI_response(slot, "none|Enter number of E-mail addresses");
  for (int i = 0; i < 4; ++i) send_HMI_response(slot, "none|Enter number of bins");
  for (int i = 0; i < 4; ++i) send_HMI_response(slot, "none|Enter number of events");
  send_HMI_term(slot);

  static const char* const kPages[] = {"General/Password", "HMI edit/Serial ports", "Internet Connections",
                                       "Periodic File 1",  "Periodic File 2",       "Periodic File 3",
                                       "Periodic File 4",  "Event File 1",          "Event File 2",
                                       "Event File 3",     "Event File 4"};
  for (const char* name : kPages) send_HMI_response(slot, name);
  send_HMI_term(slot);

  send_HMI_response(slot, "50");
  Iparam p;
  gen_sel = 0;
  std::string help = gen::gparam(&p, 0, 0) && p.text && *p.text ? p.text : "none";
  send_HMI_response(slot, help);
  send_HMI_response(slot, std::to_string(gen::gparam(&p, 0, 1) ? i32(p.value) : i32(gen_loop_int[0].load())));
  const char* title = site_title();
  std::string site = title ? title : "no name";
  u32 date = gen::gparam(&p, 0, 7) ? p.value : 0;
  gen_sel = 1;
  send_HMI_response(slot, std::to_string(gen::gparam(&p, 0, 0) ? i32(p.value) : 10));
  send_HMI_response(slot, current_prog);
  send_HMI_response(slot, site);
  send_HMI_response(slot, std::to_string(i32(date)));
  send_HMI_term(slot);
}

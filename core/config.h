// General configuration: controller-wide settings (loop periods, watchdog,
// passwords, serial ports, network and mail, history files) held in
// process-wide globals and presented to clients as eleven parameter pages,
// selected by gen_sel. Loop periods and watchdog settings live in
// core/engine.h because the execution thread reads them on every iteration.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/engine.h"

struct hmi_format;

// An owned configuration text; nullopt is "none" (get hands a null text).
using ConfigText = std::optional<std::string>;

inline constexpr int GEN_PAGES = 11;

// Page names and resize prompts as clients show them, indexed by gen_sel.
inline constexpr const char* gen_page_name[GEN_PAGES] = {
    "General/Password",  "HMI edit/Serial ports", "Internet Connections", "Periodic File 1",
    "Periodic File 2",   "Periodic File 3",       "Periodic File 4",      "Event File 1",
    "Event File 2",      "Event File 3",          "Event File 4"};
inline constexpr const char* gen_resize_prompt[GEN_PAGES] = {
    "none|Enter number of password entries", "none|No change allowed",
    "none|Enter number of E-mail addresses", "none|Enter number of bins",
    "none|Enter number of bins",             "none|Enter number of bins",
    "none|Enter number of bins",             "none|Enter number of events",
    "none|Enter number of events",           "none|Enter number of events",
    "none|Enter number of events"};

// One client password and the access levels it grants.
struct gen_password_entry {
  std::string password;  // at most 20 characters
  u8 low = 255;
  u8 high = 255;
  u32 key = 0;  // encryption key of the login challenge
};

// One bin of a periodic history file.
struct per_bin {
  std::string name;  // at most 45 characters
  u8 format = 0;     // 0..5 decimal places, 6 "Digital 1", 7 "Digital 2"
  u16 status = 0;    // status bin
};

// One event of an event history file.
struct evt_event {
  std::string name;  // at most 47 characters
  u8 format = 0;     // decimal point, as per_bin::format
};

inline u8 gen_sel = 0;  // selected page, 0..10

// Page 0: help URL, site title, date format and the password list.
inline ConfigText gen_help;
inline ConfigText gen_site_name;
inline u8 gen_date = 0;  // 0 M-D-Y, 1 Y-M-D, 2 D-M-Y
inline u16 gen_num = 0;  // password entries, 2..128 once initialised
inline std::vector<gen_password_entry> gen_password;

// Page 1: screen editor grid (the serial ports live in their I/O definitions).
inline u16 hmi_grid = 10;

// Page 2: network interface and user port.
inline u8 con_type = 0;  // 0 Ethernet only, 1..6 modem or direct line
inline ConfigText con_ip, con_net_mask, con_broadcast, con_gateway;
inline u16 con_port = 80;
// Page 2: mail server and account; e-mail selections are 1-based positions
// in con_email, 0 none.
inline ConfigText con_mail_ip, con_name, con_pass;
inline u8 con_email1 = 0, con_email2 = 0;
inline u16 con_mail_port = 25;
// Page 2: TCP slave listeners (enable flags are 0 or 1).
inline u8 tcp_modbus_slave_enable = 0;
inline u16 tcp_modbus_slave_port = 502;
inline u8 tcp_ascii_slave_enable = 0;
inline u16 tcp_ascii_slave_port = 0;
// Page 2: modem alarms (phone selections are positions in con_email).
inline u8 con_modem_alarm = 0;  // 0 disabled, 1 land line, 2 cell
inline u8 con_alarm1 = 0, con_alarm2 = 0;
inline ConfigText con_phone;   // dial string of the modem in use
inline ConfigText con_wan_ip;  // last public address learned
// Page 2: the address list (e-mail addresses or phone numbers).
inline u16 con_num = 0;  // 2..20 once initialised
inline std::vector<ConfigText> con_email;

// Pages 3..6: periodic history files 1..4 (index f = gen_sel - 3).
inline u32 per_interval[4]{};  // seconds between records
inline u32 per_offset[4]{};    // seconds after the interval boundary
inline u32 per_records[4]{};
inline u8 per_email1[4]{}, per_email2[4]{};
inline hmi_format* per_vformat[4]{};  // selection set, null none
inline u16 per_bins[4]{};
inline std::vector<per_bin> per_ptr[4];

// Pages 7..10: event history files 1..4 (index f = gen_sel - 7).
inline u32 evt_records[4]{};
inline u8 evt_email1[4]{}, evt_email2[4]{};
inline hmi_format* evt_vformat[4]{};
inline u16 evt_events[4]{};
inline std::vector<evt_event> evt_ptr[4];

// Fields of a serial port definition reached from page 1.
enum class SerialField : u8 { Kind, Baud, Parity, Address };

// Subsystems the pages act on, filled by their install functions (see
// core/hooks.h); an empty entry means the subsystem is absent. Every entry
// runs on the main thread, from a page's parameter access: reads with the
// scan paused (lock(1)) or stopped, writes with it stopped (lock(3)) or
// before the execution thread starts (loading, program_new).
struct ConfigHooks {
  // Hardware watchdog: enable (reset = restart the controller) and disable.
  // Main thread, scan stopped (lock(3)).
  void (*watchdog_enable)(bool reset) = nullptr;
  void (*watchdog_disable)() = nullptr;
  // Main thread, scan stopped (lock(3)): a new watchdog type; a running
  // watchdog is switched over.
  void (*watchdog_type)(u8 type) = nullptr;
  // Main thread, scan stopped (lock(3)): closes the TCP slave listener of
  // kind 2 (Modbus) or 5 (ASCII) with its connections, then listens on port
  // when enable is set.
  void (*slave_port_listen)(u16 port, u8 kind, bool enable) = nullptr;
  // Main thread, scan stopped (lock(3)): creates history file f (0..3) from
  // the present settings.
  bool (*create_periodic)(int f) = nullptr;
  bool (*create_event)(int f) = nullptr;
  // The serial port definitions 0..3 in list order. set only stores;
  // the page calls clear_receive (receive count and frame-start flag) and
  // reopen as the settings require. All four are needed for the page's
  // serial groups to exist. Main thread: get at least paused (lock(1)),
  // the other three scan stopped (lock(3)).
  bool (*serial_get)(int port, SerialField field, u32* value) = nullptr;
  bool (*serial_set)(int port, SerialField field, u32 value) = nullptr;
  void (*serial_clear_receive)(int port) = nullptr;
  void (*serial_reopen)(int port) = nullptr;
};
inline ConfigHooks config_hooks;

// Clears every configuration text and list so later resets start empty.
void gen_startup();
// Resets the whole configuration to its defaults; leaves gen_sel at 10.
void gen_init();

namespace gen {
// The parameter protocol for the selected page.
bool lparam(Ilparam* shape);
const char* dparam();
bool gparam(Iparam* p, u16 group, u16 row);
bool sparam(Iparam* p, u16 group, u16 row);
// Runs fn with page `page` selected and gives the selection back after:
// what a client selected with "gpos" stays selected.
template <class F>
auto on_page(u8 page, F fn) {
  struct Restore {
    u8 saved = gen_sel;
    ~Restore() { gen_sel = saved; }
  } restore;
  gen_sel = page;
  return fn();
}
}  // namespace gen
// Sets the number of repeated groups of the selected page; all bits set on
// success, 0 when no page is selected.
u32 gen_resize(u16 n);

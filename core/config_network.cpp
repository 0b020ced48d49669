// Page 2 "Internet Connections": network interface, user port, mail server,
// TCP slave listeners, modem alarms and the address list.
#include <algorithm>
#include <cstring>

#include "core/config_pages.h"

namespace gen_pages {
namespace {

using P = NetworkPage;
using R = Row<P>;

constexpr u8 kModbusSlave = 2;  // kinds of the slave listeners
constexpr u8 kAsciiSlave = 5;
constexpr size_t kAddressMax = 255;

// An address in dotted form: kept only when 7 to 15 characters long;
// anything else leaves none, and the set still succeeds.
template <ConfigText& T>
R address_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Text, [](P&, u16, Iparam& p, const R&) { p.text = text_of(T); },
      [](P&, u16, const Iparam& p, const R&) {
        T.reset();
        if (p.text) {
          size_t n = std::strlen(p.text);
          if (n >= 7 && n <= 15) T.emplace(p.text);
        }
        return true;
      });
}

// Mail account texts: null refused; empty leaves none.
template <ConfigText& T>
R account_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Text, [](P&, u16, Iparam& p, const R&) { p.text = text_of(T); },
      [](P&, u16, const Iparam& p, const R&) {
        if (!p.text) return false;
        T = *p.text ? ConfigText(p.text) : std::nullopt;
        return true;
      });
}

// A selection in the address list; past its end means none.
template <u8& V>
R position_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Dec, [](P&, u16, Iparam& p, const R&) { p.value = V; },
      [](P&, u16, const Iparam& p, const R&) {
        V = address_position(p.value);
        return true;
      });
}

template <u16& V>
R port_number_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Dec, [](P&, u16, Iparam& p, const R&) { p.value = V; },
      [](P&, u16, const Iparam& p, const R&) {
        V = u16(p.value);
        return true;
      });
}

void listen(u16 port, u8 kind, bool enable) {
  if (config_hooks.slave_port_listen) config_hooks.slave_port_listen(port, kind, enable);
}

// A TCP slave listener switched on or off; only a change acts.
template <u8& Enable, u16& Port, u8 Kind>
R slave_enable_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Select, [](P&, u16, Iparam& p, const R&) { p.value = Enable ? 1 : 0; },
      [](P&, u16, const Iparam& p, const R&) {
        bool on = p.value != 0;
        if (on != (Enable != 0)) {
          Enable = on ? 1 : 0;
          listen(Port, Kind, on);
        }
        return true;
      });
}

// A listener's TCP port: a new port reopens the listener if it is enabled.
template <u8& Enable, u16& Port, u8 Kind>
R slave_port_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Dec, [](P&, u16, Iparam& p, const R&) { p.value = Port; },
      [](P&, u16, const Iparam& p, const R&) {
        u16 v = u16(p.value);
        if (v != Port) {
          Port = v;
          listen(Port, Kind, Enable != 0);
        }
        return true;
      });
}

template <u8& V, u8 Max>
R choice_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Select, [](P&, u16, Iparam& p, const R&) { p.value = V; },
      [](P&, u16, const Iparam& p, const R&) {
        V = p.value > Max ? 0 : u8(p.value);
        return true;
      });
}

const RowTable<P>& make_table() {
  static const RowTable<P> table{
      {
          choice_row<con_type, 6>(
              "Connection Type~Ethernet Only~Modem COM1~Direct COM1~Modem COM3~Direct COM3~Modem COM4~Direct COM4"),
          address_row<con_ip>("IP (ex. 192.168.1.100)"),
          address_row<con_net_mask>("Netmask (ex. 255.255.255.0)"),
          port_number_row<con_port>("Port number"),
          address_row<con_broadcast>("Broadcast (ex. 192.168.1.255)"),
          address_row<con_gateway>("Gateway (ex. 192.168.1.1)"),
          rows::custom<P>(
              "Mail server IP", ptype::Text, [](P&, u16, Iparam& p, const R&) { p.text = text_of(con_mail_ip); },
              [](P&, u16, const Iparam& p, const R&) {
                con_mail_ip.reset();
                if (p.text && *p.text) con_mail_ip.emplace(p.text);
                return true;
              }),
          position_row<con_email1>("IP Email 1 (return address)"),
          position_row<con_email2>("IP Email 2"),
          account_row<con_name>("Mail user name"),
          account_row<con_pass>("Mail password"),
          port_number_row<con_mail_port>("Mail server port (25 or 587)"),
          slave_enable_row<tcp_modbus_slave_enable, tcp_modbus_slave_port, kModbusSlave>(
              "Ethernet modbus slave enable~Disabled~Enabled"),
          slave_port_row<tcp_modbus_slave_enable, tcp_modbus_slave_port, kModbusSlave>(
              "Ethernet modbus slave port"),
          slave_enable_row<tcp_ascii_slave_enable, tcp_ascii_slave_port, kAsciiSlave>(
              "Ethernet Ascii slave enable~Disabled~Enabled"),
          slave_port_row<tcp_ascii_slave_enable, tcp_ascii_slave_port, kAsciiSlave>("Ethernet Ascii slave port"),
          choice_row<con_modem_alarm, 2>("Modem Alarm~Disabled~Land Line~Cell"),
          position_row<con_alarm1>("Alarm phone 1"),
          position_row<con_alarm2>("Alarm phone 2"),
      },
      {
          // The entry's old text goes first, so even a refused text leaves
          // the entry empty.
          rows::custom<P>(
              "Email Address/Phone #", ptype::Text,
              [](P&, u16 g, Iparam& p, const R&) { p.text = text_of(con_email[g - 1]); },
              [](P&, u16 g, const Iparam& p, const R&) {
                ConfigText& e = con_email[g - 1];
                e.reset();
                if (!p.text || !*p.text) return true;
                if (std::strlen(p.text) > kAddressMax) return false;
                e.emplace(p.text);
                return true;
              }),
      }};
  return table;
}

}  // namespace

const RowTable<NetworkPage>& network_rows() { return make_table(); }

void address_resize(u16 n) {
  con_email.resize(n);  // kept below min(old, n); new entries empty
  con_num = n;
  auto limit = [n](u8& v) {
    if (v > n) v = 0;
  };
  for (int f = 0; f < 4; ++f) {
    limit(per_email1[f]);
    limit(per_email2[f]);
    limit(evt_email1[f]);
    limit(evt_email2[f]);
  }
  limit(con_email1);
  limit(con_email2);
}

}  // namespace gen_pages

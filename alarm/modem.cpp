#include "alarm/modem.h"

#include <unistd.h>

#include "core/config.h"
#include "core/engine.h"
#include "hmi/session.h"
#include "net/network.h"
#include "net/user_port.h"
#include "platform/platform.h"

std::string dial_number(const std::string& entry);

namespace {

constexpr const char* kAttention = "\rat\r";
bool series = false;  // the PPP daemon was stopped for this series

bool logged_in_client() {
  for (int i = 0; i < CLIENT_SLOTS && i < HMI_SLOTS; ++i)
    if (client_socket[i] && priority[i] != 255) return true;
  return false;
}

u8 alarm_word() {
  const float w = sys_get(ALARM_WORD_CELL);
  if (!(w > 0.0f)) return 0;
  return w >= 255.0f ? 255 : u8(w);
}

void after(u8 state, u8 seconds) {
  alarm_state_index = state;
  alarm_timer.store(seconds);
  alarm_timer_call = 1;
}

void close_line() {
  if (alarm_fd > 0) close(alarm_fd);
  alarm_fd = 0;
}

void restart_pppd() {
  if (!modem_line(con_type)) return;
  pppd_PID = plat->run_child(pppd_args(con_type), -1);
}

u16 last_phone() {
  u16 last = con_alarm2 < con_alarm1 ? con_alarm1 : con_alarm2;
  return last > con_num ? con_num : last;
}

bool valid_entry(u16 phone) {
  const size_t i = phone - 1u;
  return i < con_email.size() && con_email[i] && !dial_number(*con_email[i]).empty();
}

void act() {
  switch (alarm_state_index) {
    case 0:
    case 1:  // also a repeated series: the line and the daemon start clean
      close_line();
      plat->run_child({"/usr/bin/killall", "-9", "pppd"}, 5);
      pppd_PID = 0;
      series = true;
      after(2, 10);
      return;
    case 2:
      if (!alarm_fd) alarm_fd = modem_open(modem_line(con_type));
      modem_write(alarm_fd, kAttention);
      after(3, 2);
      return;
    case 3: {
      const size_t i = alarm_phone_index - 1u;
      const std::string number = valid_entry(alarm_phone_index) ? dial_number(*con_email[i]) : "";
      if (number.empty()) {  // nothing to call: on to the next number
        after(5, 1);
        return;
      }
      modem_write(alarm_fd, dial_text(number, alarm_current_value));
      after(4, 60);
      return;
    }
    case 4:
      modem_write(alarm_fd, kAttention);
      after(5, 5);
      return;
    default:
      if (!con_alarm2 || alarm_phone_index >= last_phone()) {
        close_line();
        series = false;
        restart_pppd();
        alarm_state_index = 0;
        alarm_phone_index = con_alarm1;
        alarm_timer_call = 180;  // the next series in about 30 minutes
        return;
      }
      // Entries that hold no number are passed over.
      do {
        ++alarm_phone_index;
      } while (alarm_phone_index < last_phone() && !valid_entry(alarm_phone_index));
      after(2, 2);
      return;
  }
}

}  // namespace

std::string dial_number(const std::string& entry) {
  std::string n;
  for (char c : entry) {
    if (c == ' ' || c == '-' || c == '(' || c == ')') continue;
    if ((c < '0' || c > '9') && c != '*' && c != '#' && c != ',') return {};
    n += c;
  }
  return n;
}

std::string dial_text(const std::string& number, u8 word) {
  std::string t = "atdt" + number;
  for (int k = 0; k < 2; ++k) {
    t += ",,,,";
    if (word & 1) t += "1,";
    if (word & 2) t += "55,";
    if (word & 4) t += "777,";
    if (word & 8) t += "9999,";
  }
  t.back() = '\r';
  return t;
}

void sms_alarm() {}

void modem_end_series() {
  if (series) {
    if (alarm_fd) modem_write(alarm_fd, kAttention);
    close_line();
    series = false;
    restart_pppd();
  }
  alarm_state_index = 0;
  alarm_phone_index = con_alarm1;
  alarm_timer_call = 0;
}

void dial_alarm() {
  plat->reap_children();
  const bool enabled = con_modem_alarm == 1 && modem_line(con_type) && con_alarm1 >= 1 && con_alarm1 <= con_num;
  if (!enabled) {
    if (series || alarm_state_index) modem_end_series();
    return;
  }
  if (alarm_timer.load()) return;
  alarm_timer.store(10);
  alarm_current_value = alarm_word();
  if (alarm_current_value > alarm_last_value && alarm_state_index == 0) {
    alarm_state_index = 1;
    alarm_phone_index = con_alarm1;
    alarm_timer_call = 1;
  }
  if (alarm_current_value == 0 || logged_in_client()) {
    if (alarm_state_index <= 1) {
      alarm_last_value = alarm_current_value;
      if (alarm_current_value == 0) {
        alarm_state_index = 0;
        alarm_timer_call = 0;
      }
      return;
    }
    if (alarm_state_index < 4) after(4, 0);
    alarm_phone_index = last_phone();
  }
  alarm_last_value = alarm_current_value;
  if (alarm_timer_call == 0) return;  // idle, no series to repeat
  if (--alarm_timer_call == 0) act();
}

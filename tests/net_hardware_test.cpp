// Start-up network set-up as host-actions.log records it, the watchdog
// sequences of every board type against the recording fake, and the host
// reset.
#include <arpa/inet.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "core/startup.h"
#include "net/clock.h"
#include "net/hardware.h"
#include "net/network.h"
#include "tests/support/fixture.h"
#include "tests/support/temp_dir.h"

namespace {

// The host platform with its clock held still, writing host-actions.log.
class StillHost : public HostPlatform {
 public:
  void now(u32* sec, i32* usec) override {
    *sec = 86400 * 366 + 3661;
    *usec = 0;
  }
};

class NetSetup : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    plat = &host_;
    saved_serial_ = options.serial[2];
  }
  void TearDown() override {
    options.serial[2] = saved_serial_;
    for (ConfigText* t : {&con_ip, &con_net_mask, &con_broadcast, &con_gateway, &gen_site_name}) t->reset();
    con_type = con_dhcp_server = 0;
    ProgramTest::TearDown();
  }
  static std::string read(const char* name) {
    std::ifstream in(name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A fixed address on 192.168.1.0/24 with the gateway given (or none).
  static void fixed_address(const char* gateway) {
    con_ip = "192.168.1.100";
    con_net_mask = "255.255.255.0";
    con_broadcast = "192.168.1.255";
    if (gateway) con_gateway = gateway;
  }
  StillHost host_;
  InTempDir dir_;
  std::string saved_serial_;
};

}  // namespace

TEST_F(NetSetup, StartUpLinesForDhcpStaticAndPpp) {
  struct Case {
    const char* what;
    std::function<void()> set;
    std::string lines;
  } cases[] = {
      {"dhcp, three-word title", [] { gen_site_name = "Boiler House East"; },
       "hostname Boiler.House.East\n/sbin/udhcpc -H Boiler.House.East -i eth0\n"},
      {"static", [] { fixed_address("192.168.1.1"), con_dhcp_server = 1; },
       "hostname QUOR\n/sbin/ifconfig lo 127.0.0.1 netmask 255.0.0.0 broadcast 127.0.0.0\n"
       "/sbin/ifconfig eth0 192.168.1.100 netmask 255.255.255.0 broadcast 192.168.1.255\n"
       "/sbin/route add default gw 192.168.1.1\n/usr/sbin/udhcpd\n"},
      {"gateway unset, hostile title", [] { fixed_address(nullptr), gen_site_name = "Tank;reboot #2"; },
       "hostname Tankreboot.2\n/sbin/udhcpc -H Tankreboot.2 -i eth0\n"},
      {"not a dotted quad", [] { fixed_address("1.1.1.1;halt"); }, "hostname QUOR\n/sbin/udhcpc -H QUOR -i eth0\n"},
      {"direct COM3", [] { con_type = 4, options.serial[2] = "modem3"; },
       "hostname QUOR\n/sbin/udhcpc -H QUOR -i eth0\n"
       "/usr/sbin/pppd modem3 115200 local noauth persist crtscts 72.16.1.1:172.16.1.2\n"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove("host-actions.log");
    c.set();
    network_setup();
    EXPECT_EQ(read("host-actions.log"), "settimeofday 31626061\n" + c.lines);
    EXPECT_EQ(timec.load(), 31626061u);
    TearDown();
    SetUp();
  }
}

TEST_F(NetSetup, ModemSetUpCommandOnTheLine) {
  con_type = 1;
  std::string saved = options.serial[0];
  options.serial[0] = "modem1";
  std::ofstream("modem1").close();
  network_setup();
  options.serial[0] = saved;
  EXPECT_EQ(read("modem1"), "at&f1&d0s0=1e0q1&w0&y0\r");
  EXPECT_NE(read("host-actions.log").find("/usr/sbin/pppd modem1 115200 modem noauth"), std::string::npos);
}

// The reset records its line and ends the process.
TEST_F(NetSetup, ExpiredSoftwareWatchdogEndsTheHostProcess) {
  plat = &fake;
  gen_watchdog = 1;
  gen_watchdog_type = 0;
  wd_timer = 2;
  EXPECT_EXIT(run_for_us(5000000, 10000), testing::ExitedWithCode(WATCHDOG_EXIT), "");
  EXPECT_EQ(read("host-actions.log"), "watchdog reset\n");
  gen_watchdog = 0;
  wd_timer = 600;
}

TEST(NetText, AddressesAndHostNames) {
  for (const char* ok : {"0.0.0.0", "192.168.1.255", "10.0.0.7"}) EXPECT_TRUE(valid_quad(ok)) << ok;
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "256.1.1.1", "1.2.3.4;x", "1..2.3", "1234.1.1.1"})
    EXPECT_FALSE(valid_quad(bad)) << bad;
  gen_site_name = std::string(80, 'a');
  EXPECT_EQ(host_name().size(), 63u);
  gen_site_name.reset();
  EXPECT_EQ(hostname_tonl("127.0.0.1"), htonl(0x7F000001));
}

using Watchdog = ProgramTest;

TEST_F(Watchdog, SequencesOfEveryBoardType) {
  struct {
    u8 type;
    std::vector<std::string> enable, disable;
  } cases[] = {
      {1,
       {"inb 0x443", "outb 0x3f0 0x87", "outb 0x3f0 0x87", "outb 0x3f0 0x14", "outb 0x3f1 0x9c"},
       {"outb 0x3f0 0x87", "outb 0x3f0 0x87", "outb 0x3f0 0x14", "outb 0x3f1 0x8c", "outb 0x3f0 0xaa"}},
      {2, {"outb 0x443 0xa", "inb 0x443"}, {"inb 0x43"}},
      {3,
       {"inb 0x443", "outb 0x120 0xa", "outb 0x120 0xb", "outb 0x120 0x1", "outb 0x121 0xf"},
       {"inb 0x43", "outb 0x120 0x0"}},
      {4, {"wdt open", "wdt 0"}, {"wdt 2"}},
      {5, {"ts 0x5 0x7", "ts 0x5 0x7"}, {"ts 0x5 0x0", "ts 0x5 0x0"}},
  };
  fake.record_ports = true;
  for (auto& c : cases) {
    SCOPED_TRACE(int(c.type));
    gen_watchdog_type = c.type;
    fake.clear_actions();
    enable_watchdog(false);
    EXPECT_EQ(fake.actions(), c.enable);
    fake.clear_actions();
    disable_watchdog();
    EXPECT_EQ(fake.actions(), c.disable);
  }
  // Feeding once a second, by the type in use.
  gen_watchdog = 1;
  gen_watchdog_type = 3;
  fake.clear_actions();
  run_for_us(1000000, 10000);
  EXPECT_EQ(fake.actions(), (std::vector<std::string>{"outb 0x121 0xf", "inb 0x443"}));
  // A new type while enabled: the old one is disabled, the new one enabled.
  enable_watchdog(false);
  fake.clear_actions();
  change_watchdog_type(2);
  EXPECT_EQ(fake.actions(), (std::vector<std::string>{"inb 0x43", "outb 0x120 0x0", "outb 0x443 0xa", "inb 0x443"}));
  disable_watchdog();
  gen_watchdog = 0;
  fake.record_ports = false;
}

#include <fcntl.h>
#include <unistd.h>

#include <tuple>

#include "core/config.h"
#include "tests/support/hist_fixture.h"

using HistFile = HistTest;
using K = HistKind;

namespace {
void poke32(const char* name, off_t at, unsigned v) {
  int fd = open(name, O_WRONLY);
  unsigned char b[4] = {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
  ASSERT_EQ(pwrite(fd, b, 4, at), 4);
  close(fd);
  hist_files_changed();  // as another process would, without waiting a second
}
// oldest, latest and their times, as the status gives them.
std::vector<unsigned> span(const hist_par& s) { return {s.oldest, s.latest, s.oldest_time, s.latest_time}; }
// next, first, last and n of a file's header.
std::vector<unsigned> header(const char* name) {
  RawHist h(name);
  return {h.next(), h.first(), h.last(), h.n()};
}
}  // namespace

TEST_F(HistFile, LayoutOfNewFiles) {
  ASSERT_TRUE(make(K::Periodic, 0, 10, 50));  // 50 records become 100
  RawHist p("quor1.per");
  EXPECT_EQ(p.b.size(), 112u * 44);
  EXPECT_EQ(header("quor1.per"), (std::vector<unsigned>{12, 12, 111, 10}));  // first: ceil(506 / 44)
  for (unsigned i = 0; i < 10; ++i) {
    EXPECT_EQ(p.format(i), i % 8);
    EXPECT_EQ(p.name(i), "b" + std::to_string(i + 1));
    EXPECT_EQ(p.b[16 + 10 + 48 * i + 47], 0);  // NUL-padded to 48 bytes
  }
  for (unsigned r : {0u, 57u, 99u}) {
    EXPECT_EQ(p.time(r), 0u);
    for (unsigned i = 0; i < 10; ++i) EXPECT_EQ(p.value_bits(r, i), 0x7F61B1E6u);
  }

  ASSERT_TRUE(make(K::Event, 3, 1, 100));
  RawHist e("quor4.evt");
  EXPECT_EQ(header("quor4.evt"), (std::vector<unsigned>{5, 5, 104, 1}));  // first: ceil(65 / 14)
  EXPECT_EQ(e.b.size(), 105u * 14);
  const unsigned char empty[14] = {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x7F, 0x4B, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(&e.b[e.at(42)], empty, 14), 0);

  // Records 0 deletes; n is clamped to 1..1024; a bad index fails.
  hist_par q{};
  EXPECT_TRUE(new_periodic(&q));
  EXPECT_FALSE(std::filesystem::exists("quor1.per"));
  ASSERT_TRUE(make(K::Periodic, 1, 5000, 100));
  EXPECT_EQ(RawHist("quor2.per").n(), 1024u);
  q = {.file = 4, .records = 100};
  EXPECT_FALSE(new_event(&q));
  EXPECT_FALSE(std::filesystem::exists("quor5.evt"));
}

TEST_F(HistFile, RingThroughAFullWrap) {
  ASSERT_TRUE(make(K::Periodic, 1, 3, 100));
  const float v[2] = {1.5f, -2.0f};  // the third bin is written empty
  bool ok = false;
  hist_par s = status(K::Periodic, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(s.records, 100u);
  EXPECT_EQ(s.latest, 99u);  // nothing written: next = first
  EXPECT_EQ(s.latest_time, 0u);
  for (unsigned i = 0; i < 105; ++i) {
    ASSERT_TRUE(write_periodic(1, v, 2, 1000 + 60 * i));
    const unsigned n = i + 1;  // written
    EXPECT_EQ(span(status(K::Periodic, 1)),
              (std::vector<unsigned>{n < 100 ? 0 : n % 100, i % 100, 1000 + 60 * (n <= 100 ? 0 : n - 100), 1000 + 60 * i}))
        << n;
  }
  RawHist r("quor2.per");
  EXPECT_EQ(r.next(), r.first() + 5);
  EXPECT_EQ(r.time(4), 1000u + 60 * 104);
  EXPECT_EQ(r.time(5), 1000u + 60 * 5);  // the oldest, after the wrap
  EXPECT_EQ(r.value(4, 0), 1.5f);
  EXPECT_EQ(r.value(4, 1), -2.0f);
  EXPECT_EQ(r.value_bits(4, 2), 0x7F61B1E6u);

  // Reading back, past the end and of a file that is not there: the
  // record lists of history_commands_test read the records themselves.
  float back[HIST_MAX_N];
  u32 t = 0;
  EXPECT_FALSE(read_periodic(1, back, &t, 100));
  EXPECT_FALSE(read_periodic(4, back, &t, 0));

  // Event records, field by field.
  ASSERT_TRUE(make(K::Event, 0, 2, 100));
  ASSERT_TRUE(write_event(0, 0x01020304, 2.5f, 3.0f, 0xABCD));
  RawHist e("quor1.evt");
  const unsigned char rec[14] = {4, 3, 2, 1, 0, 0, 0x20, 0x40, 0, 0, 0x40, 0x40, 0xCD, 0xAB};
  EXPECT_EQ(std::memcmp(&e.b[e.at(0)], rec, 14), 0);
  EXPECT_EQ(e.next(), e.first() + 1);
  float d, st;
  u16 ev;
  EXPECT_FALSE(read_event(0, 100, &t, &d, &st, &ev));
}

TEST_F(HistFile, TornLastRecordCostsOnlyThatRecord) {
  ASSERT_TRUE(make(K::Periodic, 0, 4, 100));
  const float v[4] = {1, 2, 3, 4};
  for (unsigned i = 0; i < 10; ++i) ASSERT_TRUE(write_periodic(0, v, 4, 5000 + 10 * i));
  hist_par before = status(K::Periodic, 0);
  // The eleventh record reached its slot only in part; next never moved.
  RawHist r("quor1.per");
  poke32("quor1.per", off_t(r.at(10)), 5100);
  poke32("quor1.per", off_t(r.at(10)) + 4, 0x3F800000);
  bool ok = false;
  hist_par after = status(K::Periodic, 0, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(span(after), (std::vector<unsigned>{0, before.latest, 5000, 5090}));
  u32 rec = 0;
  ASSERT_TRUE(date_periodic(0, 9999, &rec));
  EXPECT_EQ(rec, 9u);
  // The next write takes the slot over whole.
  ASSERT_TRUE(write_periodic(0, v, 4, 5100));
  EXPECT_EQ(RawHist("quor1.per").value(10, 3), 4.0f);
  EXPECT_EQ(status(K::Periodic, 0).latest, 10u);
}

// The writer holds the file and its header between records; a file renamed
// over it (an upload, a restore) takes the next record, the old one no more.
TEST_F(HistFile, WriterFollowsAFileReplacedBehindIt) {
  ASSERT_TRUE(make(K::Periodic, 0, 1, 100));
  const float v[1] = {1};
  ASSERT_TRUE(write_periodic(0, v, 1, 100));
  ASSERT_EQ(link("quor1.per", "held.per"), 0);
  std::filesystem::copy_file("quor1.per", "new.per");
  ASSERT_EQ(rename("new.per", "quor1.per"), 0);
  hist_files_changed();
  ASSERT_TRUE(write_periodic(0, v, 1, 200));
  ASSERT_TRUE(write_periodic(0, v, 1, 300));
  RawHist now("quor1.per"), held("held.per");
  EXPECT_EQ(now.next(), now.first() + 3);
  EXPECT_EQ(now.time(2), 300u);
  EXPECT_EQ(held.next(), held.first() + 1);
  EXPECT_EQ(held.time(1), 0u);
}

TEST_F(HistFile, CorruptHeadersAreNeverWrittenThrough) {
  struct Case {
    const char* what;
    off_t at;
    unsigned value;
    off_t truncate = -1;
  };
  const Case cases[] = {
      {"n 0", 12, 0},         {"n 1025", 12, 1025},           {"first", 4, 3},
      {"next past last", 0, 200}, {"next before first", 0, 2}, {"last beyond the file", 8, 500},
      {"truncated", 0, 5, 1000},  {"short header", 0, 5, 10},
  };
  const float v[2] = {7, 8};
  for (const Case& c : cases) {
    ASSERT_TRUE(make(K::Periodic, 2, 2, 100));
    if (c.truncate >= 0) {
      ASSERT_EQ(truncate("quor3.per", c.truncate), 0);
      hist_files_changed();
    }
    else
      poke32("quor3.per", c.at, c.value);
    auto was = RawHist("quor3.per").b;
    bool ok = true;
    status(K::Periodic, 2, &ok);
    EXPECT_FALSE(ok) << c.what;
    EXPECT_FALSE(write_periodic(2, v, 2, 100)) << c.what;
    float back[HIST_MAX_N];
    u32 t, rec;
    EXPECT_FALSE(read_periodic(2, back, &t, 0)) << c.what;
    EXPECT_FALSE(date_periodic(2, 0, &rec)) << c.what;
    EXPECT_EQ(RawHist("quor3.per").b, was) << c.what;
  }
  // The check at load builds a new file in place of a bad one.
  per_records[2] = 100;
  per_bins[2] = 2;
  per_ptr[2].resize(2);
  ASSERT_TRUE(check_periodic(2));
  hist_build_wait();
  EXPECT_TRUE(write_periodic(2, v, 2, 100));
  EXPECT_EQ(RawHist("quor3.per").time(0), 100u);
  // A 48-byte name without a terminator stays inside its 48 bytes.
  ASSERT_TRUE(make(K::Event, 2, 2, 100));
  int fd = open("quor3.evt", O_WRONLY);
  ASSERT_EQ(pwrite(fd, std::string(48, 'x').data(), 48, 16 + 2), 48);
  close(fd);
  hist_par h;
  h.file = 2;
  ASSERT_TRUE(get_event_header(&h));
  EXPECT_EQ(h.records, 99u);  // last - first
  EXPECT_EQ(std::string(h.names[0], strnlen(h.names[0], 48)), std::string(48, 'x'));
  EXPECT_EQ(std::string(h.names[1]), "b2");
}

TEST_F(HistFile, SearchesByDate) {
  ASSERT_TRUE(make(K::Periodic, 0, 1, 100));
  per_interval[0] = 60;
  const float v[1] = {0};
  u32 rec = 0;
  EXPECT_FALSE(date_periodic(0, 1000, &rec));  // no records yet
  // 130 records a minute apart from 6000: the ring wrapped, the oldest is
  // record 30 at 7800 and the latest record 29 at 13740.
  for (unsigned i = 0; i < 130; ++i) ASSERT_TRUE(write_periodic(0, v, 1, 6000 + 60 * i));
  const std::pair<unsigned, unsigned> targets[] = {{7800, 30},  {10000, 67}, {9960, 66},  {9961, 67}, {13740, 29},
                                                  {99999, 29}, {100, 30},    {13739, 29}, {12060, 1}};
  for (unsigned interval : {60u, 0u, 7u})
    for (auto [target, record] : targets) {
      per_interval[0] = interval;
      ASSERT_TRUE(date_periodic(0, target, &rec));
      EXPECT_EQ(rec, record) << target << " interval " << interval;
    }

  // Events: several at one second. Times 100, 200, 200, 200, 300.
  ASSERT_TRUE(make(K::Event, 1, 1, 100));
  for (unsigned t : {100u, 200u, 200u, 200u, 300u}) ASSERT_TRUE(write_event(1, t, 0, 1, 1));
  const std::tuple<unsigned, int, unsigned> searches[] = {  // target, direction, record
      {200, 0, 1}, {200, 1, 3}, {150, 0, 0}, {150, 1, 1}, {250, 0, 3},
      {250, 1, 4}, {50, 0, 0},  {50, 1, 0},  {300, 0, 4}, {300, 1, 4}};
  for (auto [target, dir, record] : searches) {
    ASSERT_TRUE(date_event(1, target, &rec, dir)) << target;
    EXPECT_EQ(rec, record) << target << " dir " << dir;
  }
  EXPECT_FALSE(date_event(1, 301, &rec, 0));  // after the latest
  ASSERT_TRUE(make(K::Event, 2, 1, 100));
  EXPECT_FALSE(date_event(2, 0, &rec, 1));  // empty
}

TEST_F(HistFile, MailMarkerTakesTheFirstRecordAfterAMail) {
  ASSERT_TRUE(make(K::Event, 0, 1, 100));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(write_event(0, 100 + i, 0, 1, 1));
  EXPECT_EQ(evt_mail_rec[0].load(), -1);  // no address: nothing to mail
  evt_email1[0] = 1;
  ASSERT_TRUE(write_event(0, 200, 0, 1, 1));
  ASSERT_TRUE(write_event(0, 201, 0, 1, 1));
  EXPECT_EQ(evt_mail_rec[0].load(), 3);
  program_new(false);  // a new program forgets the markers
  EXPECT_EQ(evt_mail_rec[0].load(), -1);
}

TEST_F(HistFile, CreationFromTheConfiguration) {
  // Load check: a missing file is created from the configuration.
  per_records[1] = 200;
  gen_sel = 4;
  ASSERT_EQ(gen_resize(3), ~0u);
  per_ptr[1][0].name = "flow";
  per_ptr[1][2].format = 6;
  ASSERT_TRUE(check_periodic(1));
  hist_build_wait();
  RawHist a("quor2.per");
  ASSERT_EQ(a.n(), 3u);
  EXPECT_EQ(a.last() - a.first() + 1, 200u);
  EXPECT_TRUE(a.name(0) == "flow" && a.format(2) == 6u);

  // Same geometry: only the labels change, the history stays.
  const float v[3] = {1, 2, 3};
  ASSERT_TRUE(write_periodic(1, v, 3, 777));
  per_ptr[1][0].name = "flow 2";
  ASSERT_TRUE(check_periodic(1));
  hist_build_wait();
  RawHist b("quor2.per");
  EXPECT_EQ(b.name(0), "flow 2");
  EXPECT_EQ(b.time(0), 777u);

  // Another bin count: recreated, history lost. Through the page's
  // "Create file" row as a client sets it.
  ASSERT_EQ(gen_resize(4), ~0u);
  Iparam p{.type = ptype::Select, .value = 1};
  ASSERT_TRUE(gen::sparam(&p, 0, 0));
  hist_build_wait();
  RawHist c("quor2.per");
  EXPECT_EQ(c.n(), 4u);
  EXPECT_EQ(c.time(0), 0u);

  // No room on the disk: refused, the file as it was. The size is computed
  // in 64 bits: 1024 values by 2 million records need about 8 GB, which a
  // 32-bit product would make about 3.9 GB.
  ASSERT_EQ(gen_resize(1024), ~0u);
  per_records[1] = 2000000;
  fake.free_kib = 5000000;
  EXPECT_FALSE(gen::sparam(&p, 0, 0));
  EXPECT_FALSE(hist_build_pending(K::Periodic, 1));
  EXPECT_EQ(RawHist("quor2.per").b, c.b);
  fake.free_kib = 1u << 20;

  // Records 0: the file goes.
  gen_sel = 8;
  evt_records[1] = 0;
  ASSERT_TRUE(make(K::Event, 1, 2, 100));
  ASSERT_TRUE(gen::sparam(&p, 0, 0));
  EXPECT_FALSE(std::filesystem::exists("quor2.evt"));
}

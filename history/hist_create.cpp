// Creating history files, and checking them against the configuration.
//
// A file is built under a temporary name by the history subsystem's own
// thread and renamed into place only when complete and on disk, so neither
// the clients nor the scan wait for a large file, and a crash or a full disk
// never leaves a file that lies: the previous file stays until the rename.
// A newer request for the same file (or its deletion) supersedes a build in
// progress.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <optional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/config.h"
#include "history/hist_format.h"
#include "platform/platform.h"

namespace {

constexpr size_t kChunk = 256 * 1024;  // bytes of empty records per write

struct Job {
  HistKind kind;
  int f;
  u32 generation;
  u32 n, records;
  std::vector<u8> header;  // format bytes and names, 49 n bytes
  std::promise<bool> done;
};

int kind_index(HistKind k) { return k == HistKind::Periodic ? 0 : 1; }

class Builder {
 public:
  ~Builder() {
    {
      std::lock_guard g(m_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  std::future<bool> submit(std::unique_ptr<Job> job) {
    std::future<bool> result = job->done.get_future();
    std::lock_guard g(m_);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    ++pending_[kind_index(job->kind)][job->f];
    queue_.push_back(std::move(job));
    cv_.notify_all();
    return result;
  }

  bool pending(HistKind k, int f) {
    std::lock_guard g(m_);
    return pending_[kind_index(k)][f] != 0;
  }

  void wait_idle() {
    std::unique_lock g(m_);
    idle_.wait(g, [this] { return queue_.empty() && !busy_; });
  }

  // The generation of each file: a build publishes only while its own is
  // still the newest. publish_ orders renames against deletions.
  std::atomic<u32> generation[2][HIST_FILES]{};
  std::mutex publish_;

  bool stopping() {
    std::lock_guard g(m_);
    return stop_;
  }

 private:
  void run() {
    for (;;) {
      std::unique_ptr<Job> job;
      {
        std::unique_lock g(m_);
        cv_.wait(g, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
      }
      bool ok = build(*job);
      job->done.set_value(ok);
      {
        std::lock_guard g(m_);
        --pending_[kind_index(job->kind)][job->f];
        busy_ = false;
      }
      idle_.notify_all();
    }
  }

  bool build(const Job& j);

  std::mutex m_;
  std::condition_variable cv_, idle_;
  std::deque<std::unique_ptr<Job>> queue_;
  int pending_[2][HIST_FILES]{};
  bool busy_ = false, stop_ = false;
  std::thread thread_;
};

Builder& builder() {
  static Builder b;
  return b;
}

bool current(const Job& j) { return builder().generation[kind_index(j.kind)][j.f].load() == j.generation; }

bool write_all(int fd, const u8* p, size_t len, off_t at) {
  while (len) {
    ssize_t w = ::pwrite(fd, p, len, at);
    if (w <= 0) return false;
    p += w;
    len -= size_t(w);
    at += w;
  }
  return true;
}

bool Builder::build(const Job& j) {
  const std::string name = hist_file_name(j.kind, j.f), tmp = name + ".tmp";
  const u32 s = hist::slot_size(j.kind, j.n), first = hist::first_slot(j.kind, j.n);
  const u32 last = first + j.records - 1;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;

  std::vector<u8> head(size_t(first) * s, 0);
  hist::put32(head.data(), first);
  hist::put32(head.data() + 4, first);
  hist::put32(head.data() + 8, last);
  hist::put32(head.data() + 12, j.n);
  std::memcpy(head.data() + hist::HEADER_FIXED, j.header.data(), j.header.size());
  bool ok = write_all(fd, head.data(), head.size(), 0);

  const u32 per_chunk = u32(std::max<size_t>(1, kChunk / s));
  std::vector<u8> chunk(size_t(per_chunk) * s);
  for (u32 i = 0; i < per_chunk; ++i) hist::empty_record(j.kind, j.n, chunk.data() + size_t(i) * s);
  for (u32 done = 0; ok && done < j.records;) {
    if (!current(j) || stopping()) {
      ok = false;
      break;
    }
    u32 k = std::min(per_chunk, j.records - done);
    ok = write_all(fd, chunk.data(), size_t(k) * s, off_t(first + done) * s);
    done += k;
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  std::lock_guard g(publish_);
  if (ok && current(j) && std::rename(tmp.c_str(), name.c_str()) == 0) {
    hist_files_changed();
    return true;
  }
  ::unlink(tmp.c_str());
  return false;
}

// Starts building file f from p; the future tells when it is in place.
// Refused at once (nullopt) for a bad index or when the disk cannot hold it.
std::optional<std::future<bool>> start(HistKind k, const hist_par& p) {
  if (p.file >= HIST_FILES) return std::nullopt;
  const int f = int(p.file);
  Builder& b = builder();
  const u32 n = std::clamp<u32>(p.n, 1, HIST_MAX_N);
  if (p.records == 0) {
    std::lock_guard g(b.publish_);
    b.generation[kind_index(k)][f].fetch_add(1);
    ::unlink(hist_file_name(k, f).c_str());
    hist_files_changed();
    std::promise<bool> deleted;
    deleted.set_value(true);
    return deleted.get_future();
  }
  const u32 first = hist::first_slot(k, n);
  const u32 records = std::min(std::max(p.records, HIST_MIN_RECORDS), 0xFFFFFFFFu - first);
  const unsigned long long bytes = (unsigned long long)(first + (unsigned long long)records) * hist::slot_size(k, n);
  if (plat && plat->free_disk_kib() < bytes / 1024 + 2) return std::nullopt;

  auto job = std::make_unique<Job>();
  job->kind = k;
  job->f = f;
  job->n = n;
  job->records = records;
  job->header.resize(size_t(n) * 49);
  std::memcpy(job->header.data(), p.format, n);
  std::memcpy(job->header.data() + n, p.names, size_t(n) * HIST_NAME_LEN);
  job->generation = b.generation[kind_index(k)][f].fetch_add(1) + 1;
  return b.submit(std::move(job));
}

bool create_now(HistKind k, hist_par* p) {
  if (!p) return false;
  auto r = start(k, *p);
  return r && r->get();
}

// The configuration's picture of file f.
std::unique_ptr<hist_par> from_config(HistKind k, int f) {
  auto p = std::make_unique<hist_par>();
  p->file = u32(f);
  if (k == HistKind::Periodic) {
    p->records = per_records[f];
    p->n = std::clamp<u32>(per_bins[f], 1, HIST_MAX_N);
    for (u32 i = 0; i < p->n && i < per_ptr[f].size(); ++i) {
      p->format[i] = per_ptr[f][i].format;
      std::strncpy(p->names[i], per_ptr[f][i].name.c_str(), HIST_NAME_LEN - 1);
    }
  } else {
    p->records = evt_records[f];
    p->n = std::clamp<u32>(evt_events[f], 1, HIST_MAX_N);
    for (u32 i = 0; i < p->n && i < evt_ptr[f].size(); ++i) {
      p->format[i] = evt_ptr[f][i].format;
      std::strncpy(p->names[i], evt_ptr[f][i].name.c_str(), HIST_NAME_LEN - 1);
    }
  }
  return p;
}

bool check(HistKind k, int f) {
  if (f < 0 || f >= HIST_FILES) return false;
  auto want = from_config(k, f);
  hist_par now;
  now.file = u32(f);
  bool fits = want->records != 0 &&
              (k == HistKind::Periodic ? status_periodic(&now) : status_event(&now)) &&
              now.records == std::max(want->records, HIST_MIN_RECORDS) && now.n == want->n;
  if (fits) return k == HistKind::Periodic ? write_periodic_header(want.get()) : write_event_header(want.get());
  return start(k, *want).has_value();
}

bool create(HistKind k, int f) {
  if (f < 0 || f >= HIST_FILES) return false;
  return start(k, *from_config(k, f)).has_value();
}

}  // namespace

bool new_periodic(hist_par* p) { return create_now(HistKind::Periodic, p); }
bool new_event(hist_par* p) { return create_now(HistKind::Event, p); }
bool check_periodic(int f) { return check(HistKind::Periodic, f); }
bool check_event(int f) { return check(HistKind::Event, f); }
bool create_periodic(int f) { return create(HistKind::Periodic, f); }
bool create_event(int f) { return create(HistKind::Event, f); }

bool hist_build_pending(HistKind k, int f) { return f >= 0 && f < HIST_FILES && builder().pending(k, f); }
void hist_build_wait() { builder().wait_idle(); }

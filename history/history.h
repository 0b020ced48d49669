// History files: fixed-size rings of records in the working directory.
// Periodic file f (0..3) is "quor<f+1>.per": a record is a time and up to
// 1024 values written by Histper on every period boundary. Event file f is
// "quor<f+1>.evt": a record is a time, a data value, a status value and an
// event number written by Histevt.
//
// Every function opens and closes its file, so a file replaced on disk (an
// upload, a restored backup) is used as it now stands. Functions that can
// fail return false; a file index outside 0..3 always fails.
#pragma once
#include <atomic>
#include <string>

#include "core/types.h"

inline constexpr int HIST_FILES = 4;
inline constexpr u32 HIST_MAX_N = 1024;     // bins or events per file
inline constexpr u32 HIST_NAME_LEN = 48;    // bytes per name in the header
inline constexpr u32 HIST_MIN_RECORDS = 100;

enum class HistKind : u8 { Periodic, Event };

// The in-memory picture of one history file.
struct hist_par {
  u32 file = 0;         // 0..3
  u32 latest = 0;       // latest record number
  u32 oldest = 0;       // oldest record number
  u32 records = 0;      // record count (get_*_header: one less)
  u32 n = 0;            // bins or events
  u32 oldest_time = 0;
  u32 latest_time = 0;
  u8 spare = 0;
  u8 format[HIST_MAX_N]{};               // decimal places 0..5, 6/7 digital
  char names[HIST_MAX_N][HIST_NAME_LEN]{};  // NUL-padded, not always terminated
};

// Mail markers, per file: the record number where the next mail starts, -1
// when nothing waits. The writers (execution thread) set a marker from -1 to
// the record they write; the mailer (main thread) sets it back to -1.
inline std::atomic<i32> per_mail_rec[HIST_FILES]{-1, -1, -1, -1};
inline std::atomic<i32> evt_mail_rec[HIST_FILES]{-1, -1, -1, -1};

// "quor1.per" .. "quor4.evt".
std::string hist_file_name(HistKind kind, int f);

// Creation. n is clamped to 1..1024, records below 100 become 100, records 0
// deletes the file. The file is built under a temporary name and renamed
// into place when complete; a failure (no room, a short write) leaves the
// previous file as it was. These wait for the file to be complete.
bool new_periodic(hist_par* p);
bool new_event(hist_par* p);

// Header reads: status_* fills latest, oldest, records, n and the two times;
// get_*_header fills n, format bytes, names and records = last - first.
bool status_periodic(hist_par* p);
bool status_event(hist_par* p);
bool get_periodic_header(hist_par* p);
bool get_event_header(hist_par* p);
// Rewrites format bytes and names in place when the file's n equals p->n.
bool write_periodic_header(hist_par* p);
bool write_event_header(hist_par* p);

// Compares file f with the configuration and recreates it (in the
// background, all history lost) when it is missing or records or n differ;
// otherwise rewrites only the labels. Main thread.
bool check_periodic(int f);
bool check_event(int f);
// "Create file" of a configuration page: starts building file f from the
// present settings. False when refused at once (no room on the disk).
bool create_periodic(int f);
bool create_event(int f);

// Writing (execution thread): one record at next, then next advances.
// Periodic values beyond count are written empty.
bool write_periodic(int f, const float* values, u32 count, u32 time);
bool write_event(int f, u32 time, float data, float status, u16 event);

// Reading by record number (0 = the first slot). values holds 1024.
bool read_periodic(int f, float* values, u32* time, u32 record);
bool read_event(int f, u32 record, u32* time, float* data, float* status, u16* event);

// Searches by time (see hist_search.cpp for the rules).
bool date_periodic(int f, u32 time, u32* record);
bool date_event(int f, u32 time, u32* record, int direction);

// Tells the writers that history files may have been replaced, renamed or
// deleted on disk (creation, uploads, the file commands). Writers keep
// their files open between records and check them against the disk at
// least once a second; this makes the next write check at once.
void hist_files_changed();

// Background creation: true while a build of file f is pending; waits until
// none is (tests, shutdown).
bool hist_build_pending(HistKind kind, int f);
void hist_build_wait();

// Sets the configuration hooks, the program-load check and the program reset
// of the mail markers.
void history_install_hooks();

// The scan engine: the execution thread that runs the four loops at their
// periods, one instruction per execution pass, with preemption by lower
// loops, the run flag, the break point and the lock handshake.
#pragma once
#include <sys/time.h>

#include <atomic>
#include <thread>

#include "core/control.h"

// Clock (written by update_time and sdate).
inline timeval ptime{};
inline std::atomic<u32> timec{0};        // controller seconds
inline std::atomic<i32> dtime{0};        // microseconds in the second
inline std::atomic<i32> timec_msec{0};   // hundredths of a second in the day
inline u32 timel = 0;                    // second of the previous iteration
inline i32 ltime = 0;                    // dtime of the previous iteration
inline i32 ntime = 0;                    // microsecond mark of the next tick
inline std::atomic<u32> next_time_sync{0xFFFFFFFFu};  // next clock resync
inline std::atomic<u32> ip_timeout{0};   // network set-up deadline

// Configuration the engine reads on every iteration (general page 0).
inline std::atomic<u32> gen_loop_int[4]{1000, 0, 0, 0};  // loop periods, ms
inline std::atomic<u8> gen_watchdog{0};
inline std::atomic<u8> gen_watchdog_type{4};

// Schedule.
inline std::atomic<u32> loop_time[4]{};  // next due time of each loop
// Scheduled start of the period; also moved by a clock set (hourly resync
// on the execution thread, "sdate" on the main thread).
inline std::atomic<u32> run_date[4]{};

// Run state.
inline std::atomic<u8> run{0};
inline std::atomic<u8> run_status[4]{};  // started passes not yet completed
inline u8 first_pass[4]{};
inline Control* return_instruction[4]{};  // where a preempted pass resumes
inline Control* run_instruction = nullptr;
inline Control* last_instruction = nullptr;
inline u16 current_loop_exec = 0;
inline i32 loop_exec_time[4]{};
inline std::atomic<Control*> break_execute{nullptr};
inline u8 if_status[4][10]{};
inline u8 if_index[4]{};
inline std::atomic<u8> thread_ctr{0};
inline std::thread thread_execute;
// The execution thread asks for real-time (first-in first-out) scheduling
// when it starts, so that passes start on time on a busy processor. Set by
// the main thread before start_exec_thread: on the board, or by --realtime.
inline bool exec_realtime = false;
// The priority it asks for; a board's interrupt threads stay above it.
inline constexpr int EXEC_RT_PRIORITY = 40;
// Asks real-time scheduling for the calling thread; false (errno set) when
// the system refuses it.
bool request_realtime(int priority);

// Single stepping (main thread).
inline Control* next_step_instruction = nullptr;
inline Control* current_instruction_last = nullptr;

// Software watchdog of the main thread, reloaded by every client pass.
inline std::atomic<u16> wd_timer{600};
inline bool wd_toggle = false;

// A break point reached by the execution thread, for the main thread to
// move the editing cursor to (see engine_apply_break).
inline std::atomic<Control*> break_hit{nullptr};
inline std::atomic<u16> break_hit_loop{0};

// Starts the execution thread: -1, or 0 when the thread cannot be created.
int start_exec_thread();
// Ends the execution thread (tests and orderly shutdown).
void stop_exec_thread();
bool exec_thread_running();
// Returns the engine to its start-up state (no pass, nothing queued).
void engine_reset();

void start_run();
void lock(int level);
// Ends a pause; after a level-3 stop every loop restarts from the top,
// running, or halted when `halted` is set.
void release(bool halted = false);
int update_time();
void set_run_date(int L);
void set_next_loop_time(int L);
void start_loop(int L);
void start_instruction_loop(int L);
// One iteration of the execution thread (clock, housekeeping, one pass).
void exec_iteration();
// One execution pass.
void quor_exec();
// How long the execution thread may sleep before its next iteration, in us
// (0: a pass or a due tick is waiting).
i32 idle_wait_us();
// Moves the editing cursor to a break point the scan has reached. Called by
// the main thread before it serves a client.
void engine_apply_break();

// "!System" cells of the engine.
Idata sys_get(u16 i);
void sys_set(u16 i, Idata v);

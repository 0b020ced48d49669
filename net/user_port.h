// The user port: one listening TCP socket and ten client slots served by
// the main thread. The first line of a connection chooses a file download
// ("GET /"), an upload ("POST /"), an HMI session ("Quiblet! /"), a drop
// ("Disconnect /") or one-shot HMI command lines.
#pragma once
#include <atomic>
#include <cstdio>
#include <functional>
#include <string_view>

#include "core/types.h"

inline constexpr int CLIENT_SLOTS = 10;
// Longest request line, and the size of every receive and file read.
inline constexpr size_t USER_CHUNK = 14000;

inline int client_socket[CLIENT_SLOTS]{};   // 0: free slot
inline int quiblet_socket[CLIENT_SLOTS]{};  // set once the slot is a session
inline std::atomic<u8> port_timeout[CLIENT_SLOTS]{};  // idle seconds left, 0 off
inline std::atomic<u8> port_close[CLIENT_SLOTS]{};    // countdown expired
inline FILE* get_file[CLIENT_SLOTS]{};      // download in progress
// While set (history file creation) the countdowns are held at 120.
inline std::atomic<bool> no_socket_timeout{false};
inline int sockfd1 = 0;  // listening socket

// Listens on port (0: an ephemeral port). False when it cannot.
bool user_port_open(u16 port);
// The port actually listened on.
u16 user_port_number();
// Closes every slot and the listener.
void user_port_shutdown();

// One pass: downloads, countdown closes, then waits up to wait_ms for
// activity and serves every ready descriptor. Returns -1.
int proc_user(int wait_ms = 5);
// Frees a slot. -1 if a client socket was closed, otherwise 0.
int close_socket(int slot);
// Advances every download by at most one chunk.
void send_data();
// Once a second on the execution thread: the idle countdowns.
void clients_second();
// The network's hook entries: the client countdowns, the hourly clock
// resynchronisation, the listener set-up and the client pass of start-up.
void net_install_hooks();

// Reply output of a slot: queued, then written in one write per flush; what
// the socket does not take at once goes out in later passes.
void slot_queue(int slot, std::string_view bytes);
void slot_flush(int slot);
// A reply produced in steps, so that a long one stalls neither the other
// clients nor the scan: `more` queues the next part of the reply and returns
// false once it is complete. It is called in later passes whenever the
// slot's queued output has drained, and the slot's further command lines
// wait until it is done. Closing the slot drops it.
void slot_continue(int slot, std::function<bool(int)> more);
bool slot_producing(int slot);
// Runs one step of every pending reply; true while any is pending.
bool produce_replies();
// Moves a connection (sockets, countdown, buffers) from one slot to another.
void slot_move(int from, int to);
// Puts an already connected socket into a free slot as if accepted; returns
// the slot or -1 (tests and tools).
int slot_adopt(int fd);

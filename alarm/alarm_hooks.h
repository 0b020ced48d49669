// The alarm senders' entries into the engine and the user port loop.
#pragma once

// Execution thread, once a second: the mail, retry and modem countdowns.
void alarm_second();
// Execution thread, every ten-millisecond tick: the mail silence countdown.
void alarm_tick();
// Main thread, every user port pass: one step of the mail and modem
// machines.
void alarm_pass();
// Sets the engine, user port and new-program entries of the alarm senders.
void alarm_install_hooks();

// Real-time scheduling for the threads that keep the sound going (the Mixer
// thread, the wave output's own threads): SCHED_FIFO at the highest priority
// this process may use, below the ceiling a real-time JACK server sets. Linux grants it by one of
// two roads: the RLIMIT_RTPRIO resource limit (the 'audio' group's entry in /etc/security/limits.d
// allows 95) or the RealtimeKit service on the system bus, which desktops run.
#pragma once
#include <sys/types.h>

namespace platform {

// Puts thread tid of this process on SCHED_FIFO at the highest priority
// allowed, trying CAP_SYS_NICE or the resource limit first, RealtimeKit
// second. Returns the priority given, 0 when none was granted. May wait up to
// a second for RealtimeKit; never call it on a real-time thread.
int MakeThreadRealTime(pid_t tid);

// The audio server's own real-time threads must never wait for ours: from
// now on our threads run at most at priority (a JACK server's client
// priority less one), and the threads raised before are lowered to it.
// -1 lifts the ceiling (a device whose server has no real-time threads of
// its own above ours to keep).
void SetRealTimeCeiling(int priority);

// Before a JACK client opens: libjack's threads are named "jack client"
// (a thread otherwise inherits its creator's name, and JACK's process thread
// would pass for the Mixer thread that opened the client).
void NameJackThreads();

// After a refusal: one notice per process saying so and how to get it.
void TellRealTimeRefused();

// RealtimeKit's MakeThreadRealtime for tid at most at priority; the priority
// given, 0 when the service is missing or refused (RealtimeKit.cpp).
int RealtimeKitMakeThreadRealTime(pid_t tid, int priority);

}  // namespace platform

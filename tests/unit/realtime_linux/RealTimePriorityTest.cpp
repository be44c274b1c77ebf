// Real-time scheduling: where the process may use it, the Mixer thread runs
// SCHED_FIFO at the top priority; where it may not (no CAP_SYS_NICE, an
// rtprio limit of 0, no RealtimeKit on the system bus), the wave output says
// so in one line, however many times a device opens.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "engine/Mixer.h"
#include "platform/Thread.h"
#include "platform/WaveOut.h"
#include "support/JackServer.h"
#include "support/LogCapture.h"
#include "support/MixerPeer.h"
#include "support/doubles/SleepMs.h"
#include "support/doubles/VirtualWaveOut.h"

namespace {

// Whether a thread of this process may take SCHED_FIFO at the top priority.
bool TopPriorityAllowed() {
  bool allowed = false;
  std::thread probe([&] {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    allowed = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
  });
  probe.join();
  return allowed;
}

TEST(RealTimePriority, MixerThreadRunsFifoAtTheTopWhereAllowed) {
  if (!TopPriorityAllowed())
    GTEST_SKIP() << "this process may not use SCHED_FIFO at the top priority";
  platform::VirtualWaveOut device;
  platform::InstallWaveOutApi(&device);
  LogCapture log;
  auto mixer = std::make_unique<Mixer>(0);
  ASSERT_TRUE(log.WaitFor("Wave out opened"));
  const pid_t tid = static_cast<pid_t>(MixerPeer::Thread(*mixer).Id());
  sched_param param{};
  EXPECT_EQ(sched_getscheduler(tid), SCHED_FIFO);
  ASSERT_EQ(sched_getparam(tid, &param), 0);
  EXPECT_EQ(param.sched_priority, sched_get_priority_max(SCHED_FIFO));
  mixer->ScheduleShutdown();
  mixer->WaitForShutdown();
  mixer.reset();
  platform::InstallWaveOutApi(nullptr);
  EXPECT_TRUE(log.Starting("No real-time priority").empty());
}

// Capabilities belong to a thread and pass to the threads it starts.
bool DropNiceCapability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2];
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
  return syscall(SYS_capset, &header, data) == 0;
}

TEST(RealTimePriority, RefusedOnceSaysSoInOneLine) {
  rlimit none{0, 0};
  ASSERT_EQ(setrlimit(RLIMIT_RTPRIO, &none), 0);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pelvane-test-bus", 1);
  JackServer server(256);
  ASSERT_TRUE(server.Ready()) << "the JACK server did not start";
  LogCapture log;
  std::thread unprivileged([&] {
    ASSERT_TRUE(DropNiceCapability());
    platform::WaveOutApi& api = platform::NativeWaveOutApi();
    uint32_t id = 0;
    const uint32_t count = api.GetNumDevs();
    for (char name[32]; id < count; ++id)
      if (api.GetDeviceName(id, name) == platform::kWaveOk &&
          std::strcmp(name, "JACK: system") == 0)
        break;
    ASSERT_LT(id, count);
    const platform::WindowHandle window = platform::CreateMessageWindow("test");
    for (int run = 0; run < 2; ++run) {
      platform::WaveOutHandle device = 0;
      ASSERT_EQ(api.Open(&device, id, window), platform::kWaveOk);
      // The relay thread asks as it starts.
      for (int waited = 0; waited < 10000 && log.Starting("No real-time priority").empty();
           waited += 10)
        platform::SleepMs(10);
      ASSERT_EQ(api.Close(device), platform::kWaveOk);
    }
    platform::DestroyMessageWindow(window);
  });
  unprivileged.join();
  const std::vector<std::string> told = log.Starting("No real-time priority");
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0],
            "No real-time priority for the audio threads (neither the rtprio limit nor RealtimeKit "
            "granted it): "
            "the sound may break up under load. Add your user to the 'audio' group (its limits "
            "allow rtprio "
            "95) and log in again.");
}

}  // namespace

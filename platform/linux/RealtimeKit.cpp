// A client of RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus),
// the service through which desktops grant real-time scheduling to users
// without an rtprio limit. The service caps the priority it gives
// (MaxRealtimePriority) and refuses a process whose RLIMIT_RTTIME is above its
// RTTimeUSecMax, so the limit is lowered to that first: a real-time thread of
// ours that ran that long without sleeping would be stopped by SIGXCPU, which
// none does.
#include <dbus/dbus.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/linux/RealTimePriority.h"

namespace platform {

namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kPath = "/org/freedesktop/RealtimeKit1";
constexpr int kTimeoutMs = 1000;

// One property of the service as a 64-bit integer (it publishes i and x).
bool GetProperty(DBusConnection* bus, const char* name, int64_t* value) {
  DBusMessage* call =
      dbus_message_new_method_call(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
  if (!call) return false;
  const char* interface = kService;
  bool ok = false;
  if (dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                               DBUS_TYPE_INVALID)) {
    DBusError error;
    dbus_error_init(&error);
    if (DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(bus, call, kTimeoutMs, &error)) {
      DBusMessageIter iter, variant;
      if (dbus_message_iter_init(reply, &iter) &&
          dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
        dbus_message_iter_recurse(&iter, &variant);
        int type = dbus_message_iter_get_arg_type(&variant);
        if (type == DBUS_TYPE_INT32) {
          dbus_int32_t v;
          dbus_message_iter_get_basic(&variant, &v);
          *value = v;
          ok = true;
        } else if (type == DBUS_TYPE_INT64) {
          dbus_int64_t v;
          dbus_message_iter_get_basic(&variant, &v);
          *value = v;
          ok = true;
        }
      }
      dbus_message_unref(reply);
    }
    dbus_error_free(&error);
  }
  dbus_message_unref(call);
  return ok;
}

bool MakeRealtime(DBusConnection* bus, pid_t tid, int priority) {
  DBusMessage* call = dbus_message_new_method_call(kService, kPath, kService, "MakeThreadRealtime");
  if (!call) return false;
  dbus_uint64_t thread = static_cast<dbus_uint64_t>(tid);
  dbus_uint32_t level = static_cast<dbus_uint32_t>(priority);
  bool ok = false;
  if (dbus_message_append_args(call, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &level,
                               DBUS_TYPE_INVALID)) {
    DBusError error;
    dbus_error_init(&error);
    if (DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(bus, call, kTimeoutMs, &error)) {
      ok = dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
      dbus_message_unref(reply);
    }
    dbus_error_free(&error);
  }
  dbus_message_unref(call);
  return ok;
}

}  // namespace

int RealtimeKitMakeThreadRealTime(pid_t tid, int priority) {
  dbus_threads_init_default();
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
  dbus_error_free(&error);
  if (!bus) return 0;
  // A bus connection ends the process when the bus goes, unless told not to.
  dbus_connection_set_exit_on_disconnect(bus, FALSE);

  int given = 0;
  int64_t most = 0, rtTime = 0;
  if (GetProperty(bus, "MaxRealtimePriority", &most) && most > 0 &&
      GetProperty(bus, "RTTimeUSecMax", &rtTime) && rtTime > 0) {
    rlimit limit;
    if (getrlimit(RLIMIT_RTTIME, &limit) == 0 &&
        (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > rlim_t(rtTime))) {
      limit.rlim_cur = limit.rlim_max = rlim_t(rtTime);
      setrlimit(RLIMIT_RTTIME, &limit);
    }
    const int level = static_cast<int>(std::min<int64_t>(most, priority));
    if (MakeRealtime(bus, tid, level)) given = level;
  }
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
  return given;
}

}  // namespace platform

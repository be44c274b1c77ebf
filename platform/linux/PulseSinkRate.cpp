#include "platform/linux/PulseSinkRate.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <string>

namespace platform {

namespace {

struct Query {
  bool done = false;
  unsigned rate = 0;
  std::string sink;
  pa_operation* pending = nullptr;
};

void OnSinkInfo(pa_context*, const pa_sink_info* info, int end, void* data) {
  auto* query = static_cast<Query*>(data);
  if (end) {
    query->done = true;
    return;
  }
  if (info) query->rate = info->sample_spec.rate;
}

void OnServerInfo(pa_context* context, const pa_server_info* info, void* data) {
  auto* query = static_cast<Query*>(data);
  if (!info || !info->default_sink_name) {
    query->done = true;
    return;
  }
  // The server's own default format, should the sink not answer.
  query->rate = info->sample_spec.rate;
  query->sink = info->default_sink_name;
  query->pending = pa_context_get_sink_info_by_name(context, query->sink.c_str(), OnSinkInfo, query);
  if (!query->pending) query->done = true;
}

void OnState(pa_context* context, void* data) {
  auto* query = static_cast<Query*>(data);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      if (pa_operation* op = pa_context_get_server_info(context, OnServerInfo, query)) pa_operation_unref(op);
      else query->done = true;
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      query->done = true;
      break;
    default:
      break;
  }
}

}  // namespace

unsigned PulseDefaultSinkRate() {
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) return 0;
  Query query;
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Pelvane");
  if (context) {
    pa_context_set_state_callback(context, OnState, &query);
    // PA_CONTEXT_NOAUTOSPAWN: asking must not start a server.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (!query.done && std::chrono::steady_clock::now() < deadline) {
        if (pa_mainloop_prepare(loop, 100000) < 0 || pa_mainloop_poll(loop) < 0 ||
            pa_mainloop_dispatch(loop) < 0)
          break;
      }
    }
    if (query.pending) pa_operation_unref(query.pending);
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
  pa_mainloop_free(loop);
  return query.done ? query.rate : 0;
}

}  // namespace platform

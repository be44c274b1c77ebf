// Windows sends WM_DEVICECHANGE to every top-level window itself, so there is
// nothing to watch.
#include "platform/DeviceWatch.h"

namespace platform {

struct DeviceWatch::Impl {};

DeviceWatch::DeviceWatch(WindowHandle /*window*/) {}

DeviceWatch::~DeviceWatch() = default;

}  // namespace platform

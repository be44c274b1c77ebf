// What pelvane-render does once its command line is parsed. Errors are one
// line on standard error, "pelvane-render: error: ...", and a result of 1.
#pragma once
#include "tools/RenderOptions.h"

int RunRenderCommand(const RenderOptions& options);

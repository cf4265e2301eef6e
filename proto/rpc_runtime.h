// Process-wide settings of the gRPC runtime, made once, before the first
// channel or server.
#pragma once

namespace qfx::rpc {

void prepareRuntime();

}  // namespace qfx::rpc

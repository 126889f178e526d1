#pragma once

namespace Deploy {

// The deployment, on the worker thread, from reading the configuration to
// launching the client.
void Run();

}  // namespace Deploy

#pragma once

namespace kestrel {

// Runs kestrel-cli with its arguments; returns the exit status.
int CliMain(int argc, char** argv);

}  // namespace kestrel

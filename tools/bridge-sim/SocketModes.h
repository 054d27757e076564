#pragma once
// bridge-sim between two real processes over a Unix-domain socket:
// --listen serves the agent model (the default set-up's Config and Status)
// to every peer that connects, and takes scenario commands on standard
// input, one a line, until a 'quit' line or an interrupt; --mirror
// connects to such a socket, mirrors the model and prints each change as
// it arrives, until interrupted or the connection ends.
#include <string>

#include "Capture.h"
#include "Model.h"

namespace BridgeSim {

// Both return the exit status; a socket that cannot be bound or reached
// throws BadInput naming the option.
int listenMain(std::string const& path, Model& model, Sizes const& sizes, Capture& capture);
int mirrorMain(std::string const& path);

}  // namespace BridgeSim

#pragma once
// bridge-sim between two real processes over a socket (a Unix-domain path
// or TCP, SocketAddress.h): --listen serves the agent model (the default
// set-up's Config and Status) to every peer that connects, and takes
// scenario commands on standard input, one a line, until a 'quit' line or
// an interrupt; --mirror connects to it, mirrors the model and prints each
// change as it arrives, until interrupted or the connection ends.
//
// A listener ends in order: it shuts its side of each connection and keeps
// listening until its peers have closed theirs (at most 5 s). A mirror
// whose connection ends asks whether the listener still accepts: if it
// does, the end was orderly (exit status 0); if nothing listens any more,
// the listener died (1), as when the connection broke (a malformed or
// truncated frame, a reset).
#include <string>

#include "Capture.h"
#include "Model.h"
#include "SocketAddress.h"

namespace BridgeSim {

// Both return the exit status; a socket that cannot be bound or reached
// throws BadInput naming the option.
int listenMain(SocketAddress const& address, Model& model, Sizes const& sizes, Capture& capture);
int mirrorMain(SocketAddress const& address, Capture& capture);

}  // namespace BridgeSim

#pragma once
// The default set-up that bridge-sim runs without a scenario: builds the
// model, reflects a state on every port, carries out a flush, makes a
// topology appear and vanish, then mirrors the agent model to a second
// process and sends a change each way, checking each step in the account.
#include "Account.h"
#include "Capture.h"
#include "Model.h"

namespace BridgeSim {

// Returns the exit status: exitHeld when every check held.
int defaultRun(Model& model, Sizes const& sizes, Account& account, Capture& capture, bool showProgress);

}  // namespace BridgeSim

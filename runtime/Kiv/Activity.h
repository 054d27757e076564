#pragma once
// Kiv::ActivityConfig stands for the configuration of an activity: the
// thread of control, with its event loop, on which a group of objects runs.
// This process has one activity, so no object holds an ActivityConfig; the
// class exists for its type, "Kiv::ActivityConfig", which registered types
// name as the type of their kivFwkActivity attribute (whose value is null
// for objects that run on the activity of what they observe).
#include "Kiv/Export.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"

namespace Kiv {

class KIV_API ActivityConfig : public PtrInterface {
 public:
  ActivityConfig() = default;
  ~ActivityConfig() override;

  static Ptr<KivType> _fwkType();
  Ptr<KivType> fwkType() const override;
};

}  // namespace Kiv

#pragma once
// Kiv::KivType describes a type to the runtime: its name and its parent
// type. Type objects are nondestructing and live for the whole process.
#include "Kiv/Export.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"

namespace Kiv {

class KIV_API KivType : public PtrInterface {
 public:
  KivType(String8 const& name, Ptr<KivType> const& parent);
  ~KivType() override;

  String8 const& name() const noexcept { return name_; }
  Ptr<KivType> parent() const { return parent_; }

  static Ptr<KivType> ptrInterfaceType();
  static Ptr<KivType> entityType();

 private:
  String8 name_;
  Ptr<KivType> parent_;
};

}  // namespace Kiv

#include "Kiv/GenericAccess.h"

namespace Kiv {

GenericIf::List_ const& argumentList(Ptr<GenericIf const> const& g) {
  auto const* list = dynamic_cast<GenericIf::List_ const*>(g.ptr());
  if (!list) GenericIf::throwTypeException("Kiv::GenericIf::List_");
  return *list;
}

void requireArgumentsAtMost(GenericIf::List_ const& list, std::size_t count, String8 const& owner) {
  if (list.size() > count) GenericIf::throwUnknownArgException(owner);
}

}  // namespace Kiv

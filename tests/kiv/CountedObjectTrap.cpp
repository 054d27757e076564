// Never built: the tests CountedObjectTrap.* compile it alone. As it is, it
// is the well-formed use of a counted object and must compile; with
// WRAP_NEW or WRAP_NEW_IN_CLASS it wraps a new object in a Kiv::Ptr, which
// would count the birth reference twice and leak the object, and must not.
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"

struct Counted : Kiv::PtrInterface {
  // A counted reference to itself, in the constructor and in a member.
  Counted() { Kiv::Ptr<Counted> self(this); }
  Kiv::Ptr<Counted> self() { return Kiv::Ptr<Counted>(this); }
#ifdef WRAP_NEW_IN_CLASS
  static Kiv::Ptr<Counted> factory() { return Kiv::Ptr<Counted>(new Counted); }
#endif
};

Kiv::Ptr<Counted> use() {
  auto made = Kiv::make<Counted>();
  Counted* const forever = Kiv::makeForProcess<Counted>();
  (void)forever;
#ifdef WRAP_NEW
  Kiv::Ptr<Counted> leaked(new Counted);
#endif
  return made->self();
}

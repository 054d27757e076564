#pragma once
// The notifiee list of an entity: raw, intrusive links to every notifiee
// whose notifier is the entity. Registered notifiees are the ones that are
// called; attached but unregistered ones stay linked only so that the
// entity can detach them when it ends.
//
// Order: a notifiee that registers is moved to the front when its reactor
// is an attribute-log stream adapter and to the back otherwise, so stream
// adapters hear of every change first and other observers in the order in
// which they registered. Registering and unregistering change the member
// count and raise the change counter.
#include <cstdint>

#include "Kiv/Export.h"
#include "Kiv/FunctionRef.h"
#include "Kiv/Notifiee.h"

namespace Kiv {

class KIV_API NotifieeList {
 public:
  using Notifiee = PtrInterface::NotifieeConst;

  NotifieeList() = default;
  NotifieeList(NotifieeList const&) = delete;
  NotifieeList& operator=(NotifieeList const&) = delete;
  ~NotifieeList();

  std::uint32_t members() const noexcept { return members_; }
  std::uint32_t version() const noexcept { return version_; }
  bool empty() const noexcept { return members_ == 0; }

  // Links `n` (not yet linked); registers it if its flag says so.
  void attach(Notifiee* n);
  // Unlinks `n` (linked), unregistering it first.
  void detach(Notifiee* n);
  void registeredIs(Notifiee* n, bool registered);
  // Unlinks every notifiee and clears its notifier: the list's entity is
  // ending. Calls nobody.
  void deleteAll();

  // Calls `call` on a snapshot of the registered notifiees, by the rules in
  // Notifiee.h. No heap allocation for up to inlineSnapshot notifiees.
  static constexpr unsigned inlineSnapshot = 8;
  void notify(AttributeId id, FunctionRef<void(Notifiee&)> call) const;

  // Registered notifiees in list order, for look-ups by the runtime.
  void forEach(FunctionRef<void(Notifiee&)> visit) const;

 private:
  void link(Notifiee* n, bool front);
  void unlink(Notifiee* n);

  Notifiee* head_ = nullptr;
  Notifiee* tail_ = nullptr;
  std::uint32_t members_ = 0;
  std::uint32_t version_ = 0;
};

}  // namespace Kiv

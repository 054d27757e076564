#include "attrlog/AgentStreamAdapter.h"

namespace Bridging::Orva {

namespace {

// The stream adapter that `n` observes for, or null.
Kiv::Entity::KivNboAttrLogSa* adapterOf(Kiv::PtrInterface::NotifieeConst const& n) {
  auto* sa = dynamic_cast<Kiv::Entity::KivNboAttrLogSa*>(n.kivRawReactor());
  return sa && sa->isStreamAdapter() ? sa : nullptr;
}

// Whether the reader paired with the adapter's writer is live.
bool liveConnection(Kiv::StreamAdapter const& sa) {
  if (!sa.nboAttrLogOut()) return false;
  Kiv::Ptr<Kiv::NboAttrLog::In> in = sa.nboAttrLogOut()->nboIn();
  return in && in->live();
}

}  // namespace

AgentFlowOut::AgentFlowOut(Kiv::Ptr<Kiv::NboAttrLog::Out> const& out, Kiv::Ptr<Kiv::StreamAdapter> const& adapter,
                           Kiv::ConnectDesc const& desc, bool flag, Kiv::AttributeId start)
    : Kiv::NboAttrLog::FlowOut(out, adapter, desc, flag, start) {
  if (start <= Kiv::Attr::isNondestructing) dirtyIs(Kiv::Attr::isNondestructing, true);
  if (start <= 258) dirtyIs(258, true);
  if (start <= 259) dirtyIs(259, true);
}

AgentFlowOut::~AgentFlowOut() = default;

bool AgentFlowOut::hasDirtyAttributes() const { return Kiv::NboAttrLog::FlowOut::hasDirtyAttributes() || dirty_ != 0; }

Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> attrLogSa(Kiv::Entity const& entity,
                                                 Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) {
  Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> found;
  Kiv::Ptr<Kiv::NboAttrLog::Demuxer> demuxer;
  bool looked = false;
  bool stop = false;
  entity.kivNotifieeList().forEach([&](Kiv::PtrInterface::NotifieeConst& n) {
    if (found || stop) return;
    Kiv::Entity::KivNboAttrLogSa* sa = adapterOf(n);
    if (!sa) return;
    if (!out) {
      if (sa->hasUnifiedEntityId() && liveConnection(*sa)) found = sa;
      return;
    }
    if (sa->nboAttrLogOut().ptr() == out.ptr()) {
      found = sa;
      return;
    }
    // The same entity may be registered on the writer's connection under
    // another adapter's id.
    if (!looked) {
      demuxer = Kiv::demuxFor(out->connectionIn());
      looked = true;
    }
    if (!demuxer) {
      stop = true;
      return;
    }
    if (!(sa->entityId() & 1u)) return;
    Kiv::Ptr<Kiv::StreamAdapter> r = demuxer->reactor(sa->entityId());
    if (r && r->kivNotifierEntity().ptr() == &entity) {
      found = Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa>(dynamic_cast<Kiv::Entity::KivNboAttrLogSa*>(r.ptr()));
    }
  });
  return found;
}

Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> attrLogSaForMsgChannel(Kiv::Entity const& entity,
                                                              Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> const& other) {
  if (!other) return nullptr;
  Kiv::Ptr<Kiv::MsgChannel::Constrainer::KivEntry> const channel = other->msgChannel();
  Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> found;
  entity.kivNotifieeList().forEach([&](Kiv::PtrInterface::NotifieeConst& n) {
    Kiv::Entity::KivNboAttrLogSa* sa = adapterOf(n);
    if (found || !sa || sa == other.ptr() || !(sa->entityId() & 1u) || !liveConnection(*sa)) return;
    bool const match = channel ? sa->msgChannel() == channel : (sa->hasUnifiedEntityId() || !sa->msgChannel());
    if (match) found = sa;
  });
  return found;
}

Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> attrLogSaDel(Kiv::Entity& entity,
                                                    Kiv::Ptr<Kiv::NboAttrLog::Out const> const& out) {
  if (!out) return nullptr;
  Kiv::Ptr<Kiv::NboAttrLog::In> reader(dynamic_cast<Kiv::NboAttrLog::In*>(out->connectionIn().ptr()));
  Kiv::Ptr<Kiv::NboAttrLog::Demuxer> demuxer = Kiv::demuxFor(reader);
  if (!demuxer) return nullptr;
  Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> sa = attrLogSa(entity, out);
  if (sa && demuxer->reactor(sa->entityId()) == sa) demuxer->reactorDel(sa->entityId());
  return sa;
}

}  // namespace Bridging::Orva

#pragma once
// The spanning-tree topology model: how the ports of each topology are
// configured (Bridging::Topology::Config and its members) and what the
// spanning-tree instance reports for them (Bridging::Topology::Inst::Status
// and its members).
//
//   Config "topo"                          Inst::Status "status"
//     topoConfig["default"]: TopoConfig      topoStatus["default"]: Inst::TopoStatus
//       topoPortConfig[Ethernet1]              topoPortStatus[Ethernet1]
//         state, fdbFlush, lowerAgingTime        state, fdbFlushReport
//     vidToTopoMap[VlanId] -> a TopoConfig
//
// Members are children of their owner, so the port above is
// "topo/default/Ethernet1". Every mutator stores its value and then
// notifies the entity's observers, and returns without notifying when
// nothing changed. A collection notifies onX(key) once per added, replaced
// or removed member. The keyless companions onXkivImmediate() and onX()
// belong to the runtime's deferred delivery of collection changes; the
// model itself never calls them.
//
// No mutator invalidates an iterator: an iterator standing on a removed
// member still advances to the next live member (CollectionAttribute.h).
#include <cstdint>

#include "Kiv/Entity.h"
#include "Kiv/Export.h"
#include "Kiv/HashMap.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/Ptr.h"
#include "Kiv/Types.h"
#include "Lumo/CollectionAttribute.h"
#include "Lumo/Types.h"
#include "Pyrel/IntfId.h"

namespace Bridging::Topology {

// The configuration of one port in one topology: the state the port is to
// take, and requests to flush the addresses learned on it.
class LUMO_API TopoPortConfig : public Kiv::Entity, public Kiv::HashMapLink<TopoPortConfig, Kiv::Entity> {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<TopoPortConfig> {
   public:
    virtual void onState();
    virtual void onFdbFlush();
    virtual void onLowerAgingTime();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<TopoPortConfig, NotifieeConst>;

  static constexpr Kiv::AttributeId stateAttrId = 258;
  static constexpr Kiv::AttributeId fdbFlushAttrId = 259;
  static constexpr Kiv::AttributeId lowerAgingTimeAttrId = 260;

  // Named by the interface's text. Made by TopoConfig::topoPortConfigIs,
  // or directly to be put into a collection in place of another.
  explicit TopoPortConfig(Pyrel::IntfId const& intfId);
  ~TopoPortConfig() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  Pyrel::IntfId const& intfId() const noexcept { return intfId_; }

  PortState state() const noexcept { return state_; }
  void stateIs(PortState state);
  // The flush request counter: each new value asks once for the addresses
  // learned on this port to be flushed.
  std::uint32_t fdbFlush() const noexcept { return fdbFlush_; }
  void fdbFlushIs(std::uint32_t fdbFlush);
  bool lowerAgingTime() const noexcept { return lowerAgingTime_; }
  void lowerAgingTimeIs(bool lowerAgingTime);

 private:
  Pyrel::IntfId const intfId_;
  PortState state_ = PortState::disabled;
  std::uint32_t fdbFlush_ = 0;
  bool lowerAgingTime_ = false;
};

// The configuration of one topology: its ports.
class LUMO_API TopoConfig : public Kiv::Entity, public Kiv::HashMapLink<TopoConfig, Kiv::Entity> {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<TopoConfig> {
   public:
    virtual void onTopoPortConfig(Pyrel::IntfId intfId);
    virtual void onTopoPortConfigkivImmediate();
    virtual void onTopoPortConfig();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<TopoConfig, NotifieeConst>;

  static constexpr Kiv::AttributeId topoPortConfigAttrId = 258;

  explicit TopoConfig(Kiv::Name const& name);
  ~TopoConfig() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // topoPortConfig: the ports, by interface. The change hook notifies
  // onTopoPortConfig(intfId).
  void topoPortConfigNotify(Pyrel::IntfId intfId, Kiv::Ptr<TopoPortConfig> const& member);

 private:
  using TopoPortConfigs = detail::EntityCollection<TopoConfig, TopoPortConfig, Pyrel::IntfId,
                                                   Kiv::KeyBy<&TopoPortConfig::intfId>, &TopoConfig::topoPortConfigNotify>;

 public:
  using TopoPortConfigIterator = TopoPortConfigs::Iterator;
  using TopoPortConfigIteratorConst = TopoPortConfigs::IteratorConst;

  Kiv::Ptr<TopoPortConfig> topoPortConfig(Pyrel::IntfId const& k) const { return topoPortConfig_.member(k); }
  Kiv::Ptr<TopoPortConfig> topoPortConfigIs(Pyrel::IntfId const& k) { return topoPortConfig_.memberIs(k); }
  void topoPortConfigIs(Kiv::Ptr<TopoPortConfig> const& m) { topoPortConfig_.memberIs(m); }
  Kiv::Ptr<TopoPortConfig> topoPortConfigDel(Pyrel::IntfId const& k) { return topoPortConfig_.del(k); }
  void topoPortConfigDelAll() { topoPortConfig_.delAll(); }
  std::uint32_t topoPortConfigs() const noexcept { return topoPortConfig_.members(); }
  TopoPortConfigIterator topoPortConfigIterator() { return topoPortConfig_.iterator(); }
  TopoPortConfigIterator topoPortConfigIterator(Pyrel::IntfId const& k) { return topoPortConfig_.iterator(k); }
  TopoPortConfigIteratorConst topoPortConfigIteratorConst() const { return topoPortConfig_.iteratorConst(); }
  TopoPortConfigIteratorConst topoPortConfigIteratorConst(Pyrel::IntfId const& k) const {
    return topoPortConfig_.iteratorConst(k);
  }

 private:
  TopoPortConfigs topoPortConfig_;
};

// The topology configuration of the system: its topologies by name, and
// which topology each VLAN belongs to.
class LUMO_API Config : public Kiv::Entity {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<Config> {
   public:
    virtual void onTopoConfig(Kiv::Name name);
    virtual void onTopoConfigkivImmediate();
    virtual void onTopoConfig();
    virtual void onVidToTopoMap(VlanId vid);
    virtual void onVidToTopoMapkivImmediate();
    virtual void onVidToTopoMap();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Config, NotifieeConst>;

  static constexpr Kiv::AttributeId topoConfigAttrId = 258;
  static constexpr Kiv::AttributeId vidToTopoMapAttrId = 259;

  static Kiv::Ptr<Config> ConfigIs(Kiv::Name const& name);
  explicit Config(Kiv::Name const& name);
  ~Config() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // topoConfig: the topologies, by name. The change hook notifies
  // onTopoConfig(name).
  void topoConfigNotify(Kiv::Name name, Kiv::Ptr<TopoConfig> const& member);

  // vidToTopoMap: the topology of each VLAN, a reference to the very
  // TopoConfig object stored. The change hook notifies onVidToTopoMap(vid).
  using VidToTopoMapEntry = detail::ValueEntry<VlanId, Kiv::Ptr<TopoConfig>>;
  void vidToTopoMapNotify(VlanId vid, Kiv::Ptr<VidToTopoMapEntry> const& entry);

 private:
  using TopoConfigs = detail::EntityCollection<Config, TopoConfig, Kiv::Name, Kiv::KeyBy<&TopoConfig::name>,
                                               &Config::topoConfigNotify>;
  using VidToTopoMaps = detail::ValueCollection<Config, VlanId, Kiv::Ptr<TopoConfig>, &Config::vidToTopoMapNotify>;

 public:
  using TopoConfigIterator = TopoConfigs::Iterator;
  using TopoConfigIteratorConst = TopoConfigs::IteratorConst;

  Kiv::Ptr<TopoConfig> topoConfig(Kiv::Name const& k) const { return topoConfig_.member(k); }
  Kiv::Ptr<TopoConfig> topoConfigIs(Kiv::Name const& k) { return topoConfig_.memberIs(k); }
  void topoConfigIs(Kiv::Ptr<TopoConfig> const& m) { topoConfig_.memberIs(m); }
  Kiv::Ptr<TopoConfig> topoConfigDel(Kiv::Name const& k) { return topoConfig_.del(k); }
  void topoConfigDelAll() { topoConfig_.delAll(); }
  std::uint32_t topoConfigs() const noexcept { return topoConfig_.members(); }
  TopoConfigIterator topoConfigIterator() { return topoConfig_.iterator(); }
  TopoConfigIterator topoConfigIterator(Kiv::Name const& k) { return topoConfig_.iterator(k); }
  TopoConfigIteratorConst topoConfigIteratorConst() const { return topoConfig_.iteratorConst(); }
  TopoConfigIteratorConst topoConfigIteratorConst(Kiv::Name const& k) const { return topoConfig_.iteratorConst(k); }

  using VidToTopoMapIterator = VidToTopoMaps::Iterator;
  using VidToTopoMapIteratorConst = VidToTopoMaps::IteratorConst;

  // The topology of `vid`, or null.
  Kiv::Ptr<TopoConfig> vidToTopoMap(VlanId vid) const { return vidToTopoMap_.value(vid); }
  void vidToTopoMapIs(VlanId vid, Kiv::Ptr<TopoConfig> const& topo) { vidToTopoMap_.valueIs(vid, topo); }
  // Returns the removed reference, or null.
  Kiv::Ptr<TopoConfig> vidToTopoMapDel(VlanId vid) { return vidToTopoMap_.del(vid); }
  void vidToTopoMapDelAll() { vidToTopoMap_.delAll(); }
  std::uint32_t vidToTopoMaps() const noexcept { return vidToTopoMap_.members(); }
  VidToTopoMapIterator vidToTopoMapIterator() { return vidToTopoMap_.iterator(); }
  VidToTopoMapIterator vidToTopoMapIterator(VlanId vid) { return vidToTopoMap_.iterator(vid); }
  VidToTopoMapIteratorConst vidToTopoMapIteratorConst() const { return vidToTopoMap_.iteratorConst(); }
  VidToTopoMapIteratorConst vidToTopoMapIteratorConst(VlanId vid) const { return vidToTopoMap_.iteratorConst(vid); }

 private:
  TopoConfigs topoConfig_;
  VidToTopoMaps vidToTopoMap_;
};

// What the spanning-tree instance reports for one port of one topology.
class LUMO_API TopoPortStatus : public Kiv::Entity, public Kiv::HashMapLink<TopoPortStatus, Kiv::Entity> {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<TopoPortStatus> {
   public:
    virtual void onState();
    virtual void onFdbFlushReport();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<TopoPortStatus, NotifieeConst>;

  static constexpr Kiv::AttributeId stateAttrId = 258;
  static constexpr Kiv::AttributeId fdbFlushReportAttrId = 259;

  // Named by the interface's text.
  explicit TopoPortStatus(Pyrel::IntfId const& intfId);
  ~TopoPortStatus() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  Pyrel::IntfId const& intfId() const noexcept { return intfId_; }

  PortState state() const noexcept { return state_; }
  void stateIs(PortState state);
  // The last flush request counter that has been carried out.
  unsigned int fdbFlushReport() const noexcept { return fdbFlushReport_; }
  void fdbFlushReportIs(unsigned int fdbFlushReport);

 private:
  Pyrel::IntfId const intfId_;
  PortState state_ = PortState::disabled;
  unsigned int fdbFlushReport_ = 0;
};

namespace Inst {

// The instance status of one topology: its ports.
class LUMO_API TopoStatus : public Kiv::Entity, public Kiv::HashMapLink<TopoStatus, Kiv::Entity> {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<TopoStatus> {
   public:
    virtual void onTopoPortStatus(Pyrel::IntfId intfId);
    virtual void onTopoPortStatuskivImmediate();
    virtual void onTopoPortStatus();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<TopoStatus, NotifieeConst>;

  static constexpr Kiv::AttributeId topoPortStatusAttrId = 258;

  explicit TopoStatus(Kiv::Name const& name);
  ~TopoStatus() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // topoPortStatus: the ports, by interface. The change hook notifies
  // onTopoPortStatus(intfId).
  void topoPortStatusNotify(Pyrel::IntfId intfId, Kiv::Ptr<TopoPortStatus> const& member);

 private:
  using TopoPortStatuses = detail::EntityCollection<TopoStatus, TopoPortStatus, Pyrel::IntfId,
                                                    Kiv::KeyBy<&TopoPortStatus::intfId>, &TopoStatus::topoPortStatusNotify>;

 public:
  using TopoPortStatusIterator = TopoPortStatuses::Iterator;
  using TopoPortStatusIteratorConst = TopoPortStatuses::IteratorConst;

  Kiv::Ptr<TopoPortStatus> topoPortStatus(Pyrel::IntfId const& k) const { return topoPortStatus_.member(k); }
  Kiv::Ptr<TopoPortStatus> topoPortStatusIs(Pyrel::IntfId const& k) { return topoPortStatus_.memberIs(k); }
  void topoPortStatusIs(Kiv::Ptr<TopoPortStatus> const& m) { topoPortStatus_.memberIs(m); }
  Kiv::Ptr<TopoPortStatus> topoPortStatusDel(Pyrel::IntfId const& k) { return topoPortStatus_.del(k); }
  void topoPortStatusDelAll() { topoPortStatus_.delAll(); }
  std::uint32_t topoPortStatuss() const noexcept { return topoPortStatus_.members(); }
  TopoPortStatusIterator topoPortStatusIterator() { return topoPortStatus_.iterator(); }
  TopoPortStatusIterator topoPortStatusIterator(Pyrel::IntfId const& k) { return topoPortStatus_.iterator(k); }
  TopoPortStatusIteratorConst topoPortStatusIteratorConst() const { return topoPortStatus_.iteratorConst(); }
  TopoPortStatusIteratorConst topoPortStatusIteratorConst(Pyrel::IntfId const& k) const {
    return topoPortStatus_.iteratorConst(k);
  }

 private:
  TopoPortStatuses topoPortStatus_;
};

// The spanning-tree instance status of the system: its topologies by name.
class LUMO_API Status : public Kiv::Entity {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<Status> {
   public:
    virtual void onTopoStatus(Kiv::Name name);
    virtual void onTopoStatuskivImmediate();
    virtual void onTopoStatus();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Status, NotifieeConst>;

  static constexpr Kiv::AttributeId topoStatusAttrId = 258;

  static Kiv::Ptr<Status> StatusIs(Kiv::Name const& name);
  explicit Status(Kiv::Name const& name);
  ~Status() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // topoStatus: the topologies, by name. The change hook notifies
  // onTopoStatus(name).
  void topoStatusNotify(Kiv::Name name, Kiv::Ptr<TopoStatus> const& member);

 private:
  using TopoStatuses = detail::EntityCollection<Status, TopoStatus, Kiv::Name, Kiv::KeyBy<&TopoStatus::name>,
                                                &Status::topoStatusNotify>;

 public:
  using TopoStatusIterator = TopoStatuses::Iterator;
  using TopoStatusIteratorConst = TopoStatuses::IteratorConst;

  Kiv::Ptr<TopoStatus> topoStatus(Kiv::Name const& k) const { return topoStatus_.member(k); }
  Kiv::Ptr<TopoStatus> topoStatusIs(Kiv::Name const& k) { return topoStatus_.memberIs(k); }
  void topoStatusIs(Kiv::Ptr<TopoStatus> const& m) { topoStatus_.memberIs(m); }
  Kiv::Ptr<TopoStatus> topoStatusDel(Kiv::Name const& k) { return topoStatus_.del(k); }
  void topoStatusDelAll() { topoStatus_.delAll(); }
  std::uint32_t topoStatuss() const noexcept { return topoStatus_.members(); }
  TopoStatusIterator topoStatusIterator() { return topoStatus_.iterator(); }
  TopoStatusIterator topoStatusIterator(Kiv::Name const& k) { return topoStatus_.iterator(k); }
  TopoStatusIteratorConst topoStatusIteratorConst() const { return topoStatus_.iteratorConst(); }
  TopoStatusIteratorConst topoStatusIteratorConst(Kiv::Name const& k) const { return topoStatus_.iteratorConst(k); }

 private:
  TopoStatuses topoStatus_;
};

}  // namespace Inst
}  // namespace Bridging::Topology

#pragma once
// The bridging model: the VLANs the bridge is configured with
// (Bridging::Config, one Bridging::VlanConfig per VLAN) and its forwarding
// databases with the hosts learned in them (Bridging::Status, one
// Bridging::FdbStatus per forwarding database id).
//
//   Config "bridging"                 Status "bridging"
//     vlanConfig[VlanId]: VlanConfig    fdbStatus[Fid]: FdbStatus
//                                         learnedHost[EthAddr]: LearnedHost
//
// A VLAN's forwarding database is the FdbStatus under the Fid of equal
// value. Notification and iteration follow the rules of Lumo/Topology.h:
// every mutator stores first and notifies only on a real change; a
// collection notifies onX(key) once per change; the keyless onXkivImmediate()
// and onX() are for the runtime's deferred delivery and never called by the
// model; no mutator invalidates an iterator, so a walk may delete the entry
// it stands on, or the next one.
#include <cstdint>

#include "Kiv/Entity.h"
#include "Kiv/Export.h"
#include "Kiv/HashMap.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/Ptr.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"
#include "Lumo/CollectionAttribute.h"
#include "Lumo/Types.h"
#include "Pyrel/EthAddr.h"
#include "Pyrel/IntfId.h"

namespace Bridging {

// A host learned by the bridge: its address and the interface it was seen
// on.
class LearnedHost {
 public:
  LearnedHost() = default;
  LearnedHost(Pyrel::EthAddr const& addr, Pyrel::IntfId const& intf) : addr_(addr), intf_(intf) {}

  Pyrel::EthAddr const& addr() const noexcept { return addr_; }
  Pyrel::IntfId const& intf() const noexcept { return intf_; }

  // The process-lifetime type object "Bridging::LearnedHost".
  LUMO_API static Kiv::Ptr<Kiv::KivType> _fwkType();

  friend bool operator==(LearnedHost const& a, LearnedHost const& b) noexcept {
    return a.addr_ == b.addr_ && a.intf_ == b.intf_;
  }
  friend bool operator!=(LearnedHost const& a, LearnedHost const& b) noexcept { return !(a == b); }

 private:
  Pyrel::EthAddr addr_;
  Pyrel::IntfId intf_;
};

// Text form: "Value('Bridging::LearnedHost', ** {'addr': '00:1c:73:00:00:01',
// 'intf': 'Ethernet1'})". The reader takes the fields in any order, each at
// most once; an absent one keeps its default.
LUMO_API Kiv::String8 valueToStrep(LearnedHost const& v);

// The configuration of one VLAN. Its name is the VLAN id in decimal.
class LUMO_API VlanConfig : public Kiv::Entity, public Kiv::HashMapLink<VlanConfig, Kiv::Entity> {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<VlanConfig> {};
  using Notifiee = Kiv::Entity::NotifieeOf<VlanConfig, NotifieeConst>;

  explicit VlanConfig(VlanId vlanId);
  ~VlanConfig() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;

  VlanId vlanId() const noexcept { return vlanId_; }

 private:
  VlanId const vlanId_;
};

// The bridge's configuration: its VLANs.
class LUMO_API Config : public Kiv::Entity {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<Config> {
   public:
    virtual void onVlanConfig(VlanId vlanId);
    virtual void onVlanConfigkivImmediate();
    virtual void onVlanConfig();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Config, NotifieeConst>;

  static constexpr Kiv::AttributeId vlanConfigAttrId = 258;

  static Kiv::Ptr<Config> ConfigIs(Kiv::Name const& name);
  explicit Config(Kiv::Name const& name);
  ~Config() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // vlanConfig: the VLANs, by id. The change hook notifies
  // onVlanConfig(vlanId).
  void vlanConfigNotify(VlanId vlanId, Kiv::Ptr<VlanConfig> const& member);

 private:
  using VlanConfigs =
      detail::EntityCollection<Config, VlanConfig, VlanId, Kiv::KeyBy<&VlanConfig::vlanId>, &Config::vlanConfigNotify>;

 public:
  using VlanConfigIterator = VlanConfigs::Iterator;
  using VlanConfigIteratorConst = VlanConfigs::IteratorConst;

  Kiv::Ptr<VlanConfig> vlanConfig(VlanId k) const { return vlanConfig_.member(k); }
  Kiv::Ptr<VlanConfig> vlanConfigIs(VlanId k) { return vlanConfig_.memberIs(k); }
  void vlanConfigIs(Kiv::Ptr<VlanConfig> const& m) { vlanConfig_.memberIs(m); }
  Kiv::Ptr<VlanConfig> vlanConfigDel(VlanId k) { return vlanConfig_.del(k); }
  void vlanConfigDelAll() { vlanConfig_.delAll(); }
  std::uint32_t vlanConfigs() const noexcept { return vlanConfig_.members(); }
  VlanConfigIterator vlanConfigIterator() { return vlanConfig_.iterator(); }
  VlanConfigIterator vlanConfigIterator(VlanId k) { return vlanConfig_.iterator(k); }
  VlanConfigIteratorConst vlanConfigIteratorConst() const { return vlanConfig_.iteratorConst(); }
  VlanConfigIteratorConst vlanConfigIteratorConst(VlanId k) const { return vlanConfig_.iteratorConst(k); }

 private:
  VlanConfigs vlanConfig_;
};

// One forwarding database: the hosts learned in it, by address. Its name is
// the forwarding database id in decimal.
class LUMO_API FdbStatus : public Kiv::Entity, public Kiv::HashMapLink<FdbStatus, Kiv::Entity> {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<FdbStatus> {
   public:
    virtual void onLearnedHost(Pyrel::EthAddr addr);
    virtual void onLearnedHostkivImmediate();
    virtual void onLearnedHost();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<FdbStatus, NotifieeConst>;

  static constexpr Kiv::AttributeId learnedHostAttrId = 258;

  explicit FdbStatus(Fid fid);
  ~FdbStatus() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  Fid fid() const noexcept { return fid_; }

  // learnedHost: the learned hosts, by address. The change hook notifies
  // onLearnedHost(addr).
  using LearnedHostEntry = detail::ValueEntry<Pyrel::EthAddr, LearnedHost>;
  void learnedHostNotify(Pyrel::EthAddr addr, Kiv::Ptr<LearnedHostEntry> const& entry);

 private:
  using LearnedHosts = detail::ValueCollection<FdbStatus, Pyrel::EthAddr, LearnedHost, &FdbStatus::learnedHostNotify>;

 public:
  using LearnedHostIterator = LearnedHosts::Iterator;
  using LearnedHostIteratorConst = LearnedHosts::IteratorConst;

  // The host learned at `addr`, or a default LearnedHost.
  LearnedHost learnedHost(Pyrel::EthAddr const& addr) const { return learnedHost_.value(addr); }
  // Stores `host` under `addr`. A host whose address is not `addr` would
  // be found under a key that contradicts it, so it throws a range
  // exception and changes nothing.
  void learnedHostIs(Pyrel::EthAddr const& addr, LearnedHost const& host);
  // Stores `host` under its own address.
  void learnedHostIs(LearnedHost const& host) { learnedHost_.valueIs(host.addr(), host); }
  // Returns the removed host, or a default LearnedHost.
  LearnedHost learnedHostDel(Pyrel::EthAddr const& addr) { return learnedHost_.del(addr); }
  void learnedHostDelAll() { learnedHost_.delAll(); }
  std::uint32_t learnedHosts() const noexcept { return learnedHost_.members(); }
  LearnedHostIterator learnedHostIterator() { return learnedHost_.iterator(); }
  LearnedHostIterator learnedHostIterator(Pyrel::EthAddr const& addr) { return learnedHost_.iterator(addr); }
  LearnedHostIteratorConst learnedHostIteratorConst() const { return learnedHost_.iteratorConst(); }
  LearnedHostIteratorConst learnedHostIteratorConst(Pyrel::EthAddr const& addr) const {
    return learnedHost_.iteratorConst(addr);
  }

 private:
  Fid const fid_;
  LearnedHosts learnedHost_;
};

// The bridge's status: its forwarding databases, by id.
class LUMO_API Status : public Kiv::Entity {
 public:
  class LUMO_API NotifieeConst : public Kiv::Entity::NotifieeConstOf<Status> {
   public:
    virtual void onFdbStatus(Fid fid);
    virtual void onFdbStatuskivImmediate();
    virtual void onFdbStatus();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Status, NotifieeConst>;

  static constexpr Kiv::AttributeId fdbStatusAttrId = 258;

  static Kiv::Ptr<Status> StatusIs(Kiv::Name const& name);
  explicit Status(Kiv::Name const& name);
  ~Status() override;

  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::Ptr<Kiv::KivType> fwkType() const override;
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // fdbStatus: the forwarding databases, by id. The change hook notifies
  // onFdbStatus(fid).
  void fdbStatusNotify(Fid fid, Kiv::Ptr<FdbStatus> const& member);

 private:
  using FdbStatuses =
      detail::EntityCollection<Status, FdbStatus, Fid, Kiv::KeyBy<&FdbStatus::fid>, &Status::fdbStatusNotify>;

 public:
  using FdbStatusIterator = FdbStatuses::Iterator;
  using FdbStatusIteratorConst = FdbStatuses::IteratorConst;

  Kiv::Ptr<FdbStatus> fdbStatus(Fid k) const { return fdbStatus_.member(k); }
  Kiv::Ptr<FdbStatus> fdbStatusIs(Fid k) { return fdbStatus_.memberIs(k); }
  void fdbStatusIs(Kiv::Ptr<FdbStatus> const& m) { fdbStatus_.memberIs(m); }
  Kiv::Ptr<FdbStatus> fdbStatusDel(Fid k) { return fdbStatus_.del(k); }
  void fdbStatusDelAll() { fdbStatus_.delAll(); }
  std::uint32_t fdbStatuss() const noexcept { return fdbStatus_.members(); }
  FdbStatusIterator fdbStatusIterator() { return fdbStatus_.iterator(); }
  FdbStatusIterator fdbStatusIterator(Fid k) { return fdbStatus_.iterator(k); }
  FdbStatusIteratorConst fdbStatusIteratorConst() const { return fdbStatus_.iteratorConst(); }
  FdbStatusIteratorConst fdbStatusIteratorConst(Fid k) const { return fdbStatus_.iteratorConst(k); }

 private:
  FdbStatuses fdbStatus_;
};

}  // namespace Bridging

namespace Kiv {
template <>
LUMO_API Bridging::LearnedHost strepToValue<Bridging::LearnedHost>(String8 const& s);
}  // namespace Kiv

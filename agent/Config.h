#pragma once
// Bridging::Orva::Config is the configuration entity of the test bridging
// agent: the external tap devices that the agent is to use as ports
// (extTapDevice, tap device values by a name string) and a flag that says
// the configuration has been filled in (complete).
//
// Whoever writes the configuration calls the mutators; observers hear of
// every change through Config::NotifieeConst, after the new state has been
// stored. A mutator that changes nothing notifies nobody. Attribute-log
// stream adapters are linked at the front of the observer list, so they
// hear of a change before every other observer; the others hear of it in
// the order in which they registered.
//
//   auto config = Bridging::Orva::configFactory("agentConfig");
//   config->extTapDeviceIs("et1", Config::TapDevice("tap1", 7));  // onExtTapDevice("et1")
//   config->completeIs(true);                                     // onComplete()
//
// No mutator invalidates an iterator: an iterator standing on a deleted
// member still advances to the next live member (Kiv/HashMap.h).
#include <cstdint>
#include <iosfwd>

#include "Kiv/Collection.h"
#include "Kiv/Entity.h"
#include "Kiv/Export.h"
#include "Kiv/HashMap.h"
#include "Kiv/KivType.h"
#include "Kiv/Name.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/Ptr.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"
#include "Kiv/Types.h"
#include "agent/AgentEntity.h"

namespace Bridging::Orva {

class BRIDGING_API Config : public AgentEntity<Config> {
 public:
  // One external tap device: the device's name and the file descriptor on
  // which it is open. A plain value, copied freely (the name's bytes are
  // shared between copies).
  class BRIDGING_API TapDevice {
   public:
    TapDevice() = default;
    TapDevice(Kiv::String8 const& name, std::uint16_t fileno) : name_(name), fileno_(fileno) {}

    // Parses one text form (see valueToStrep) that starts at `it`, with
    // white space allowed between all tokens and consumed after the closing
    // parenthesis. Attributes may come in any order; a repeated one takes
    // its last value, a missing one keeps its default. A descriptor is kept
    // modulo 65536 (65536 reads as 0, -1 as 65535). On success `it` stands
    // after the text; on failure the range exception names what was
    // expected, `it` has not moved and nothing at or past `end` was read.
    TapDevice(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end);

    // Reads the value that operator<< below wrote to an attribute log: the
    // name, then the descriptor. A short record throws the reader's range
    // exception; the reader has then consumed what it could read of the
    // value, and the record is discarded as a whole by its frame.
    TapDevice(Kiv::NboAttrLog::In* in, Kiv::StreamBogon);

    // The type object and the generic adapter (agent/GenericAdapters.h).
    class _Type;
    class GenericIf_;

    static constexpr Kiv::AttributeId nameAttrId = 2;
    static constexpr Kiv::AttributeId filenoAttrId = 3;

    // The registered type (agent/Registration.cpp): made on first use,
    // after the agent model's registration has been offered.
    static Kiv::Ptr<Kiv::KivType> _fwkType();
    Kiv::Ptr<Kiv::KivType> fwkType() const { return _fwkType(); }

    Kiv::String8 const& name() const noexcept { return name_; }
    void nameIs(Kiv::String8 const& name) { name_ = name; }
    std::uint16_t fileno() const noexcept { return fileno_; }
    void filenoIs(std::uint16_t fileno) noexcept { fileno_ = fileno; }

    // Equal names (byte for byte) and equal descriptors.
    bool operator==(TapDevice const& o) const noexcept { return name_.dataEquals(o.name_) && fileno_ == o.fileno_; }
    bool operator!=(TapDevice const& o) const noexcept { return !(*this == o); }

   private:
    Kiv::String8 name_;
    std::uint16_t fileno_ = 0;
  };

  // One member of extTapDevice: its key and its tap device.
  class BRIDGING_API KivExtTapDevice : public Kiv::ValueMember<KivExtTapDevice, Kiv::String8, TapDevice> {
   public:
    using Kiv::ValueMember<KivExtTapDevice, Kiv::String8, TapDevice>::ValueMember;
  };

  class BRIDGING_API NotifieeConst : public AgentNotifieeConst<Config> {
   public:
    // A member of extTapDevice was added, changed or deleted.
    virtual void onExtTapDevice(Kiv::String8 key);
    // The runtime's deferred delivery of collection changes; the entity
    // itself never calls these two.
    virtual void onExtTapDevicekivImmediate();
    virtual void onExtTapDevice();
    virtual void onComplete();
  };
  using Notifiee = Kiv::Entity::NotifieeOf<Config, NotifieeConst>;

  // The type object and the generic adapter (agent/GenericAdapters.h).
  class _Type;
  class GenericIf_;

  static constexpr Kiv::AttributeId extTapDeviceAttrId = 258;
  static constexpr Kiv::AttributeId completeAttrId = 259;

  // A new configuration, counted once for the caller.
  static Kiv::Ptr<Config> ConfigIs(Kiv::Name name);
  explicit Config(Kiv::Name name);
  ~Config() override;

  // The registered type (agent/Registration.cpp): made on first use,
  // after the agent model's registration has been offered.
  static Kiv::Ptr<Kiv::KivType> _fwkType();
  Kiv::String8 attributeString(Kiv::AttributeId id) const override;

  // The attribute-log stream adapter of this entity type, one per writer
  // that replicates the entity (attrlog/).
  class KivNboAttrLogSa;

  bool complete() const noexcept { return complete_; }
  void completeIs(bool complete);

  // Announces a change of the member under `key` to every observer
  // (onExtTapDevice(key)); `member` is not passed on. Iterators call it
  // for each member deleted through them.
  void extTapDeviceNotify(Kiv::String8 key, Kiv::Ptr<KivExtTapDevice> const& member);

 private:
  using ExtTapDeviceMap = Kiv::ValueMap<KivExtTapDevice>;

 public:
  // Walks the members in iteration order; del() and deleteAll() delete
  // through the entity's change hook, so every deletion is announced.
  using KivExtTapDeviceIterator =
      Kiv::CollectionIterator<Config, KivExtTapDevice, Kiv::String8, Kiv::KeyBy<&KivExtTapDevice::key>,
                              &Config::extTapDeviceNotify>;
  // The same walk, by key and tap device.
  class ExtTapDeviceIterator : public KivExtTapDeviceIterator {
   public:
    using KivExtTapDeviceIterator::KivExtTapDeviceIterator;
    Kiv::String8 const& key() const { return ptr()->key(); }
    TapDevice const& value() const { return ptr()->value(); }
  };
  // The read-only walk, by key and tap device like the walk above; on both,
  // `->` reaches the member itself.
  class ExtTapDeviceIteratorConst : public ExtTapDeviceMap::IteratorConst {
   public:
    ExtTapDeviceIteratorConst() = default;
    ExtTapDeviceIteratorConst(ExtTapDeviceMap::IteratorConst const& it) : ExtTapDeviceMap::IteratorConst(it) {}
    Kiv::String8 const& key() const { return ptr()->key(); }
    TapDevice const& value() const { return ptr()->value(); }
  };

  // The tap device under `key`, or the default one (empty name, descriptor
  // 0) when there is none.
  TapDevice extTapDevice(Kiv::String8 const& key) const;
  // Adds the member or changes its value in place (the member object stays,
  // so iterators standing on it stay valid); nothing happens when an equal
  // value is there already. Other iterators stay valid; one may or may not
  // visit a new member.
  void extTapDeviceIs(Kiv::String8 key, TapDevice const& value);
  // The same, returning the member that took the value, for a stream
  // adapter that applies a received entry and then keeps the member
  // through the end of a resync without looking it up again.
  Kiv::Ptr<KivExtTapDevice> kivExtTapDeviceIs(Kiv::String8 key, TapDevice const& value);
  // Makes the member of a key that is not in the collection and links it
  // at its place, without notifying anyone. A key that is there already
  // throws the map's internal exception and changes nothing.
  Kiv::Ptr<KivExtTapDevice> newExtTapDevice(Kiv::String8 key, TapDevice const& value);
  // Removes the member under `key` and returns its tap device (the default
  // one, and no notification, when there is none). No iterator is
  // invalidated; one standing on the member still advances.
  TapDevice extTapDeviceDel(Kiv::String8 key);
  // Deletes every member, announcing each in iteration order, and starts
  // again from the first while observers have added members meanwhile.
  // Iterators come to their end.
  void extTapDeviceDelAll();
  std::uint32_t extTapDevices() const noexcept { return extTapDevice_.members(); }
  // Raised by every addition and deletion of a member.
  std::uint32_t extTapDeviceVersion() const noexcept { return extTapDevice_.version(); }

  ExtTapDeviceIterator extTapDeviceIterator();
  // At the member under `key` or, when there is none, at the first member
  // after the key's place in iteration order (the end when none follows).
  ExtTapDeviceIterator extTapDeviceIterator(Kiv::String8 const& key);
  KivExtTapDeviceIterator kivExtTapDeviceIterator();
  ExtTapDeviceIteratorConst extTapDeviceIteratorConst() const { return extTapDevice_.iteratorConst(); }
  ExtTapDeviceIteratorConst extTapDeviceIteratorConst(Kiv::String8 const& key) const {
    return extTapDevice_.iteratorConst(key);
  }

 private:
  ExtTapDeviceMap extTapDevice_;
  bool complete_ = false;
};

// The exported factory of configurations: Config::ConfigIs(name).
BRIDGING_API Kiv::Ptr<Config> configFactory(Kiv::Name name);

// The text form of a tap device, for example for eth1 on descriptor 7:
//   Value('Bridging::Orva::Config::TapDevice', ** {'name': 'eth1', 'fileno': 7})
// The name is in the runtime's string text form, so it reads back byte for
// byte whatever it holds.
BRIDGING_API Kiv::String8 valueToStrep(Config::TapDevice const& v);
// Writes the text form's bytes, nothing else.
BRIDGING_API std::ostream& operator<<(std::ostream& os, Config::TapDevice const& v);
// Appends a tap device to an attribute-log record: the name with the
// runtime's string writer, then the descriptor as an unsigned 16-bit
// number. Returns `out`, so that writes chain.
BRIDGING_API Kiv::Ptr<Kiv::NboAttrLog::Out> const& operator<<(Kiv::Ptr<Kiv::NboAttrLog::Out> const& out,
                                                               Config::TapDevice const& v);

}  // namespace Bridging::Orva

namespace Kiv {

// Parses the whole of `s` as a tap device: the text form, optional white
// space around it and nothing else. Anything after it throws the range
// exception "junk at column <n> deserializing <s>" (exception id 12).
template <>
BRIDGING_API Bridging::Orva::Config::TapDevice strepToValue<Bridging::Orva::Config::TapDevice>(String8 const& s);

// Parses the whole of `s` as a reference to a configuration: its full name
// in the string text form, or None for null (Kiv::strepToEntity).
template <>
BRIDGING_API Ptr<Bridging::Orva::Config> strepToValue<Ptr<Bridging::Orva::Config>>(String8 const& s);

}  // namespace Kiv

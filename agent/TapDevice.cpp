// Bridging::Orva::Config::TapDevice: its text form and parser, and its
// encoding in attribute-log records.
#include <initializer_list>
#include <ostream>

#include "Kiv/Exception.h"
#include "Kiv/Strep.h"
#include "agent/Config.h"

namespace Bridging::Orva {

Config::TapDevice::TapDevice(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end) {
  Kiv::readValueFields(
      it, end, "Bridging::Orva::Config::TapDevice", "TapDevice",
      [this](Kiv::String8 const& attribute, Kiv::String8::IteratorConst& at, Kiv::String8::IteratorConst const& stop) {
        if (attribute == "name") {
          name_ = Kiv::deserializeAttr<Kiv::String8>(at, stop, &name_, attribute);
        } else if (attribute == "fileno") {
          try {
            // Any 64-bit integer is taken and kept modulo 65536.
            fileno_ = static_cast<std::uint16_t>(Kiv::sequenceToValue<long long>(at, stop));
          } catch (Kiv::RangeException const& e) {
            Kiv::rethrowFromDeserializeAttr(e, attribute);
          }
        } else {
          return false;
        }
        return true;
      });
}

Config::TapDevice::TapDevice(Kiv::NboAttrLog::In* in, Kiv::StreamBogon)
    : name_(in->nextString()), fileno_(in->nextU16()) {}

Kiv::String8 valueToStrep(Config::TapDevice const& v) {
  return Kiv::valueFieldsToStrep("Bridging::Orva::Config::TapDevice",
                                 {{"name", Kiv::valueToStrep(v.name())}, {"fileno", Kiv::valueToStrep(v.fileno())}});
}

std::ostream& operator<<(std::ostream& os, Config::TapDevice const& v) {
  Kiv::String8 const text = valueToStrep(v);
  return os.write(text.data(), static_cast<std::streamsize>(text.size()));
}

Kiv::Ptr<Kiv::NboAttrLog::Out> const& operator<<(Kiv::Ptr<Kiv::NboAttrLog::Out> const& out,
                                                  Config::TapDevice const& v) {
  return out << v.name() << v.fileno();
}

}  // namespace Bridging::Orva

namespace Kiv {

template <>
Bridging::Orva::Config::TapDevice strepToValue<Bridging::Orva::Config::TapDevice>(String8 const& s) {
  String8::IteratorConst it = s.iterator();
  Bridging::Orva::Config::TapDevice v(it, s.end());
  needEndOfStrep(it, s);
  return v;
}

}  // namespace Kiv

// Resolves an entity reference's text form against a directory tree that
// the input builds: the first part of the input adds directories and agent
// configurations under chosen names (any bytes) and removes entries, the
// rest is the text to read. The reader must give None, an entity of the
// tree, or a range exception without moving its position; a reference it
// gives back prints to a text that reads back to the same entity when the
// path's names can be written as a path (not empty, no slash). The tree is
// torn down after each input, so nothing may leak.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzInput.h"
#include "Kiv/Dir.h"
#include "Kiv/Exception.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"
#include "agent/Config.h"

namespace {

// Whether every name from `e` up to the root can be written in a path.
bool writablePath(Kiv::Ptr<Kiv::Entity const> e) {
  for (; e && e->parent(); e = e->parent()) {
    Kiv::String8 const name = e->name().string();
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (name.data()[i] == '/') return false;
  }
  return true;
}

void build(FuzzSupport::FuzzInput& in, Kiv::Ptr<Kiv::Dir> const& top) {
  std::vector<Kiv::Ptr<Kiv::Dir>> dirs{top};
  for (int n = in.inRange(0, 24); n > 0; --n) {
    Kiv::Ptr<Kiv::Dir> const dir = dirs[in.inRange<std::size_t>(0, dirs.size() - 1)];
    Kiv::Name const name(Kiv::String8(in.text(12)));
    try {
      switch (in.inRange(0, 2)) {
        case 0: {
          auto const d = Kiv::Dir::DirIs(name);
          dir->entryIs(d);
          dirs.push_back(d);
          break;
        }
        case 1:
          dir->entryIs(Bridging::Orva::configFactory(name));
          break;
        default:
          (void)dir->entryDel(name);
          break;
      }
    } catch (Kiv::Exception const&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  FuzzSupport::FuzzInput in(data, size);
  auto const top = Kiv::Dir::DirIs("fuzz");
  Kiv::Dir::root()->entryIs(top);
  build(in, top);
  Kiv::String8 const text(in.rest());

  auto it = text.iterator();
  try {
    Kiv::Ptr<Kiv::Entity> const e = Kiv::sequenceToValueOfPtr(it, text.end(), static_cast<Kiv::Entity*>(nullptr));
    if (it.position() > text.size()) __builtin_trap();
    if (e && writablePath(e)) {
      Kiv::String8 const again = Kiv::valueToStrep(Kiv::Ptr<Kiv::PtrInterface const>(e.ptr()));
      auto back = again.iterator();
      if (Kiv::sequenceToValueOfPtr(back, again.end(), static_cast<Kiv::Entity*>(nullptr)) != e) __builtin_trap();
    }
  } catch (Kiv::RangeException const&) {
    if (it.position() != 0) __builtin_trap();
  }
  // The whole-text reader of a typed reference refuses what is not that type.
  try {
    (void)Kiv::strepToValue<Kiv::Ptr<Bridging::Orva::Config>>(text);
  } catch (Kiv::RangeException const&) {
  }
  Kiv::Dir::root()->entryDel("fuzz");
  return 0;
}

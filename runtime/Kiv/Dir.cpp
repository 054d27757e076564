#include "Kiv/Dir.h"

#include "Kiv/Exception.h"

namespace Kiv {

void Dir::NotifieeConst::onEntry(Name const&) {}

Ptr<Dir> Dir::DirIs(Name const& name) { return make<Dir>(name); }

Dir::Dir(Name const& name) : Entity(name) {}

Dir::~Dir() {
  for (auto it = entries_.iteratorConst(); it; ++it) it->entity()->parentIs(nullptr);
}

Ptr<Dir> Dir::root() {
  static Dir* const r = [] {
    Dir* d = makeForProcess<Dir>(Name());
    d->isNondestructingIs(true);
    return d;
  }();
  return Ptr<Dir>(r);
}

Ptr<Entity> Dir::entry(Name const& name) const {
  Entry* e = entries_.find(name);
  return e ? e->entity() : nullptr;
}

Ptr<Dir::Entry> Dir::entryRecord(Name const& name) const { return entries_.member(name); }

void Dir::entryIs(Ptr<Entity> const& entity) {
  if (!entity) throwNullValidPtr();
  Name name = entity->name();
  if (Entry* e = entries_.find(name)) {
    if (e->entity() == entity) return;
    throwNameInUseException("an entity named " + name.string() + " is already in " + fullName());
  }
  entries_.insert(make<Entry>(name, entity));
  entity->parentIs(this);
  kivNotify(entryAttrId, &NotifieeConst::onEntry, name);
}

Ptr<Entity> Dir::entryDel(Name const& name) {
  Ptr<Entry> e = entries_.remove(name);
  if (!e) return nullptr;
  Ptr<Entity> entity = e->entity();
  entity->parentIs(nullptr);
  kivNotify(entryAttrId, &NotifieeConst::onEntry, name);
  return entity;
}

String8 Dir::fullName() const {
  if (!Entity::parent() && name().empty()) return "/";
  return Entity::fullName();
}

String8 Dir::attributeString(AttributeId id) const {
  return id == entryAttrId ? String8("entry") : Entity::attributeString(id);
}

Ptr<Entity> Dir::lookup(String8 const& path) {
  Ptr<Entity> cur = root();
  std::size_t i = 0, n = path.size();
  char const* p = path.data();
  while (i < n) {
    if (p[i] == '/') {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < n && p[j] != '/') ++j;
    auto* dir = dynamic_cast<Dir*>(cur.ptr());
    if (!dir) return nullptr;
    cur = dir->entry(Name(String8(p + i, j - i)));
    if (!cur) return nullptr;
    i = j;
  }
  return cur;
}

}  // namespace Kiv

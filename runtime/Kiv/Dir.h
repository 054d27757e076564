#pragma once
// Kiv::Dir is a directory entity: it holds other entities by name and makes
// them its children, so that entities form a tree with the process's root
// directory at the top. An entity's full name is its path from the root
// ("/agent/config"); an entity reference's text form is that path, and
// Dir::lookup() finds an entity from it.
#include <cstdint>

#include "Kiv/Entity.h"
#include "Kiv/Export.h"
#include "Kiv/HashMap.h"
#include "Kiv/Name.h"

namespace Kiv {

class KIV_API Dir : public Entity {
 public:
  // One entry of a directory: the entity under its name, and a state word
  // that the runtime uses to mark the entry's progress (for example while
  // an attribute-log peer resynchronises it).
  class KIV_API Entry : public PtrInterface, public HashMapLink<Entry> {
   public:
    Entry(Name const& name, Ptr<Entity> const& entity) : name_(name), entity_(entity) {}
    Name const& name() const noexcept { return name_; }
    Ptr<Entity> entity() const { return entity_; }
    std::uint32_t state() const noexcept { return state_; }
    void stateIs(std::uint32_t s) noexcept { state_ = s; }

   private:
    Name name_;
    Ptr<Entity> entity_;
    std::uint32_t state_ = 0;
  };
  using EntryMap = HashMap<Entry, Name, KeyBy<&Entry::name>>;

  class NotifieeConst : public Entity::NotifieeConstOf<Dir> {
   public:
    virtual void onEntry(Name const& name);
  };
  using Notifiee = Entity::NotifieeOf<Dir, NotifieeConst>;

  static constexpr AttributeId entryAttrId = 16;

  static Ptr<Dir> DirIs(Name const& name);
  explicit Dir(Name const& name);
  ~Dir() override;

  // The process's root directory (empty name, full name "/").
  static Ptr<Dir> root();

  Ptr<Entity> entry(Name const& name) const;
  Ptr<Entry> entryRecord(Name const& name) const;
  // Adds `entity` under its own name and makes this directory its parent.
  // Throws the name-in-use exception if another entity has that name.
  void entryIs(Ptr<Entity> const& entity);
  // Removes the entity of that name and returns it (null when absent).
  Ptr<Entity> entryDel(Name const& name);
  std::uint32_t entries() const noexcept { return entries_.members(); }
  EntryMap::IteratorConst entryIteratorConst() const { return entries_.iteratorConst(); }

  String8 fullName() const override;
  String8 attributeString(AttributeId id) const override;

  // The entity at `path`: a full name from the root ("/a/b"), or a name
  // relative to the root ("a/b"). Null when any step is missing.
  static Ptr<Entity> lookup(String8 const& path);

 private:
  EntryMap entries_;
};

}  // namespace Kiv

// The product library as a process that knows none of its classes sees it.
// This program links only the runtime and loads the library with dlopen,
// so it decides when the library's initializers run: the agent model's
// types are then found by their qualified names with every attribute as
// registered; a registry that refuses at load leaves bare types that a
// later type query registers; and the library file carries its
// ".kiv.type" section.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivType.h"

#ifndef BTS_PRODUCT_PATH
#error "BTS_PRODUCT_PATH names the product library file"
#endif

namespace {

using Kiv::KivType;
using Kiv::Ptr;

char const* const productPath = BTS_PRODUCT_PATH;

bool productLoaded() { return dlopen(productPath, RTLD_NOW | RTLD_NOLOAD) != nullptr; }

// Loads the library for the rest of the process: its type objects must
// outlive every use, so it is never closed.
::testing::AssertionResult loadProduct() {
  if (dlopen(productPath, RTLD_NOW | RTLD_GLOBAL)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << dlerror();
}

struct Refusing {
  Refusing() { Kiv::IntrospectionReactor::global()->hasActiveTargetIs(false); }
  ~Refusing() { Kiv::IntrospectionReactor::global()->hasActiveTargetIs(true); }
};

Ptr<KivType> type(char const* qualifiedName) {
  Ptr<KivType> t = KivType::typeNode(qualifiedName);
  if (!t) ADD_FAILURE() << "no type " << qualifiedName;
  return t;
}

// Declared first: when all tests run in one process, this one must load the
// library itself.
TEST(AgentLoad, RefusingRegistryLeavesBareTypesThatALaterTypeQueryRegisters) {
  if (productLoaded()) GTEST_SKIP() << "needs a process that has not loaded the library yet";
  {
    Refusing refusing;
    ASSERT_TRUE(loadProduct());
  }
  Ptr<KivType> const config = type("Bridging::Orva::Config");
  Ptr<KivType> const tapDevice = type("Bridging::Orva::Config::TapDevice");
  Ptr<KivType> const status = type("Bridging::Orva::Status");
  ASSERT_TRUE(config && tapDevice && status);
  for (auto const& t : {config, tapDevice, status}) {
    EXPECT_TRUE(t->attrTable()->members().empty()) << t->qualifiedName();
    EXPECT_TRUE(t->constructorArgs().empty()) << t->qualifiedName();
    EXPECT_TRUE(t->isTypeNode()) << t->qualifiedName();
  }
  EXPECT_FALSE(config->isEntity());
  EXPECT_EQ(config->parent(), KivType::entityType()) << "a bare entity type has its base already";
  EXPECT_FALSE(tapDevice->parent());

  // The type can make an entity before it is registered; the entity's type
  // query is the later call that registers.
  auto const g = config->genericIf(Kiv::GenericIf::list({Kiv::Builtin<Kiv::Name>::genericIf("late")}), false);
  ASSERT_TRUE(g);
  EXPECT_TRUE(config->isEntity());
  EXPECT_EQ(config->attrTable()->members().size(), 6u);
  EXPECT_EQ(g->attributeId("complete"), 259u);
  EXPECT_EQ(tapDevice->attr("fileno")->id(), 3u);
  EXPECT_EQ(status->attr("fabricDeviceName")->id(), 259u);
  EXPECT_EQ(Kiv::IntrospectionReactor::global()->openScopes(), 0u);
}

// One line per attribute: "id name : type [by key] word0 word1 introspection".
std::vector<std::string> attributes(Ptr<KivType> const& t) {
  std::vector<std::string> lines;
  for (auto const& a : t->attrTable()->members()) {
    char flags[40];
    std::snprintf(flags, sizeof flags, " %08x %08x %u", a->flags().word0, a->flags().word1,
                  a->introspectionFlags().bits());
    lines.push_back(std::to_string(a->id()) + " " + a->name().stdString() + " : " +
                    a->type()->qualifiedName().stdString() +
                    (a->keyType() ? " by " + a->keyType()->qualifiedName().stdString() : std::string()) + flags);
    EXPECT_EQ(a->owner(), t.ptr()) << lines.back();
  }
  return lines;
}

TEST(AgentLoad, TypesCarryTheirAttributesIdsFlagsAndRegistrationOrder) {
  if (!productLoaded()) {
    ASSERT_TRUE(loadProduct());
  }
  Ptr<KivType> const config = type("Bridging::Orva::Config");
  Ptr<KivType> const tapDevice = type("Bridging::Orva::Config::TapDevice");
  Ptr<KivType> const status = type("Bridging::Orva::Status");
  ASSERT_TRUE(config && tapDevice && status);

  // Introspection bits: 1 independent, 2 function. Name and parent are the
  // entity type's, inherited.
  std::vector<std::string> const common = {
      "1 name : Kiv::Name 00200001 00000400 1", "2 parent : Kiv::Entity 08200001 00000400 0",
      "6 isNondestructing : bool 00002043 01000000 0", "154 kivHasAttrLogInterface : bool 00022001 00000400 2"};
  std::vector<std::string> expected = common;
  expected.push_back("258 extTapDevice : Bridging::Orva::Config::TapDevice by Kiv::String 01a20143 01000400 1");
  expected.push_back("259 complete : bool 00220143 01000400 1");
  EXPECT_EQ(attributes(config), expected);
  expected = common;
  expected.push_back("258 initialized : bool 00220143 01000400 1");
  expected.push_back("259 fabricDeviceName : Kiv::String 00220143 01000400 1");
  EXPECT_EQ(attributes(status), expected);
  EXPECT_EQ(attributes(tapDevice), (std::vector<std::string>{"2 name : Kiv::String 00220107 00000400 1",
                                                             "3 fileno : unsigned short 00220107 00000400 1"}));

  for (auto const& t : {config, status}) {
    EXPECT_TRUE(t->isEntity() && t->hasGenericIfSupport() && t->size() > 0) << t->qualifiedName();
    EXPECT_EQ(t->parent(), KivType::entityType());
    auto const& derived = KivType::entityType()->derivedTypes();
    EXPECT_NE(std::find(derived.begin(), derived.end(), t), derived.end());
    ASSERT_EQ(t->constructorArgs().size(), 1u);
    EXPECT_EQ(t->constructorArgs()[0].name + ":" + t->constructorArgs()[0].typeName, Kiv::String8("name:Kiv::Name"));
  }
  EXPECT_TRUE(tapDevice->isValue() && tapDevice->hasGenericIfSupport() && tapDevice->size() > 0);

  // The registry took the attributes in the order of the registration:
  // Config's inherited ones, the tap device nested in Config's scope, then
  // Config's own, then Status.
  std::vector<std::string> taken;
  for (auto const& a : Kiv::IntrospectionReactor::global()->attributesTaken()) {
    KivType const* owner = a->owner();
    if (owner == config.ptr() || owner == tapDevice.ptr() || owner == status.ptr())
      taken.push_back(owner->name().stdString() + "." + a->name().stdString());
  }
  EXPECT_EQ(taken, (std::vector<std::string>{
                       "Config.name", "Config.parent", "TapDevice.name", "TapDevice.fileno", "Config.isNondestructing",
                       "Config.kivHasAttrLogInterface", "Config.extTapDevice", "Config.complete", "Status.name",
                       "Status.parent", "Status.isNondestructing", "Status.kivHasAttrLogInterface",
                       "Status.initialized", "Status.fabricDeviceName"}));
}

// --- The ".kiv.type" section of the library file

struct Section {
  bool found = false;
  std::uint32_t type = 0;
  std::uint64_t flags = 0;
  std::uint64_t align = 0;
  std::vector<unsigned char> bytes;
};

// Reads section `wanted` from an ELF image of class Ehdr/Shdr, checking
// every offset against the image.
template <class Ehdr, class Shdr>
Section findSection(std::vector<unsigned char> const& file, char const* wanted) {
  Section out;
  Ehdr eh;
  if (file.size() < sizeof eh) return out;
  std::memcpy(&eh, file.data(), sizeof eh);
  if (eh.e_shentsize != sizeof(Shdr)) return out;
  auto header = [&](std::uint64_t i, Shdr& sh) {
    std::uint64_t const at = eh.e_shoff + i * sizeof(Shdr);
    if (at > file.size() || file.size() - at < sizeof(Shdr)) return false;
    std::memcpy(&sh, file.data() + at, sizeof sh);
    return true;
  };
  Shdr names;
  if (!header(eh.e_shstrndx, names)) return out;
  std::size_t const wantedSize = std::strlen(wanted) + 1;
  for (std::uint64_t i = 0; i < eh.e_shnum; ++i) {
    Shdr sh;
    if (!header(i, sh)) return out;
    std::uint64_t const nameAt = std::uint64_t(names.sh_offset) + sh.sh_name;
    if (nameAt > file.size() || file.size() - nameAt < wantedSize) continue;
    if (std::memcmp(file.data() + nameAt, wanted, wantedSize) != 0) continue;
    out.found = true;
    out.type = sh.sh_type;
    out.flags = sh.sh_flags;
    out.align = sh.sh_addralign;
    if (sh.sh_type != SHT_NOBITS && sh.sh_offset <= file.size() && file.size() - sh.sh_offset >= sh.sh_size)
      out.bytes.assign(file.begin() + std::ptrdiff_t(sh.sh_offset), file.begin() + std::ptrdiff_t(sh.sh_offset + sh.sh_size));
    return out;
  }
  return out;
}

Section kivTypeSection(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> const file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
    ADD_FAILURE() << path << " is no ELF file";
    return {};
  }
  if (file[EI_CLASS] == ELFCLASS32) return findSection<Elf32_Ehdr, Elf32_Shdr>(file, ".kiv.type");
  if (file[EI_CLASS] == ELFCLASS64) return findSection<Elf64_Ehdr, Elf64_Shdr>(file, ".kiv.type");
  ADD_FAILURE() << "unknown ELF class " << int(file[EI_CLASS]);
  return {};
}

TEST(TypeSection, AgentBlockComesFirstPaddedToThirtyTwoBytes) {
  Section const s = kivTypeSection(productPath);
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.type, std::uint32_t(SHT_PROGBITS));
  EXPECT_EQ(s.flags & (SHF_WRITE | SHF_ALLOC), std::uint64_t(SHF_WRITE | SHF_ALLOC)) << "writable, allocated data";
  EXPECT_EQ(s.align, 32u);
  std::string const agent("Bridging::Orva::Config::TapDevice\0Bridging::Orva::Config\0Bridging::Orva::Status", 80);
  std::string const bytes(s.bytes.begin(), s.bytes.end());
  EXPECT_EQ(bytes.substr(0, 0x60), agent + std::string(0x60 - agent.size(), '\0'))
      << "80 bytes of names, then zeros up to 0x60; no sanitizer redzone in between";
  if (bytes.size() == 0x60) return;  // the library has no other block yet
  std::string const reflector(
      "Bridging::TopoPortStateReflector\0Bridging::TopoStateReflector\0Bridging::StateReflector", 87);
  EXPECT_EQ(bytes.substr(0x60), reflector) << "the whole section is 183 bytes";
}

}  // namespace

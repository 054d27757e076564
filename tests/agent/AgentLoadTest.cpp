// The product library as a process that knows none of its classes sees it.
// This program links only the runtime and loads the library with dlopen,
// so it decides when the library's initializers run: a registry that
// refuses at load leaves bare types (all six of the library) that a later
// type query registers; the agent model's types are then found by their
// qualified names with every attribute as registered; and the library
// file carries its ".kiv.type" section.
#include <elf.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Kiv/GenericIf.h"
#include "Kiv/IntrospectionReactor.h"
#include "Kiv/KivType.h"
#include "support/AttributeListing.h"
#include "support/ProductLibrary.h"

namespace {

using Kiv::GenericIf;
using Kiv::KivType;
using Kiv::Ptr;
using TestSupport::loadProduct;
using TestSupport::productLoaded;
using TestSupport::productPath;

// The tap device, configuration and status types, found by their
// qualified names.
std::array<Ptr<KivType>, 3> agentTypes() {
  return {KivType::typeNode("Bridging::Orva::Config::TapDevice"), KivType::typeNode("Bridging::Orva::Config"),
          KivType::typeNode("Bridging::Orva::Status")};
}

// Declared first: when all tests run in one process, this one must load the
// library itself. The agent model and the reflectors register through
// their own code, so both are shown.
TEST(ProductLoad, RefusingRegistryLeavesBareTypesThatALaterTypeQueryRegisters) {
  if (productLoaded()) GTEST_SKIP() << "needs a process that has not loaded the library yet";
  TestSupport::RefusingRegistry refusing;
  ASSERT_TRUE(loadProduct());
  auto const [tapDevice, config, status] = agentTypes();
  ASSERT_TRUE(config && tapDevice && status);
  Ptr<KivType> const root = KivType::typeNode("Bridging::StateReflector");
  Ptr<KivType> const topology = KivType::typeNode("Bridging::TopoStateReflector");
  Ptr<KivType> const port = KivType::typeNode("Bridging::TopoPortStateReflector");
  ASSERT_TRUE(root && topology && port);
  for (auto const& t : {config, tapDevice, status, root, topology, port}) {
    EXPECT_TRUE(t->attrTable()->members().empty()) << t->qualifiedName();
    EXPECT_TRUE(t->constructorArgs().empty()) << t->qualifiedName();
    EXPECT_TRUE(t->isTypeNode()) << t->qualifiedName();
  }
  EXPECT_FALSE(config->isEntity());
  EXPECT_EQ(config->parent(), KivType::entityType()) << "a bare entity type has its base already";
  EXPECT_FALSE(tapDevice->parent());

  // Still refused: a reflector adapter's type query (the class's
  // _fwkType()) gives the bare type and registers nothing.
  Ptr<GenericIf> const reflector =
      root->genericIf(GenericIf::list({nullptr, nullptr, nullptr, nullptr, nullptr}), false);
  ASSERT_TRUE(reflector);
  EXPECT_EQ(reflector->objectType(), root);
  EXPECT_THROW(reflector->attributeId("doSyncTopo"), GenericIf::Error);
  EXPECT_TRUE(root->attrTable()->members().empty());

  Kiv::IntrospectionReactor::global()->hasActiveTargetIs(true);
  // The configuration type makes an entity before it is registered; the
  // entity's type query is the later call that registers.
  auto const g = config->genericIf(GenericIf::list({Kiv::Builtin<Kiv::Name>::genericIf("late")}), false);
  ASSERT_TRUE(g);
  EXPECT_TRUE(config->isEntity());
  EXPECT_EQ(config->attrTable()->members().size(), 6u);
  EXPECT_EQ(g->attributeId("complete"), 259u);
  EXPECT_EQ(tapDevice->attr("fileno")->id(), 3u);
  EXPECT_EQ(status->attr("fabricDeviceName")->id(), 259u);
  EXPECT_TRUE(root->attrTable()->members().empty()) << "each part registers on its own query";
  EXPECT_EQ(reflector->objectType(), root) << "the later query registers the same type objects";
  EXPECT_EQ(reflector->attributeId("doSyncTopo"), 141u);
  EXPECT_EQ(port->attrTable()->members().size(), 21u);
  EXPECT_EQ(topology->attr("topoPortStateReflector")->id(), 137u);
  EXPECT_EQ(root->constructorArgs().size(), 5u);
  EXPECT_EQ(Kiv::IntrospectionReactor::global()->openScopes(), 0u);
}

TEST(AgentLoad, TypesCarryTheirAttributesIdsFlagsAndRegistrationOrder) {
  ASSERT_TRUE(loadProduct());
  auto const [tapDevice, config, status] = agentTypes();
  ASSERT_TRUE(config && tapDevice && status);

  // Name, parent, isNondestructing and kivHasAttrLogInterface are the
  // entity type's, inherited.
  std::vector<std::string> const common = {
      "1 name : Kiv::Name 00200001 00000400 1", "2 parent : Kiv::Entity 08200001 00000400 0",
      "6 isNondestructing : bool 00002043 01000000 0", "154 kivHasAttrLogInterface : bool 00022001 00000400 2"};
  std::vector<std::string> expected = common;
  expected.push_back("258 extTapDevice : Bridging::Orva::Config::TapDevice by Kiv::String 01a20143 01000400 1");
  expected.push_back("259 complete : bool 00220143 01000400 1");
  EXPECT_EQ(TestSupport::attributeLines(config), expected);
  expected = common;
  expected.push_back("258 initialized : bool 00220143 01000400 1");
  expected.push_back("259 fabricDeviceName : Kiv::String 00220143 01000400 1");
  EXPECT_EQ(TestSupport::attributeLines(status), expected);
  EXPECT_EQ(TestSupport::attributeLines(tapDevice),
            (std::vector<std::string>{"2 name : Kiv::String 00220107 00000400 1",
                                      "3 fileno : unsigned short 00220107 00000400 1"}));

  for (auto const& t : {config, status}) {
    EXPECT_TRUE(t->isEntity() && t->hasGenericIfSupport() && t->size() > 0) << t->qualifiedName();
    EXPECT_EQ(t->parent(), KivType::entityType());
    ASSERT_EQ(t->constructorArgs().size(), 1u);
    EXPECT_EQ(t->constructorArgs()[0].name + ":" + t->constructorArgs()[0].typeName, Kiv::String8("name:Kiv::Name"));
  }
  EXPECT_TRUE(tapDevice->isValue() && tapDevice->hasGenericIfSupport() && tapDevice->size() > 0);
  EXPECT_FALSE(tapDevice->parent());

  // The registry took the attributes in the order of the registration:
  // Config's inherited ones, the tap device nested in Config's scope, then
  // Config's own, then Status.
  std::vector<std::string> taken;
  for (auto const& a : Kiv::IntrospectionReactor::global()->attributesTaken()) {
    KivType const* owner = a->owner();
    if (owner == config.ptr() || owner == tapDevice.ptr() || owner == status.ptr())
      taken.push_back(owner->name().stdString() + "." + a->name().stdString());
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"Config.name", "Config.parent", "TapDevice.name", "TapDevice.fileno",
                                             "Config.isNondestructing", "Config.kivHasAttrLogInterface",
                                             "Config.extTapDevice", "Config.complete", "Status.name", "Status.parent",
                                             "Status.isNondestructing", "Status.kivHasAttrLogInterface",
                                             "Status.initialized", "Status.fabricDeviceName"}));
}

// --- The ".kiv.type" section of the library file

struct Section {
  std::uint32_t type = 0;
  std::uint64_t flags = 0, align = 0;
  std::string bytes;
};

// Section `wanted` of the ELF image `file` of class Ehdr/Shdr; every offset
// is checked against the image. False when there is no such section.
template <class Ehdr, class Shdr>
bool findSection(std::string const& file, char const* wanted, Section& out) {
  auto read = [&](std::uint64_t at, auto& to) {
    if (at > file.size() || file.size() - at < sizeof to) return false;
    std::memcpy(&to, file.data() + at, sizeof to);
    return true;
  };
  Ehdr eh;
  Shdr names, sh;
  if (!read(0, eh) || eh.e_shentsize != sizeof(Shdr) || !read(eh.e_shoff + eh.e_shstrndx * sizeof(Shdr), names))
    return false;
  for (std::uint64_t i = 0; i < eh.e_shnum && read(eh.e_shoff + i * sizeof(Shdr), sh); ++i) {
    std::uint64_t const nameAt = std::uint64_t(names.sh_offset) + sh.sh_name;
    if (nameAt >= file.size() || file.compare(nameAt, std::strlen(wanted) + 1, wanted, std::strlen(wanted) + 1) != 0)
      continue;
    out = {sh.sh_type, sh.sh_flags, sh.sh_addralign, {}};
    if (sh.sh_type != SHT_NOBITS && sh.sh_offset <= file.size() && file.size() - sh.sh_offset >= sh.sh_size)
      out.bytes = file.substr(sh.sh_offset, sh.sh_size);
    return true;
  }
  return false;
}

TEST(TypeSection, AgentBlockComesFirstPaddedToThirtyTwoBytes) {
  std::ifstream in(productPath, std::ios::binary);
  std::string const file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(file.size() > EI_CLASS && file.compare(0, SELFMAG, ELFMAG) == 0) << productPath << " is no ELF file";
  Section s;
  bool const found = file[EI_CLASS] == ELFCLASS32 ? findSection<Elf32_Ehdr, Elf32_Shdr>(file, ".kiv.type", s)
                                                  : findSection<Elf64_Ehdr, Elf64_Shdr>(file, ".kiv.type", s);
  ASSERT_TRUE(found);
  EXPECT_EQ(s.type, std::uint32_t(SHT_PROGBITS));
  EXPECT_EQ(s.flags & (SHF_WRITE | SHF_ALLOC), std::uint64_t(SHF_WRITE | SHF_ALLOC)) << "writable, allocated data";
  EXPECT_EQ(s.align, 32u);
  std::string const agent("Bridging::Orva::Config::TapDevice\0Bridging::Orva::Config\0Bridging::Orva::Status", 80);
  std::string const reflector(
      "Bridging::TopoPortStateReflector\0Bridging::TopoStateReflector\0Bridging::StateReflector", 87);
  EXPECT_EQ(s.bytes, agent + std::string(0x60 - agent.size(), '\0') + reflector)
      << "the whole section is 183 bytes: 80 bytes of names, zeros up to 0x60 (no sanitizer redzone), 87 bytes";
}

}  // namespace

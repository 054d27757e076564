// The status entity: what differs from the configuration, its fabric
// device name.
#include <gtest/gtest.h>

#include <string>

#include "Kiv/Exception.h"
#include "agent/Status.h"
#include "tests/agent/AgentObservers.h"

namespace {

using namespace agent_test;
using Bridging::Orva::Status;

TEST(StatusNotification, FabricDeviceNameNotifiesOnlyWhenItsBytesChange) {
  Log log;
  auto status = Bridging::Orva::statusFactory("status");
  auto a = watch<StatusWatcher>(status, &log, "a");
  status->fabricDeviceNameIs("");
  status->fabricDeviceNameIs("fab0");
  status->fabricDeviceNameIs(Kiv::String8(std::string("fab") + "0"));
  a->hook = [] { Kiv::throwRangeException("boom"); };
  status->fabricDeviceNameIs("fab1");
  EXPECT_EQ(log, (Log{"a:259=fab0", "a:259=fab1", "a!259"}));
  EXPECT_EQ(status->fabricDeviceName(), Kiv::String8("fab1"));
}

TEST(StatusNotification, AttributesHaveNames) {
  auto status = Bridging::Orva::statusFactory("status");
  EXPECT_EQ(status->attributeString(258), Kiv::String8("initialized"));
  EXPECT_EQ(status->attributeString(259), Kiv::String8("fabricDeviceName"));
  EXPECT_EQ(Status::_fwkType()->name(), Kiv::String8("Status"));
}

}  // namespace

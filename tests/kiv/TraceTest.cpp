// Trace handles, their registry, the sink and the trace macros.
#include "Kiv/Trace.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "Kiv/Exception.h"

namespace {

// Restores the coverage stream however a test ends.
struct CoverageScope {
  explicit CoverageScope(std::ostream* s) { Kiv::coverageStream_ = s; }
  ~CoverageScope() { Kiv::coverageStream_ = nullptr; }
};

int sideEffect(int* counter) { return ++*counter; }

TEST(Trace, DisabledTraceBuildsNoTextUnlessACoverageStreamWantsIt) {
  Kiv::TraceHandle handle("Trace.Disabled", false);
  Kiv::TraceCapture capture;
  int evaluated = 0;
  KIV_TRACE(handle, 7, "f", "count " << sideEffect(&evaluated));
  handle.enabledIs(true);
  handle.levelIs(7, false);
  KIV_TRACE(handle, 7, "f", "count " << sideEffect(&evaluated));
  EXPECT_EQ(evaluated, 0) << "a disabled handle or level must not evaluate the stream operands";
  EXPECT_TRUE(capture.records().empty());

  std::ostringstream coverage;
  CoverageScope scope(&coverage);
  int line = __LINE__ + 1;
  KIV_TRACE_SRC(handle, "Src", 7, "fn", "n=" << sideEffect(&evaluated));
  EXPECT_EQ(evaluated, 1) << "with a coverage stream the text is built";
  EXPECT_TRUE(capture.records().empty()) << "a disabled record still does not reach the sink";
  EXPECT_EQ(coverage.str(), "Trace.Disabled[7] Src:" + std::to_string(line) + " fn: n=1\n");
  handle.levelIs(7, true);
  KIV_TRACE_SRC(handle, "Src", 7, "fn", "again");
  EXPECT_EQ(capture.records().size(), 1u);
  EXPECT_NE(coverage.str().find("fn: again\n"), std::string::npos);
}

TEST(Trace, EnabledTraceCarriesEveryField) {
  Kiv::TraceHandle handle("Trace.Fields", true);
  Kiv::TraceCapture capture;
  double const delay = 9.5367431640625e-07;
  int line = __LINE__ + 1;
  KIV_TRACE_SRC(handle, "TopoStateReflector", 7, "handleState", "port " << 3 << " at " << 1.0 / 3 << ' ' << delay);
  ASSERT_EQ(capture.records().size(), 1u);
  Kiv::TraceRecord const& r = capture.records()[0];
  EXPECT_EQ(r.handle, "Trace.Fields");
  EXPECT_EQ(r.context, "<unknown>");
  EXPECT_EQ(r.text, "port 3 at 0.333333333333 9.53674316406e-07") << "text is written with precision 12";
  EXPECT_EQ(r.level, 7);
  EXPECT_EQ(r.source, "TopoStateReflector");
  EXPECT_EQ(r.line, line);
  EXPECT_EQ(r.function, "handleState");
  KIV_TRACE(handle, 0, "g", "x");
  ASSERT_EQ(capture.records().size(), 2u);
  EXPECT_NE(capture.records()[1].source.stdString().find("TraceTest.cpp"), std::string::npos)
      << "the plain macro names the source file";
}

TEST(Trace, LevelMaskSelectsLevelsZeroToNineOnlyWhileEnabled) {
  Kiv::TraceHandle handle("Trace.Levels", false);
  EXPECT_EQ(handle.levelMask(), Kiv::TraceHandle::allLevels) << "a new handle has every level on";
  handle.levelMaskIs(0x0180);  // 7 and 8
  EXPECT_FALSE(handle.levelEnabled(7)) << "the enabled flag gates every level";
  handle.enabledIs(true);
  EXPECT_TRUE(handle.levelEnabled(7));
  EXPECT_TRUE(handle.levelEnabled(8));
  EXPECT_FALSE(handle.levelEnabled(3));
  handle.levelIs(3, true);
  handle.levelIs(8, false);
  EXPECT_TRUE(handle.levelEnabled(3));
  EXPECT_FALSE(handle.levelEnabled(8));
  handle.enabledIs(false);
  handle.enabledIs(true);
  EXPECT_EQ(handle.levelMask(), 0x0088) << "switching the handle off and on keeps its levels";

  EXPECT_THROW(handle.levelIs(10, true), Kiv::RangeException);
  EXPECT_THROW(handle.levelIs(-1, true), Kiv::RangeException);
  handle.levelMaskIs(0xFFFF);
  EXPECT_EQ(handle.levelMask(), Kiv::TraceHandle::allLevels);
  for (int level : {-1, 10, 15, 40}) EXPECT_FALSE(handle.levelEnabled(level)) << level;
}

TEST(Trace, ConfigureReachesLiveAndProcessHandlesAndIsRememberedForLaterOnes) {
  auto gone = std::make_unique<Kiv::TraceHandle>("Trace.Configured", false);
  Kiv::TraceHandle early("Trace.Configured", false);
  Kiv::TraceHandle other("Trace.Other", false);
  gone.reset();  // a destroyed handle leaves the registry: configure must not reach it
  Kiv::TraceHandle::configure("Trace.Configured", true, 0x0100);
  EXPECT_TRUE(early.levelEnabled(8));
  EXPECT_FALSE(early.levelEnabled(7));
  EXPECT_FALSE(other.enabled()) << "only handles of that name";
  Kiv::TraceHandle late("Trace.Configured", false);
  EXPECT_TRUE(late.levelEnabled(8)) << "the remembered configuration overrides the constructor";
  EXPECT_FALSE(late.levelEnabled(7));

  // A process handle is made disabled once, kept, and configured like any other.
  Kiv::TraceHandle& a = Kiv::traceHandle("Trace.Process");
  EXPECT_FALSE(a.enabled());
  a.enabledIs(true);
  EXPECT_EQ(&Kiv::traceHandle("Trace.Process"), &a);
  EXPECT_TRUE(a.enabled());
  Kiv::TraceHandle::configure("Trace.Process", false, 0);
  EXPECT_FALSE(a.enabled());
}

TEST(Trace, SinkReplacementReturnsPreviousNullRestoresDefaultAndCapturesNest) {
  Kiv::TraceHandle handle("Trace.Sink", true);
  int first = 0, second = 0;
  Kiv::TraceSink before = Kiv::traceSinkIs([&](Kiv::TraceRecord const&) { ++first; });
  KIV_TRACE(handle, 1, "f", "a");
  Kiv::TraceSink previous = Kiv::traceSinkIs([&](Kiv::TraceRecord const&) { ++second; });
  KIV_TRACE(handle, 1, "f", "b");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  ASSERT_TRUE(previous);
  previous(Kiv::TraceRecord{});
  EXPECT_EQ(first, 2) << "the returned sink is the one replaced";
  Kiv::traceSinkIs(before);

  Kiv::TraceSink saved = Kiv::traceSinkIs(nullptr);
  testing::internal::CaptureStderr();
  KIV_TRACE_SRC(handle, "Src", 2, "fn", "to stderr");
  std::string const err = testing::internal::GetCapturedStderr();
  Kiv::traceSinkIs(saved);
  EXPECT_NE(err.find("Trace.Sink[2] Src:"), std::string::npos) << err;
  EXPECT_NE(err.find(" fn: to stderr\n"), std::string::npos) << err;

  Kiv::TraceCapture outer;
  {
    Kiv::TraceCapture inner;
    KIV_TRACE(handle, 1, "f", "inner");
    ASSERT_EQ(inner.records().size(), 1u);
  }
  KIV_TRACE(handle, 1, "f", "outer");
  ASSERT_EQ(outer.records().size(), 1u) << "captures nest and restore the outer sink";
  EXPECT_EQ(outer.records()[0].text, "outer");
}

// One step to watch one handle: switched on for the asked levels, its
// records collected, the others passed on, and its configuration put back.
TEST(Trace, NamedCaptureWatchesOneHandleAndPutsItsConfigurationBack) {
  Kiv::TraceHandle watched("Trace.Watched", false);
  Kiv::TraceHandle other("Trace.Other", true);
  Kiv::TraceCapture outer;
  {
    Kiv::TraceCapture capture("Trace.Watched", 1u << 7);
    Kiv::TraceHandle later("Trace.Watched", false);
    KIV_TRACE(watched, 7, "f", "seven");
    KIV_TRACE(watched, 8, "f", "eight");
    KIV_TRACE(later, 7, "f", "made during the capture");
    KIV_TRACE(other, 7, "f", "other");
    ASSERT_EQ(capture.records().size(), 2u);
    EXPECT_EQ(capture.records()[0].text, "seven");
    EXPECT_EQ(capture.records()[1].text, "made during the capture");
    ASSERT_EQ(outer.records().size(), 1u) << "another handle's records go on to the replaced sink";
    EXPECT_EQ(outer.records()[0].text, "other");
  }
  EXPECT_FALSE(watched.enabled()) << "the handle is as it was";
  EXPECT_EQ(watched.levelMask(), Kiv::TraceHandle::allLevels);
  Kiv::TraceHandle after("Trace.Watched", true);
  EXPECT_TRUE(after.enabled()) << "no configuration is left behind for handles made later";
  KIV_TRACE(watched, 7, "f", "not captured");
  EXPECT_EQ(outer.records().size(), 1u);
}

}  // namespace

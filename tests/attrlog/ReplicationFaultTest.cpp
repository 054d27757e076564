// The attribute-log runtime when things go wrong around it: a peer that
// stops reading, an entity that ends under a weak adapter, an abort between
// two long names, an observer that calls receive() during a delivery, a
// record too long for any frame, and writes switched off while a flow-out
// waits. Each scenario ends with a working connection (or one closed with
// its reason) and a mirror equal to its source.
#include <gtest/gtest.h>

#include <string>

#include "tests/attrlog/ReplicationFixture.h"

namespace {

using namespace attrlog_test;
using Kiv::StreamAdapter;

class ReplicationFault : public Replication {};

std::string text(std::size_t n, char c) { return std::string(n, c); }

TEST(WriterLimit, NameChangesWhilePeerNotReadingStayWithinCapacity) {
  for (bool const onDemand : {false, true}) {
    SCOPED_TRACE(onDemand ? "flow-outs made on demand" : "flow-outs of the runtime");
    Kiv::eventLoop().reset();
    auto status = Bridging::Orva::statusFactory("agentStatus");
    // The peer's end is read by nobody until the names have been changed.
    auto pair = Kiv::MemoryByteStream::pairIs(4096);
    auto source = Demuxer::DemuxerIs(pair.first);
    auto sa = source->mount(status);
    sa->stateFlagIs(StreamAdapter::flagFlowOutOnDemand, onDemand);
    auto const& writer = source->writer();
    for (int i = 0; i < 2000; ++i) {
      status->fabricDeviceNameIs(std::to_string(i) + text(1000, static_cast<char>('a' + i % 26)));
      Kiv::eventLoop().runOnce();
      ASSERT_LT(writer->pending(), writer->capacity() + writer->largestRecord()) << "after name " << i;
    }
    EXPECT_LT(writer->peakPending(), writer->holdLimit());

    auto dir = Kiv::Dir::DirIs("mirror");
    auto mirror = Demuxer::DemuxerIs(pair.second, Demuxer::second);
    mirror->mirrorDirIs(dir);
    std::uint64_t const before = writer->sent();
    mirror->receive();
    drain();
    EXPECT_EQ(describe(mirrorOf<Status>(dir, "agentStatus")), describe(status));
    EXPECT_LT(writer->sent() - before, writer->capacity() + 4 * 1100) << "the newest name only, not every one";
    source->close("test over");
    mirror->close("test over");
    drain();
  }
}

TEST(WeakAdapter, RecordsForItsEntityAfterTheEntityEndsAreDropped) {
  Kiv::eventLoop().reset();
  auto in = Kiv::make<Kiv::NboAttrLog::In>();
  auto out = Kiv::make<Kiv::NboAttrLog::Out>();
  auto demuxer = Demuxer::DemuxerIs(in, out);
  auto config = Bridging::Orva::configFactory("c");
  StreamAdapter::Kiv_BitSet bits = StreamAdapter::defaultBits();
  bits.bitIs(StreamAdapter::flagWeak, true);
  Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> sa = config->kivNboAttrLogSaIs(bits, 0, out, nullptr);
  sa->entityIdIs(5);
  sa->entityIdInitializedIs(true);
  demuxer->reactorIs(5, sa);
  ASSERT_TRUE(sa->isWeakReference());
  out->capacityIs(1);
  config->completeIs(true);
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));  // deferred: the adapter keeps a flow-out
  ASSERT_TRUE(sa->flowOut());
  config = nullptr;
  ASSERT_EQ(sa->rawNotifier(), nullptr) << "the adapter let go of its ended entity";
  EXPECT_FALSE(sa->flowOut());

  auto records = Kiv::make<Kiv::NboAttrLog::Out>();
  records->nextHeaderIs(Kiv::NboAttrLog::MsgHeader(5, 259, true, 0, 0, false));
  records << Kiv::Connection::Out::transactBegin << true << Kiv::Connection::Out::transactEnd;
  in->bytesIs(records->bytes().data(), records->size());
  demuxer->receive();
  EXPECT_TRUE(demuxer->open()) << demuxer->closeReason().stdString();
  EXPECT_EQ(demuxer->recordsReceived(), 1u);
  demuxer->close("test over");
  drain();
}

TEST_F(ReplicationFault, AbortBetweenTwoLongNamesWithFlowOutsOnDemandSendsOneStringAtATime) {
  auto sa = link.source->mount(status);
  sa->stateFlagIs(StreamAdapter::flagFlowOutOnDemand, true);
  drain();
  status->fabricDeviceNameIs(text(40000, 'a'));  // first chunk at once, the rest deferred
  ASSERT_TRUE(sa->flowOut() && sa->flowOut()->valueIter());
  link.source->flowOutAbort(sa);
  status->fabricDeviceNameIs(text(30000, 'b'));
  drain();
  EXPECT_TRUE(link.mirror->open()) << link.mirror->closeReason().stdString();
  EXPECT_EQ(describe(mirrorOf<Status>(dir, "agentStatus")), describe(status));
}

TEST_F(ReplicationFault, ReceiveCalledByAnObserverDuringADeliveryWaitsForIt) {
  link.source->mount(config);
  drain();
  auto mc = mirrorOf<Config>(dir, "agentConfig");
  ASSERT_TRUE(mc);
  struct Nested : Config::Notifiee {
    void onComplete() override { demuxer->receive(); }
    Kiv::Ptr<Demuxer> demuxer;
  };
  auto nested = Kiv::make<Nested>();
  nested->demuxer = link.mirror;
  nested->notifierIs(mc);
  // The record that the observer hears of is the last one read; the next
  // one comes later.
  config->completeIs(true);
  drain();
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  drain();
  nested->notifierIs(nullptr);
  EXPECT_TRUE(link.mirror->open()) << link.mirror->closeReason().stdString();
  EXPECT_EQ(describe(mc), describe(config));
}

TEST(TooLongRecord, ClosesTheConnectionWithItsReasonAndTheNextConnectionResyncs) {
  for (bool const deferred : {true, false}) {
    SCOPED_TRACE(deferred ? "written by a scheduled flow-out" : "written at once");
    Kiv::eventLoop().reset();
    auto config = Bridging::Orva::configFactory("agentConfig");
    auto dir = Kiv::Dir::DirIs("mirror");
    Link link = Link::make(dir);
    link.source->mount(config);
    drain();
    std::string reason;
    link.source->closedCallbackIs([&](Kiv::String8 const& r) { reason = r.stdString(); });
    if (deferred) {
      link.source->writer()->capacityIs(1);
      config->completeIs(true);  // fills the writer: the next change is deferred
    }
    config->extTapDeviceIs("huge", TapDevice(text(Kiv::NboAttrLog::maxFrame, 'h'), 1));
    drain();
    EXPECT_FALSE(link.source->open());
    EXPECT_EQ(reason.substr(0, reason.find('(')), "extTapDevice of agentConfig: attribute-log record too long ");

    config->extTapDeviceDel("huge");
    config->extTapDeviceIs("et1", TapDevice("tap1", 7));
    link = Link::make(dir);
    link.source->mount(config);
    drain();
    EXPECT_TRUE(link.source->open()) << link.source->closeReason().stdString();
    EXPECT_EQ(describe(mirrorOf<Config>(dir, "agentConfig")), describe(config));
    link.cut();
    drain();
  }
}

TEST_F(ReplicationFault, FlowOutWithWritesSwitchedOffWaitsUntilTheyAreOn) {
  struct Case {
    int flag;
    bool off;  // the flag's value that switches writes off
  } const cases[] = {{StreamAdapter::flagWritesOff5, true},
                     {StreamAdapter::flagWritesOff8, true},
                     {StreamAdapter::flagWritable, false}};
  auto sa = link.source->mount(config);
  drain();
  auto mc = mirrorOf<Config>(dir, "agentConfig");
  for (auto const& c : cases) {
    SCOPED_TRACE("state flag " + std::to_string(c.flag));
    sa->stateFlagIs(c.flag, c.off);
    config->completeIs(!config->complete());
    config->extTapDeviceIs("et" + std::to_string(c.flag), TapDevice("tap", 1));
    link.source->createFlowOut(sa, Kiv::ConnectDesc(), false, 0);
    drain(1000);
    ASSERT_FALSE(HasFatalFailure()) << "the flow-out spins";
    EXPECT_TRUE(sa->flowOut() && sa->flowOut()->hasDirtyAttributes()) << "it waits, dirty";
    EXPECT_NE(describe(mc), describe(config));
    sa->stateFlagIs(c.flag, !c.off);
    drain();
    EXPECT_FALSE(sa->flowOut());
    EXPECT_EQ(describe(mc), describe(config));
  }
}

}  // namespace

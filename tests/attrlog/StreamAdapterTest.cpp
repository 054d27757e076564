// The stream adapters record by record: the bytes of each record kind,
// when a change is written or deferred, how records are applied, and the
// scheduled flow-out with its resumable resync and chunked string.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Kiv/NboAttrLogFlow.h"
#include "tests/agent/AgentObservers.h"
#include "tests/attrlog/ReplicationFixture.h"
#include "tests/support/ExceptionMessage.h"

namespace {

using namespace attrlog_test;
using Kiv::StreamAdapter;
using Kiv::NboAttrLog::In;
using Kiv::NboAttrLog::Out;

constexpr Kiv::EntityId id = 5;

std::string hex(std::vector<std::uint8_t> const& bytes) {
  std::string s;
  char b[4];
  for (auto v : bytes) {
    std::snprintf(b, sizeof b, s.empty() ? "%02x" : " %02x", v);
    s += b;
  }
  return s;
}

// A connection whose ends no stream drives: what the adapters write stays
// in the writer, and records are handed to the reader by the test.
class AdapterBench : public ::testing::Test {
 protected:
  void SetUp() override { Kiv::eventLoop().reset(); }
  void TearDown() override {
    demuxer->close("test over");
    drain();
  }

  // Attaches an adapter of `entity` under `id`, without sending anything.
  template <class E>
  Kiv::Ptr<typename E::KivNboAttrLogSa> attach(Kiv::Ptr<E> const& entity, Kiv::EntityId eid = id) {
    Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> sa = entity->kivNboAttrLogSaIs(StreamAdapter::defaultBits(), 0, out, nullptr);
    sa->entityIdIs(eid);
    sa->entityIdInitializedIs(true);
    demuxer->reactorIs(eid, sa);
    return Kiv::Ptr<typename E::KivNboAttrLogSa>(static_cast<typename E::KivNboAttrLogSa*>(sa.ptr()));
  }
  // What the adapters wrote since the last call.
  std::string written() {
    std::string s = hex(out->bytes());
    out->clear();
    return s;
  }
  // Hands the records that `write` makes to the reader and delivers them.
  // The peer has seen every record this side wrote.
  void deliver(std::function<void(Kiv::Ptr<Out> const&)> const& write) {
    peerAck = static_cast<std::uint32_t>(out->records());
    auto records = Kiv::make<Out>();
    write(records);
    in->bytesIs(records->bytes().data(), records->size());
    demuxer->receive();
  }
  static void record(Kiv::Ptr<Out> const& w, Kiv::AttributeId a, std::function<void()> const& payload,
                     Kiv::EntityId eid = id) {
    w->nextHeaderIs(Kiv::NboAttrLog::MsgHeader(eid, a, true, 0, peerAck, false));
    w << Kiv::Connection::Out::transactBegin;
    payload();
    w << Kiv::Connection::Out::transactEnd;
  }
  static void marker(Kiv::Ptr<Out> const& w, Kiv::AttributeId a, std::uint8_t type, Kiv::EntityId eid = id) {
    w->nextHeaderIs(Kiv::NboAttrLog::MsgHeader(eid, a, false, type, peerAck, false));
    w << Kiv::Connection::Out::transactBegin << Kiv::Connection::Out::transactEnd;
  }

  static inline std::uint32_t peerAck = 0;
  Kiv::Ptr<In> in = Kiv::make<In>();
  Kiv::Ptr<Out> out = Kiv::make<Out>();
  Kiv::Ptr<Demuxer> demuxer = Demuxer::DemuxerIs(in, out);
  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("c");
  Kiv::Ptr<Status> status = Bridging::Orva::statusFactory("s");
  agent_test::Log log;
};

TEST_F(AdapterBench, EachRecordKindByteForByte) {
  auto sa = attach(config);
  auto ssa = attach(status, 7);
  struct Case {
    char const* kind;
    std::function<void()> change;
    char const* bytes;
  };
  std::vector<Case> const cases = {
      {"boolean", [&] { config->completeIs(true); },
       "00 00 00 16 00 00 00 00 00 00 00 05 00 00 01 03 01 01 00 00 00 00 00 01 01 03"},
      {"entry", [&] { config->extTapDeviceIs("et1", TapDevice("tap1", 7)); },
       "00 00 00 26 00 00 00 00 00 00 00 05 00 00 01 02 01 01 00 00 00 00 00 01 00 00 00 03 65 74 31 00 00 00 04 "
       "74 61 70 31 00 07 03"},
      {"deletion", [&] { config->extTapDeviceDel("et1"); },
       "00 00 00 1c 00 00 00 00 00 00 00 05 ff ff fe fe 01 01 00 00 00 00 00 01 00 00 00 03 65 74 31 03"},
      {"chunk", [&] { status->fabricDeviceNameIs("fab0"); },
       "00 00 00 25 00 00 00 00 00 00 00 07 00 00 01 03 01 01 00 00 00 00 00 01 00 00 00 04 00 00 00 00 00 00 00 04 "
       "66 61 62 30 03"},
      {"marker", [&] { sa->sendTransactionMarker(258, StreamAdapter::transactionBegin, 0); },
       "00 00 00 15 00 00 00 00 00 00 00 05 00 00 01 02 00 00 00 00 00 00 00 01 03"},
      {"orphan", [&] { sa->doSerializeOrphan(); },
       "00 00 00 3f 00 00 00 00 00 00 00 01 00 00 00 88 01 00 00 00 00 00 00 01 01 00 00 00 16 42 72 69 64 67 69 "
       "6e 67 3a 3a 4f 72 76 61 3a 3a 43 6f 6e 66 69 67 03 00 00 00 01 63 04 00 00 00 00 00 00 00 05 03"},
      {"sync mode", [&] { sa->syncModeIs(StreamAdapter::syncModeResync); },
       "00 00 00 19 00 00 00 00 00 00 00 05 00 00 00 87 01 00 00 00 00 00 00 01 00 00 00 02 03"},
      {"unchanged value", [&] { config->completeIs(true); }, ""},
  };
  for (auto const& c : cases) {
    c.change();
    EXPECT_EQ(written(), c.bytes) << c.kind;
  }
  Kiv::String8 key("et2");
  config->extTapDeviceIs("et2", TapDevice("t", 1));
  std::string entry = written();
  sa->doNotification(258, &key);
  entry.replace(51, 2, "00");
  EXPECT_EQ(written(), entry) << "a replayed notification writes the same record, as a resend";

  // The acknowledgement: frames received when the record was written.
  config->completeIs(false);
  written();
  for (int i = 0; i < 7; ++i) deliver([&](Kiv::Ptr<Out> const& r) { record(r, 6, [&] { r << false; }); });
  config->completeIs(true);
  EXPECT_EQ(written(), "00 00 00 16 00 00 00 00 00 00 00 05 00 00 01 03 01 01 00 00 00 07 00 01 01 03");
}

TEST_F(AdapterBench, ShortBufferDefersToDirtyBitsOrAFlowOutMadeOnDemand) {
  auto sa = attach(config);
  out->capacityIs(1);
  config->completeIs(true);  // the first record goes: the buffer was empty
  written();
  out->appendU8(0);  // now it is full
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  auto fo = sa->flowOut();
  ASSERT_TRUE(fo);
  EXPECT_EQ(out->size(), 1u) << "nothing written";
  EXPECT_EQ(fo->kivDirtyBitSet0(), 2u) << "only the collection is dirty";
  EXPECT_EQ(fo->start(), 0x7fffffffu) << "made clean";

  auto ssa = attach(status, 7);
  ssa->stateFlagIs(StreamAdapter::flagFlowOutOnDemand, true);
  status->initializedIs(true);
  auto sfo = ssa->flowOut();
  ASSERT_TRUE(sfo);
  EXPECT_EQ(sfo->attrId(), 258u);
  EXPECT_EQ(sfo->kivDirtyBitSet0(), 2u);
  EXPECT_EQ(out->size(), 1u);
}

TEST_F(AdapterBench, FlowOutStartMarksAttributesDirty) {
  auto sa = attach(config);
  struct Case {
    Kiv::AttributeId start;
    std::uint32_t dirty;
  } const cases[] = {{0, 7}, {6, 7}, {7, 6}, {258, 6}, {259, 4}, {260, 0}, {0x7fffffff, 0}};
  for (auto const& c : cases) {
    auto fo = Kiv::Ptr<Bridging::Orva::AgentFlowOut>(
        static_cast<Bridging::Orva::AgentFlowOut*>(sa->flowOutIs(out, Kiv::ConnectDesc(), false, c.start).ptr()));
    EXPECT_EQ(fo->kivDirtyBitSet0(), c.dirty) << "start " << c.start;
    EXPECT_EQ(fo->hasDirtyAttributes(), c.dirty != 0);
  }
}

TEST_F(AdapterBench, ScheduledFlowOutWritesInIdOrderWithResyncMarkers) {
  auto sa = attach(config);
  config->isNondestructingIs(true);
  config->completeIs(true);
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  written();
  demuxer->createFlowOut(sa, Kiv::ConnectDesc(), false, 0);
  auto fo = sa->flowOut();
  fo->pendingAbortIs(258);
  EXPECT_EQ(sa->handleAttrFlowOut(0), 0u);
  auto const all = written();
  EXPECT_EQ(all.substr(12 * 3, 11), "00 00 01 02") << "the abort marker first";
  std::vector<std::string> attrs;
  for (std::size_t at = 0; at < all.size();) {
    std::size_t const len = std::stoul(all.substr(at, 11).erase(8, 1).erase(5, 1).erase(2, 1), nullptr, 16);
    attrs.push_back(all.substr(at + 12 * 3, 11) + "/" + all.substr(at + 16 * 3, 5));
    at += (4 + len) * 3;
  }
  EXPECT_EQ(attrs, (std::vector<std::string>{"00 00 01 02/00 01", "00 00 00 06/01 00", "00 00 01 02/00 00",
                                              "00 00 01 02/01 00", "00 00 01 02/00 02", "00 00 01 03/01 00"}))
      << "abort 258, isNondestructing, resync begin, the entry, resync end, complete";
  EXPECT_EQ(fo->pendingAborts(), 0u);
  EXPECT_FALSE(fo->hasDirtyAttributes());
  config->isNondestructingIs(false);
  written();

  fo->pendingAbortIs(259);
  EXPECT_EQ(sa->handleAttrFlowOut(300), 0u) << "no such attribute";
  EXPECT_EQ(written().size(), 25u * 3 - 1) << "but the pending abort went out";

  config->extTapDeviceDelAll();
  written();
  fo->dirtyIs(258, true);
  EXPECT_EQ(sa->handleAttrFlowOut(258), 0u);
  EXPECT_EQ(written().size(), 50u * 3 - 1) << "an empty collection: begin and end markers only";
}

TEST_F(AdapterBench, InterruptedResyncKeepsItsBookmarkAndResumes) {
  auto sa = attach(config);
  for (int i = 0; i < 5; ++i) config->extTapDeviceIs("k" + std::to_string(i), TapDevice("t" + std::to_string(i), 1));
  std::vector<std::string> keys;
  for (auto it = config->extTapDeviceIteratorConst(); it; ++it) keys.push_back(it->key().stdString());
  written();
  demuxer->createFlowOut(sa, Kiv::ConnectDesc(), false, 258);
  auto fo = sa->flowOut();
  // Begin marker 25 bytes, each entry 39: the writer is full after two.
  out->capacityIs(25 + 2 * 39);
  EXPECT_EQ(sa->handleAttrFlowOut(258), 258u);
  ASSERT_TRUE(fo->bookmark());
  EXPECT_EQ(fo->bookmark()->stdString(), keys[2]);
  written();
  out->capacityIs(0);
  EXPECT_EQ(sa->handleAttrFlowOut(258), 0u);
  EXPECT_EQ(written().size(), (3 * 39 + 25 + 26) * 3 - 1) << "the last three entries, the end marker, complete";

  // Suspended after the second: that entry is written again next time.
  fo->dirtyIs(258, true);
  out->flowOutBudgetIs(2);
  fo->kivDataBitsIs(0);
  demuxer->createFlowOut(sa, Kiv::ConnectDesc(), false, 0);
  out->flowOutWaitIs(fo);
  Kiv::eventLoop().runOnce();
  ASSERT_TRUE(fo->bookmark());
  EXPECT_EQ(fo->bookmark()->stdString(), keys[1]);
  sa->freeResyncState(fo);
  EXPECT_FALSE(fo->bookmark()) << "dropped with the resync";
}

TEST_F(AdapterBench, EmptyAndLongNamesAreWrittenInChunks) {
  auto ssa = attach(status, 7);
  status->fabricDeviceNameIs("x");
  status->fabricDeviceNameIs("");
  EXPECT_EQ(written().size(), (38 + 37) * 3 - 1) << "one chunk each, the empty name included";

  std::string const longName(3 * Kiv::NboAttrLog::maxChunk + 10, 'n');
  out->capacityIs(Kiv::NboAttrLog::maxChunk);  // below the first-chunk threshold
  status->fabricDeviceNameIs(longName);
  auto fo = ssa->flowOut();
  ASSERT_TRUE(fo && fo->dirty(259));
  EXPECT_FALSE(fo->valueIter()) << "nothing written outside the flow-out: the dirty bit stands for the newest name";
  // The writer drains between the scheduled calls.
  for (int turn = 0; ssa->flowOut() && turn < 10; ++turn) {
    out->clear();
    out->flush();
    Kiv::eventLoop().runOnce();
  }
  EXPECT_FALSE(ssa->flowOut()) << "done and dropped";
  EXPECT_EQ(out->records(), 2u + 4u) << "two short names, then four chunks";
}

TEST_F(AdapterBench, AppliedRecordsNotifyOnceAndAreNotWrittenBack) {
  auto sa = attach(config);
  auto w = agent_test::watch<agent_test::ConfigWatcher>(config, &log, "w");
  auto entry = [&](char const* key, char const* name) {
    deliver([&](Kiv::Ptr<Out> const& r) { record(r, 258, [&] { r << Kiv::String8(key) << TapDevice(name, 1); }); });
  };
  config->extTapDeviceIs("c", TapDevice("tc", 1));
  config->extTapDeviceIs("b", TapDevice("tb", 1));
  written();
  log.clear();
  entry("a", "ta");
  EXPECT_EQ(log.size(), 1u);
  entry("a", "ta");
  EXPECT_EQ(log.size(), 1u) << "the same value again notifies nobody";

  // A resync that brings a and b deletes c, and only c.
  deliver([&](Kiv::Ptr<Out> const& r) { marker(r, 258, 0); });
  entry("a", "ta");
  entry("b", "tb");
  log.clear();
  deliver([&](Kiv::Ptr<Out> const& r) { marker(r, 258, 2); });
  EXPECT_EQ(describe(config), "complete=0 nondestructing=0 {b:tb/1 a:ta/1 }");
  EXPECT_EQ(log, (agent_test::Log{"w:258=c//0"}));

  // Aborted: nothing deleted; the next resync's end deletes the stale.
  deliver([&](Kiv::Ptr<Out> const& r) { marker(r, 258, 0); });
  entry("a", "ta");
  deliver([&](Kiv::Ptr<Out> const& r) { marker(r, 258, 1); });
  EXPECT_EQ(config->extTapDevices(), 2u);
  deliver([&](Kiv::Ptr<Out> const& r) {
    marker(r, 258, 0);
    marker(r, 258, 2);
  });
  EXPECT_EQ(config->extTapDevices(), 0u);
  EXPECT_EQ(written(), "") << "nothing applied was written back";

  deliver([&](Kiv::Ptr<Out> const& r) { record(r, 259, [&] { r << true; }); });
  EXPECT_TRUE(config->complete()) << "Config 259 carries a bool";
}

TEST_F(AdapterBench, ChunkedNameIsAppliedOnceWhenComplete) {
  auto ssa = attach(status, 7);
  auto w = agent_test::watch<agent_test::StatusWatcher>(status, &log, "w");
  status->fabricDeviceNameIs("old");
  log.clear();
  Kiv::String8 const name("abcdefghi");
  auto chunk = [&](std::size_t from, std::size_t n) {
    deliver([&](Kiv::Ptr<Out> const& r) {
      record(r, 259, [&] {
        r << std::uint32_t(name.size()) << std::uint32_t(from) << std::uint32_t(n);
        r->appendBytes(name.data() + from, n);
      }, 7);
    });
  };
  chunk(0, 3);
  chunk(3, 3);
  EXPECT_EQ(status->fabricDeviceName(), Kiv::String8("old"));
  chunk(6, 3);
  EXPECT_EQ(status->fabricDeviceName(), name);
  EXPECT_EQ(log.size(), 1u);

  chunk(0, 3);
  deliver([&](Kiv::Ptr<Out> const& r) { marker(r, 259, 1, 7); });
  EXPECT_EQ(status->fabricDeviceName(), name) << "an abort drops the partial name";
  EXPECT_EQ(demuxer->flowIns(), 0u);
  chunk(0, 3);
  EXPECT_EQ(TestSupport::rangeMessage([&] { chunk(9 - 3, 3), chunk(0, 0); }).find("string chunk at offset 6 after 3"),
            0u);
  EXPECT_FALSE(demuxer->open()) << "a chunk that does not follow closes the connection";
  EXPECT_EQ(status->fabricDeviceName(), name);
}

TEST_F(AdapterBench, ApplyingIsNotReentrantAndRespectsReadOnlyPeers) {
  auto sa = attach(config);
  auto reader = Kiv::make<In>();
  struct Nested : Config::Notifiee {
    void onComplete() override {
      try {
        sa->handleAttrDeserialization(259, 0, 1, nullptr);
      } catch (Kiv::Exception const& e) {
        message = e.message().stdString();
      }
    }
    Kiv::Ptr<Config::KivNboAttrLogSa> sa;
    std::string message;
  };
  auto nested = Kiv::make<Nested>();
  nested->sa = sa;
  nested->notifierIs(config);
  deliver([&](Kiv::Ptr<Out> const& r) { record(r, 259, [&] { r << true; }); });
  EXPECT_EQ(nested->message, "entity reactor is already active");
  EXPECT_FALSE(sa->stateFlag(StreamAdapter::flagActive));
  nested->notifierIs(nullptr);

  sa->stateFlagIs(StreamAdapter::flagRemoteReadOnly, true);
  EXPECT_EQ(TestSupport::exceptionMessage<Kiv::InternalException>(
                Kiv::ExceptionId::internal, [&] { sa->handleAttrDeserialization(259, 0, 1, nullptr); }),
            "write-update from readonly proxy: c");
  sa->stateFlagIs(StreamAdapter::flagRemoteReadOnly, false);

  // A short tap device changes nothing, clears flag 4 and closes.
  EXPECT_NE(TestSupport::rangeMessage([&] {
              deliver([&](Kiv::Ptr<Out> const& r) { record(r, 258, [&] { r << Kiv::String8("k") << Kiv::String8("t"); }); });
            }).find("short record"),
            std::string::npos);
  EXPECT_EQ(config->extTapDevices(), 0u);
  EXPECT_FALSE(sa->stateFlag(StreamAdapter::flagActive));
}

TEST_F(AdapterBench, AChangeAppliedFromOneConnectionReachesTheOthers) {
  auto sa = attach(config);
  auto otherIn = Kiv::make<In>();
  auto otherOut = Kiv::make<Out>();
  auto other = Demuxer::DemuxerIs(otherIn, otherOut);
  Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> second = config->kivNboAttrLogSaIs(StreamAdapter::defaultBits(), 0, otherOut, nullptr);
  EXPECT_NE(second, Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa>(sa.ptr()));
  EXPECT_EQ(config->kivNboAttrLogSa(otherOut), second);
  deliver([&](Kiv::Ptr<Out> const& r) { record(r, 259, [&] { r << true; }); });
  EXPECT_EQ(written(), "");
  EXPECT_EQ(otherOut->records(), 1u);
  EXPECT_EQ(config->kivNboAttrLogSaDel(out), Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa>(sa.ptr()));
  EXPECT_FALSE(demuxer->reactor(id));
  other->close("test over");
}

}  // namespace

namespace {

std::vector<std::uint8_t> unhex(std::string const& h) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < h.size(); i += 3) bytes.push_back(static_cast<std::uint8_t>(std::stoul(h.substr(i, 2), nullptr, 16)));
  return bytes;
}

TEST(MalformedFrame, IsRejectedByNameAndOffsetClosesAndChangesNothing) {
  // A valid record first, so that offsets are not all 0.
  std::string const good = "00 00 00 16 00 00 00 00 00 00 00 05 00 00 01 03 01 00 00 00 00 00 00 01 01 03 ";
  struct Case {
    std::string bytes;
    char const* message;
  } const cases[] = {
      {"00 00 00 05 00 00 00 00 00 ", "bad frame length 5 (frame at offset 26)"},
      {"ff ff ff ff 00 ", "bad frame length 4294967295 (frame at offset 26)"},
      {"00 00 00 16 00 00 00 00 00 00 00 05 00 00 01 03 02 00 00 00 00 00 00 01 01 03 ", "bad record kind 2"},
      {"00 00 00 16 00 00 00 00 00 00 00 05 00 00 01 03 01 00 00 00 00 00 00 07 01 03 ", "missing begin token"},
      {"00 00 00 16 00 00 00 00 00 00 00 05 00 00 01 03 01 00 00 00 00 00 00 01 00 04 ", "missing end token"},
      {"00 00 00 16 00 00 00 00 00 00 00 09 00 00 01 03 01 00 00 00 00 00 00 01 00 03 ", "record for unknown entity id 9"},
      {"00 00 00 15 00 00 00 00 00 00 00 05 00 00 01 03 01 00 00 00 00 00 00 01 03 ", "short record reading bool"},
      {"00 00 00 15 00 00 00 00 00 00 00 05 00 00 01 02 00 07 00 00 00 00 00 01 03 ", "bad transaction type 7"},
      {"00 00 00 26 00 00 00 00 00 00 00 05 00 00 01 02 01 00 00 00 00 00 00 01 00 00 00 03 65 74 31 00 00 00 "
       "09 74 61 70 31 00 07 03 ",
       "short record reading string of 9 bytes"},
      {"00 00 00 29 00 00 00 00 00 00 00 01 00 00 00 88 01 00 00 00 00 00 00 01 01 00 00 00 01 58 03 00 00 00 00 "
       "04 00 00 00 00 00 00 00 09 03 ",
       "orphan record of unknown entity type X"},
  };
  for (auto const& c : cases) {
    Kiv::eventLoop().reset();
    auto config = Bridging::Orva::configFactory("c");
    auto in = Kiv::make<In>();
    auto out = Kiv::make<Out>();
    auto demuxer = Demuxer::DemuxerIs(in, out);
    Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> sa = config->kivNboAttrLogSaIs(StreamAdapter::defaultBits(), 0, out, nullptr);
    sa->entityIdIs(id);
    sa->entityIdInitializedIs(true);
    demuxer->reactorIs(id, sa);
    auto const bytes = unhex(good + c.bytes);
    in->bytesIs(bytes.data(), bytes.size());
    std::string const message = TestSupport::rangeMessage([&] { demuxer->receive(); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message << " for " << c.message;
    EXPECT_FALSE(demuxer->open()) << c.message;
    EXPECT_FALSE(in->live());
    EXPECT_EQ(describe(config), "complete=1 nondestructing=0 {}") << "only the good record applied: " << c.message;
    EXPECT_EQ(demuxer->reactors(), 0u) << "the adapters stop replicating";
  }
}

TEST(MalformedFrame, StreamEndingInsideAFrameIsTruncation) {
  struct Case {
    char const* bytes;
    char const* reason;
  } const cases[] = {
      {"00 00 00 16 00 00 00 00 00 00 00 05 ", "truncated frame: the stream ended 12 bytes into it (frame at offset 0)"},
      {"00 ", "truncated frame: the stream ended 1 byte into it (frame at offset 0)"},
  };
  for (auto const& c : cases) {
    Kiv::eventLoop().reset();
    auto pair = Kiv::MemoryByteStream::pairIs();
    auto demuxer = Demuxer::DemuxerIs(pair.second);
    std::string reason;
    demuxer->closedCallbackIs([&](Kiv::String8 const& r) { reason = r.stdString(); });
    auto const bytes = unhex(c.bytes);
    pair.first->write(bytes.data(), bytes.size());
    pair.first->close();
    drain();
    EXPECT_EQ(reason, c.reason);
    EXPECT_FALSE(demuxer->open());
  }
}

}  // namespace

#include "Kiv/NboAttrLog.h"

#include <algorithm>

#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "Kiv/NboAttrLogDemuxer.h"
#include "Kiv/Strep.h"
#include "Kiv/StreamAdapter.h"

namespace Kiv {
namespace NboAttrLog {

// --- Out

Out::Out() = default;

Out::~Out() {
  if (in_) in_->out_ = nullptr;
  for (auto const& f : waiting_) f->queued_ = false;
}

void Out::nextHeaderIs(MsgHeader const& h) {
  if (recordOpen()) throwInternalException("attribute-log record started inside another record");
  frameStart_ = size();
  recordEntity_ = h.entityId;
  recordAttr_ = h.attrId;
  appendU32(0);  // the length, filled in when the record ends
  appendU64(h.entityId);
  appendU32(h.attrId);
  appendU8(h.attribute ? 1 : 0);
  appendU8(h.transactionType);
  appendU32(in_ ? static_cast<std::uint32_t>(in_->framesSeen_) : h.transactionArg);
  appendU8(h.reassert ? 1 : 0);
}

void Out::currentPayloadSectionIs(std::uint8_t section) { appendU8(section); }

void Out::capacityIs(std::size_t bytes) {
  capacity_ = bytes;
  scheduleFlowOuts();
}

Ptr<Connection::In> Out::connectionIn() const { return Ptr<Connection::In>(in_); }
Ptr<In> Out::nboIn() const { return Ptr<In>(in_); }

void Out::endRecord() {
  if (!recordOpen()) throwInternalException("attribute-log record ended without a header");
  std::size_t const length = size() - frameStart_ - 4;
  if (length > maxFrame) {
    // Too long for any reader: dropped rather than sent, and the
    // connection, which can no longer carry the entity, is closed.
    truncate(frameStart_);
    frameStart_ = noFrame;
    Ptr<Demuxer> demuxer = demuxFor(connectionIn());
    String8 const reason = (demuxer ? demuxer->recordName(recordEntity_, recordAttr_) + ": " : String8()) +
                           format("attribute-log record too long (%llu bytes, at most %u)",
                                  static_cast<unsigned long long>(length), maxFrame);
    fail(reason);
    throwRangeException(reason);
  }
  patchU32(frameStart_, static_cast<std::uint32_t>(length));
  largestRecord_ = std::max(largestRecord_, length + 4);
  peakPending_ = std::max(peakPending_, size());
  frameStart_ = noFrame;
  committed_ = size();
  ++records_;
  // Past its budget a flow-out is asked to stop. A suspended collection
  // resync writes its last entry again when it resumes, so a turn always
  // gets at least one record more than that entry.
  if (running_ && ++running_->recordsThisTurn_ > budget_) {
    running_->kivDataBitsIs(static_cast<std::uint8_t>(running_->kivDataBits() | FlowOut::suspendBit));
  }
  if (stream_ && !flushScheduled_) {
    // Records of one turn go to the stream together.
    flushScheduled_ = true;
    eventLoop().defer([hold = Ptr<Out>(this)] {
      hold->flushScheduled_ = false;
      hold->flush();
    });
  }
}

void Out::flush() {
  while (stream_ && committed_ > 0 && stream_->open()) {
    std::size_t const n = stream_->write(bytes().data(), committed_);
    if (n == 0) break;
    if (tap_) tap_(bytes().data(), n);
    sent_ += n;
    consume(n);
    committed_ -= n;
    if (frameStart_ != noFrame) frameStart_ -= n;
  }
  scheduleFlowOuts();
}

void Out::close() {
  std::deque<Ptr<FlowOut>> waiting;
  waiting.swap(waiting_);
  for (auto const& f : waiting) f->queued_ = false;
  if (stream_) stream_->close();
}

void Out::flowOutWaitIs(Ptr<FlowOut> const& flowOut) {
  if (!flowOut || flowOut->queued_ || flowOut.ptr() == running_) return;
  flowOut->queued_ = true;
  waiting_.push_back(flowOut);
  scheduleFlowOuts();
}

void Out::scheduleFlowOuts() {
  if (flowOutsScheduled_ || waiting_.empty() || !hasSufficientBuffer()) return;
  if (stream_ && !stream_->open()) return;
  flowOutsScheduled_ = true;
  eventLoop().defer([hold = Ptr<Out>(this)] { hold->runFlowOuts(); });
}

void Out::runFlowOuts() {
  flowOutsScheduled_ = false;
  // Each waiting flow-out gets one call per turn, while there is room.
  for (std::size_t n = waiting_.size(); n > 0 && !waiting_.empty() && hasSufficientBuffer(); --n) {
    Ptr<FlowOut> f = waiting_.front();
    waiting_.pop_front();
    f->queued_ = false;
    Ptr<StreamAdapter> adapter(f->adapter_);
    if (!adapter || adapter->flowOut() != f) continue;
    // It could write nothing: it waits until the adapter's writes are
    // switched on again, which queues it anew.
    if (!adapter->writesOn()) continue;
    f->recordsThisTurn_ = 0;
    ++f->runs_;
    running_ = f.ptr();
    AttributeId next = 0;
    try {
      next = adapter->handleAttrFlowOut(f->resumeAt_);
    } catch (std::exception const& e) {
      running_ = nullptr;
      fail(String8(e.what()));
      return;
    }
    running_ = nullptr;
    if (adapter->flowOut() != f) continue;
    if (next != 0) {
      f->resumeAt_ = next;
    } else if (f->hasDirtyAttributes() || f->pendingAborts()) {
      f->resumeAt_ = 0;
    } else {
      adapter->kivFlowOutIs(nullptr);
      continue;
    }
    f->queued_ = true;
    waiting_.push_back(f);
  }
  scheduleFlowOuts();
}

void Out::fail(String8 const& reason) {
  Ptr<Out> hold(this);
  if (Ptr<Demuxer> demuxer = demuxFor(connectionIn())) demuxer->close(reason);
  else if (stream_) close();
}

// --- In

In::~In() {
  if (out_) out_->in_ = nullptr;
}

Ptr<Out> In::connectionOut() const { return Ptr<Out>(out_); }

// --- Writers

Ptr<Out> const& operator<<(Ptr<Out> const& out, bool v) {
  out->appendBool(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, unsigned short v) {
  out->appendU16(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, std::uint32_t v) {
  out->appendU32(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, std::uint64_t v) {
  out->appendU64(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, std::int32_t v) {
  out->appendI32(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, String8 const& v) {
  out->appendString(v);
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, char const* v) {
  out->appendString(String8(v));
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, TypeId const& v) {
  out->appendString(v.name());
  return out;
}

Ptr<Out> const& operator<<(Ptr<Out> const& out, Connection::Out::TransactToken token) {
  out->appendU8(token);
  if (token == Connection::Out::transactEnd) out->endRecord();
  return out;
}

}  // namespace NboAttrLog

Ptr<NboAttrLog::Out> const& operator<<(Ptr<NboAttrLog::Out> const& out, String8::IteratorConst& it) {
  std::size_t const n = std::min<std::size_t>(it.remaining(), NboAttrLog::maxChunk);
  out->appendU32(static_cast<std::uint32_t>(it.string().size()));
  out->appendU32(static_cast<std::uint32_t>(it.position()));
  out->appendU32(static_cast<std::uint32_t>(n));
  out->appendBytes(it.string().data() + it.position(), n);
  it += n;
  return out;
}

Ptr<Connection::Out> const& operator<<(Ptr<Connection::Out> const& out, String8::IteratorConst& it) {
  auto* nbo = dynamic_cast<NboAttrLog::Out*>(out.ptr());
  if (!nbo) throwRangeException("string chunks need an attribute-log writer");
  Ptr<NboAttrLog::Out> hold(nbo);
  hold << it;
  return out;
}

Ptr<Connection::In> const& operator>>(Ptr<Connection::In> const& in, String8::Iterator& it) {
  auto* reader = dynamic_cast<ByteConnection::In*>(in.ptr());
  if (!reader) throwRangeException("string chunks need a byte reader");
  // The iterator takes the chunk only once all of it has been read and
  // found to continue what it holds; a rejected chunk leaves it unchanged.
  std::uint32_t const total = reader->nextU32();
  std::uint32_t const offset = reader->nextU32();
  std::uint32_t const n = reader->nextU32();
  if (n > reader->remaining()) throwRangeException(format("short record reading string chunk of %u bytes", n));
  std::string bytes(n, '\0');
  reader->nextBytes(&bytes[0], n);
  it.append(total, offset, bytes.data(), n);
  return in;
}

}  // namespace Kiv

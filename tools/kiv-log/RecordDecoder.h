#pragma once
// KivLog::RecordDecoder turns a captured attribute-log byte stream (the
// frames that Kiv/NboAttrLog.h describes) into one line of text per record.
// It is the whole of the kiv-log tool but its command line, so that tests
// can drive it directly:
//
//   std::ostringstream listing;
//   KivLog::RecordDecoder decoder(listing);
//   bool clean = decoder.bytesIs(bytes.data(), bytes.size());  // in pieces of any size
//   clean = clean && decoder.end();  // false: failure() and failureOffset() say why
//
// (tests/kiv-log/RecordDecoderTest.cpp runs this example.)
//
// Each line starts with the frame's byte offset in the stream and its
// entity id, then says what the frame is:
//
//   <offset>  entity <id>  record <attr> [<name>] [reassert] [change] [ack <n>]  <payload>
//   <offset>  entity <id>  marker begin|abort|end <attr> [<name>]  ack <n>
//   <offset>  malformed frame: <what was wrong>
//
// Names and payloads come from the types that the process has registered:
// an orphan record (entity 1, attribute 136) tells which type an entity id
// has, and the records of that id after it are read by the type's
// attributes:
// - a scalar attribute as its value (bool, integers, strings);
// - a collection member as `key <key>` then its value; a value type field
//   by field, in the order its type lists them (`name 'tap1'  fileno 7`);
// - a deletion (the negated attribute id) as `key <key>`;
// - a string attribute as one chunk of it: `chunk total <t> offset <o>
//   length <n>` and the chunk's bytes, quoted, cut after a few dozen bytes;
// - a sync-mode record (attribute 135) as its number and name.
// A payload that no type explains (an unknown entity id or attribute, or a
// type this decoder cannot read) is shown as hex; bytes a record leaves
// unread are shown as hex after its values. With `hex`, every frame's bytes
// follow its line, sixteen to a line. With `json`, each record (and a
// malformed frame) is one JSON object on a line instead, the same fields
// named (kiv-log --help lists them), strings whole.
//
// Whatever the Demuxer rejects as a malformed frame ends the decoding: a
// bad length word, a bad kind, reassert flag or transaction type, a missing
// begin or end token, a payload shorter than its values, a malformed orphan
// record, and a stream that ends inside a frame. The decoder then writes the
// malformed line and ignores what follows.
#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/Types.h"

namespace KivLog {

class RecordDecoder {
 public:
  struct Options {
    // Each frame's bytes after its line.
    bool hex = false;
    // One JSON object a line per record instead of the listing (see
    // kiv-log --help): the same fields, named; strings whole.
    bool json = false;
    // String bytes shown before a string is cut.
    std::size_t shownStringBytes = 40;
  };

  explicit RecordDecoder(std::ostream& out) : RecordDecoder(out, Options()) {}
  RecordDecoder(std::ostream& out, Options const& options) : out_(out), options_(options) {}

  // More bytes of the stream: writes a line for every frame they complete.
  // False once a malformed frame has been found (and shown).
  bool bytesIs(void const* data, std::size_t n);
  // The stream has ended: false, with a malformed line, when it ended
  // inside a frame (or a malformed frame was found before).
  bool end();

  bool failed() const noexcept { return failed_; }
  // What was wrong with the malformed frame, and its offset.
  std::string const& failure() const noexcept { return failure_; }
  std::uint64_t failureOffset() const noexcept { return failureOffset_; }
  // Records decoded so far.
  std::uint64_t records() const noexcept { return records_; }

 private:
  // Writes the line of the frame of `length` bytes (after its length word)
  // at offset `at`; false when it is malformed.
  bool decodeFrame(std::uint8_t const* frame, std::uint32_t length, std::uint64_t at);
  void fail(std::string const& what, std::uint8_t const* frame, std::size_t available, std::uint64_t at);
  void hexLines(std::uint8_t const* bytes, std::size_t n);

  std::ostream& out_;
  Options options_;
  std::vector<std::uint8_t> pending_;  // bytes of the frame not yet complete
  std::uint64_t offset_ = 0;           // of pending_'s first byte
  std::uint64_t records_ = 0;
  // The types that orphan records gave entity ids (null: not known here).
  std::map<Kiv::EntityId, Kiv::Ptr<Kiv::KivType>> entities_;
  std::string failure_;
  std::uint64_t failureOffset_ = 0;
  bool failed_ = false;
};

}  // namespace KivLog

// kiv-log: shows a captured attribute-log byte stream one record a line.
// The decoding is KivLog::RecordDecoder's; this is its command line.
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

#include "tools/kiv-log/RecordDecoder.h"

namespace {

char const help[] =
    R"help(usage: kiv-log [--hex] [--json] [FILE | -]

Decodes a captured attribute-log byte stream (the bytes one end of a
connection wrote, as a writer's tap or a stream's recording captures them)
and prints one line per record. Reads FILE, or standard input when FILE is
missing or '-'.

  --hex     after each record's line, its frame's bytes, sixteen to a line
            (with --json, as the field "bytes")
  --json    one JSON object a line per record instead (below)
  --help    this text

Each line is

  OFFSET  entity ID  record ATTR [NAME] [reassert] [change] [ack N]  VALUES
  OFFSET  entity ID  marker begin|abort|end ATTR [NAME]  ack N

OFFSET is the frame's first byte in the stream, ID the entity id the record
comes under, ATTR the attribute id (a deletion of a collection member comes
under the negated id, shown as "NAME deletion"). A record asks the receiver
to apply its value, or with "reassert" to answer with its own; a marker
begins, aborts or ends the resynchronisation of an attribute. "change" marks
a record that carries a change made by its sender (not a value resent), and
"ack N" says how many frames the sender had received when it wrote it.

Names and values come from the types this program knows (the agent model's
Bridging::Orva::Config and Bridging::Orva::Status): an orphan record

  OFFSET  entity 1  record 136 orphan  type 'TYPE'  name 'NAME'  id ID

tells which type the records of entity ID have. Their VALUES are then

  true / false, numbers        a scalar attribute's value
  key K  FIELD V ...           a collection member and its value, field by
                               field (a tap device: name 'tap1'  fileno 7)
  key K                        a deleted member
  chunk total T offset O length N  'BYTES'...  (last)
                               one chunk of a string sent in pieces; its
                               bytes quoted, cut after 40; "(last)" when it
                               completes the string
  N MODE                       a sync-mode record (attribute 135): none,
                               synced or resync

Strings are quoted as the runtime's text form quotes them; a long one is cut
and followed by its length. A payload that no known type explains is shown
as "hex" and its bytes (the first 32); bytes a record leaves unread follow
its values as "unread".

A malformed frame (a bad length word, kind, reassert flag or transaction
type, a missing begin or end token, a payload shorter than its values, a bad
orphan record, or a stream that ends inside a frame) is shown as

  OFFSET  malformed frame: WHAT

and ends the decoding.

With --json, each record is one JSON object on a line, for scripts, with
the fields that a record has of these:

  offset, length        the frame's first byte in the stream, its size
  entity, attribute     the ids (attribute negative for a deletion)
  name                  the attribute's name ("orphan", "syncMode")
  kind                  "record" or "marker"
  reassert, deletion    true or false; deletion only when true
  marker, arg           "begin", "abort" or "end", and its argument
  type, entityName, id, typeKnown
                        an orphan record's type and entity name, the id
                        it gives, and whether this program knows the type
  key, value            a member's key and value (a tap device as
                        {"name": "tap1", "fileno": 7}), a scalar's value
  chunkTotal, chunkOffset, chunkLength, chunk, last
                        a string chunk, its bytes whole
  syncMode, syncModeName
  hex, unread           bytes no type explains, in hex

and a malformed frame is {"offset": N, "malformed": "WHAT"}. Strings hold
one character per byte: printable ASCII as it is, other bytes as \u00XX.

Exit status: 0 when every frame was decoded, 1 when a malformed frame
stopped the decoding, 2 for bad usage or an input that cannot be read.
)help";

int usage(std::string const& what) {
  std::cerr << "kiv-log: " << what << " (kiv-log --help tells how to use it)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  KivLog::RecordDecoder::Options options;
  std::string path;
  bool havePath = false;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    std::string const arg = argv[i];
    if (!optionsEnd && arg == "--help") {
      std::cout << help;
      return 0;
    }
    if (!optionsEnd && arg == "--hex") {
      options.hex = true;
    } else if (!optionsEnd && arg == "--json") {
      options.json = true;
    } else if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option '" + arg + "'");
    } else if (havePath) {
      return usage("one file at most, but '" + arg + "' follows '" + path + "'");
    } else {
      path = arg;
      havePath = true;
    }
  }
  bool const standardInput = !havePath || path == "-";
  std::string const source = standardInput ? std::string("standard input") : path;
  std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (!file) {
    std::cerr << "kiv-log: cannot open " << path << ": " << std::strerror(errno) << "\n";
    return 2;
  }

  KivLog::RecordDecoder decoder(std::cout, options);
  static unsigned char block[64 << 10];
  bool clean = true;
  std::uint64_t total = 0;
  for (;;) {
    std::size_t const n = std::fread(block, 1, sizeof block, file);
    total += n;
    if (n > 0 && !decoder.bytesIs(block, n)) {
      clean = false;
      break;
    }
    if (n < sizeof block) break;
  }
  // The reason, say "Is a directory", before closing can change errno.
  int const readError = std::ferror(file) ? errno : 0;
  if (!standardInput) std::fclose(file);
  if (readError) {
    std::cerr << "kiv-log: cannot read " << source << ": " << std::strerror(readError) << "\n";
    return 2;
  }
  // A capture with nothing in it proves nothing: say so instead of passing.
  if (total == 0) {
    std::cerr << "kiv-log: " << source << " is empty: no records to decode\n";
    return 1;
  }
  if (clean) clean = decoder.end();
  std::cout.flush();
  if (!clean) {
    std::cerr << "kiv-log: " << source << ": malformed frame at offset " << decoder.failureOffset() << ": "
              << decoder.failure() << "\n";
    return 1;
  }
  return 0;
}

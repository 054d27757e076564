#include "tools/kiv-log/RecordDecoder.h"

#include <cstdio>
#include <cstring>

#include "Kiv/ByteConnection.h"
#include "Kiv/Exception.h"
#include "Kiv/GenericIf.h"
#include "Kiv/KivAttr.h"
#include "Kiv/NboAttrLog.h"
#include "Kiv/StreamAdapter.h"
#include "Kiv/Strep.h"

namespace KivLog {

namespace {

using Kiv::AttributeId;
using Kiv::KivType;
using Reader = Kiv::Ptr<Kiv::ByteConnection::In>;

// Payload bytes of a record that no type explains, shown before they are cut.
constexpr std::size_t shownHexBytes = 32;

std::string hexOf(std::uint8_t const* bytes, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02x" : "%02x", bytes[i]);
    s += b;
  }
  return s;
}

std::uint32_t bigEndian32(std::uint8_t const* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// `bytes` as a JSON string, each byte one character: printable ASCII as it
// is, every other byte as \u00XX.
std::string jsonString(char const* bytes, std::size_t n) {
  std::string s = "\"";
  char b[8];
  for (std::size_t i = 0; i < n; ++i) {
    auto const c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      s += static_cast<char>(c);
    } else {
      std::snprintf(b, sizeof b, "\\u%04x", c);
      s += b;
    }
  }
  return s + "\"";
}
std::string jsonString(std::string const& s) { return jsonString(s.data(), s.size()); }

// One decoded value, as the listing shows it and as JSON.
struct Value {
  std::string text;
  std::string json;
};

// One record's line and JSON object, built side by side.
class Line {
 public:
  void text(std::string const& s) { text_ += s; }
  void json(char const* key, std::string const& value) {
    json_ += (json_.empty() ? "" : ", ") + jsonString(key, std::strlen(key)) + ": " + value;
  }
  // A value shown as "label value" in the line and as `key` in JSON.
  void both(char const* label, char const* key, Value const& v) {
    text_ += std::string(label) + v.text;
    json(key, v.json);
  }
  std::string const& text() const noexcept { return text_; }
  std::string object() const { return "{" + json_ + "}"; }

 private:
  std::string text_;
  std::string json_;
};

template <class T>
bool isBuiltin(KivType const& type) {
  return &type == Kiv::Builtin<T>::_fwkType().ptr();
}

// The readable part of a record's payload, as text and as JSON.
class Payload {
 public:
  Payload(Reader const& in, std::size_t shownStringBytes) : in_(in), shown_(shownStringBytes) {}

  // Whether values of `type` can be read: the built-in scalars, and value
  // types made of them.
  static bool readable(KivType const& type) {
    if (isBuiltin<bool>(type) || isBuiltin<unsigned short>(type) || isBuiltin<unsigned int>(type) ||
        isBuiltin<unsigned long long>(type) || isBuiltin<int>(type) || isBuiltin<Kiv::String8>(type)) {
      return true;
    }
    if (!type.isValue() || !type.attrTable()) return false;
    for (auto const& field : type.attrTable()->members()) {
      if (!field->isFunction() && (!field->type() || !readable(*field->type()))) return false;
    }
    return true;
  }

  // One value of a readable type; a value type field by field.
  Value value(KivType const& type) {
    if (isBuiltin<bool>(type)) return number(in_->nextbool() ? "true" : "false");
    if (isBuiltin<unsigned short>(type)) return number(std::to_string(in_->nextU16()));
    if (isBuiltin<unsigned int>(type)) return number(std::to_string(in_->nextU32()));
    if (isBuiltin<unsigned long long>(type)) return number(std::to_string(in_->nextU64()));
    if (isBuiltin<int>(type)) return number(std::to_string(in_->nextI32()));
    if (isBuiltin<Kiv::String8>(type)) return string();
    Value v{"", "{"};
    for (auto const& field : type.attrTable()->members()) {
      if (field->isFunction()) continue;
      std::string const name = field->name().stdString();
      Value const f = value(*field->type());
      v.text += (v.text.empty() ? "" : "  ") + name + " " + f.text;
      v.json += (v.json.size() == 1 ? "" : ", ") + jsonString(name.data(), name.size()) + ": " + f.json;
    }
    v.json += "}";
    return v;
  }

  Value string() {
    Kiv::String8 const s = in_->nextString();
    return {quoted(s.data(), s.size(), s.size()), jsonString(s.data(), s.size())};
  }

  // One chunk of a string written in chunks, added to `line`.
  void chunk(Line& line) {
    if (in_->remaining() == 0) {
      line.text("no payload");
      return;
    }
    std::uint32_t const total = in_->nextU32();
    std::uint32_t const offset = in_->nextU32();
    std::uint32_t const n = in_->nextU32();
    if (n > in_->remaining()) Kiv::throwRangeException(Kiv::format("short record reading string chunk of %u bytes", n));
    std::string bytes(n, '\0');
    in_->nextBytes(&bytes[0], n);
    bool const last = std::uint64_t{offset} + n == total;
    line.text("chunk total " + std::to_string(total) + " offset " + std::to_string(offset) + " length " +
              std::to_string(n) + "  " + quoted(bytes.data(), n, 0) + (last ? "  (last)" : ""));
    line.json("chunkTotal", std::to_string(total));
    line.json("chunkOffset", std::to_string(offset));
    line.json("chunkLength", std::to_string(n));
    line.json("chunk", jsonString(bytes.data(), n));
    line.json("last", last ? "true" : "false");
  }

  // What is left, in hex; the text cut after a few dozen bytes.
  Value rest() {
    std::size_t const n = in_->remaining();
    std::vector<std::uint8_t> bytes(n);
    if (n) in_->nextBytes(bytes.data(), n);
    std::string s = hexOf(bytes.data(), n < shownHexBytes ? n : shownHexBytes);
    if (n > shownHexBytes) s += " ... (" + std::to_string(n) + " bytes)";
    return {s, "\"" + hexOf(bytes.data(), n) + "\""};
  }

  std::size_t remaining() const { return in_->remaining(); }

 private:
  static Value number(std::string const& n) { return {n, n}; }

  // `bytes` quoted, cut after the bytes shown; a cut string is followed by
  // its length when `size` is not 0.
  std::string quoted(char const* bytes, std::size_t n, std::size_t size) const {
    if (n <= shown_) return Kiv::valueToStrep(Kiv::String8(bytes, n)).stdString();
    std::string s = Kiv::valueToStrep(Kiv::String8(bytes, shown_)).stdString() + "...";
    if (size) s += " (" + std::to_string(size) + " bytes)";
    return s;
  }

  Reader in_;
  std::size_t shown_;
};

char const* transactionName(std::uint8_t type) {
  switch (type) {
    case Kiv::StreamAdapter::transactionBegin:
      return "begin";
    case Kiv::StreamAdapter::transactionAbort:
      return "abort";
    case Kiv::StreamAdapter::transactionEnd:
      return "end";
    default:
      return nullptr;
  }
}

char const* syncModeName(Kiv::StreamAdapter::SyncMode mode) {
  switch (mode) {
    case Kiv::StreamAdapter::syncModeNone:
      return "none";
    case Kiv::StreamAdapter::syncModeSynced:
      return "synced";
    default:
      return "resync";
  }
}

// The first column of a line: the frame's offset in the stream.
std::string offsetColumn(std::uint64_t at) {
  char s[32];
  std::snprintf(s, sizeof s, "%8llu  ", static_cast<unsigned long long>(at));
  return s;
}

// An attribute id as the log shows it: deletions travel under the negated id.
std::string attrText(AttributeId a) { return std::to_string(static_cast<std::int32_t>(a)); }

}  // namespace

bool RecordDecoder::bytesIs(void const* data, std::size_t n) {
  if (failed_) return false;
  auto const* bytes = static_cast<std::uint8_t const*>(data);
  pending_.insert(pending_.end(), bytes, bytes + n);
  std::size_t at = 0;
  while (!failed_ && pending_.size() - at >= 4) {
    std::uint32_t const length = bigEndian32(&pending_[at]);
    std::size_t const available = pending_.size() - at;
    if (length < Kiv::NboAttrLog::headerSize + 2 || length > Kiv::NboAttrLog::maxFrame) {
      fail("bad frame length " + std::to_string(length), &pending_[at], available, offset_ + at);
      return false;
    }
    if (available - 4 < length) break;
    if (!decodeFrame(&pending_[at], length, offset_ + at)) return false;
    at += 4 + std::size_t{length};
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  offset_ += at;
  return true;
}

bool RecordDecoder::end() {
  if (failed_) return false;
  if (pending_.empty()) return true;
  fail("truncated frame: the stream ended " + std::to_string(pending_.size()) +
           (pending_.size() == 1 ? " byte into it" : " bytes into it"), pending_.data(),
       pending_.size(), offset_);
  return false;
}

bool RecordDecoder::decodeFrame(std::uint8_t const* frame, std::uint32_t length, std::uint64_t at) {
  Reader in = Kiv::make<Kiv::ByteConnection::In>(frame + 4, length);
  Line line;
  line.json("offset", std::to_string(at));
  line.json("length", std::to_string(4 + std::uint64_t{length}));
  std::string context;
  try {
    Kiv::EntityId const entityId = in->nextU64();
    AttributeId const a = in->nextU32();
    std::uint8_t const kind = in->nextU8();
    std::uint8_t const type = in->nextU8();
    std::uint32_t const ack = in->nextU32();
    std::uint8_t const reassert = in->nextU8();
    if (kind > 1) Kiv::throwRangeException(Kiv::format("bad record kind %u", kind));
    if (reassert > 1) Kiv::throwRangeException(Kiv::format("bad reassert flag %u", reassert));
    bool const change = kind == 1 && (type & Kiv::NboAttrLog::MsgHeader::changeFlag);
    if (kind == 1 && (type & ~Kiv::NboAttrLog::MsgHeader::changeFlag)) {
      Kiv::throwRangeException(Kiv::format("bad record flags %u", type));
    }
    if (in->nextU8() != Kiv::Connection::Out::transactBegin) Kiv::throwRangeException("missing begin token");
    std::uint32_t const payloadLength = length - static_cast<std::uint32_t>(Kiv::NboAttrLog::headerSize) - 2;
    if (frame[4 + length - 1] != Kiv::Connection::Out::transactEnd) Kiv::throwRangeException("missing end token");
    Kiv::ConnectionInSizeAnchor body(Kiv::Ptr<Kiv::Connection::In>(in.ptr()), payloadLength);
    Payload payload(in, options_.shownStringBytes);
    bool const orphan = entityId == Kiv::NboAttrLog::orphanEntityId;
    if (orphan && (kind != 1 || a != Kiv::NboAttrLog::orphanAttrId)) {
      Kiv::throwRangeException(Kiv::format("record for reserved entity id 1, attribute %u", a));
    }

    // The entity's type, when an orphan record has told it.
    auto const known = entities_.find(entityId);
    Kiv::Ptr<KivType> const entityType = known != entities_.end() ? known->second : nullptr;
    Kiv::Ptr<Kiv::KivAttr> attr = entityType ? entityType->attr(a) : nullptr;
    // A deletion of a collection member travels under the negated id.
    Kiv::Ptr<Kiv::KivAttr> deleted;
    if (!attr && entityType) {
      deleted = entityType->attr(static_cast<AttributeId>(0u - a));
      if (deleted && !deleted->isCollection()) deleted = nullptr;
    }
    std::string name = orphan                                 ? "orphan"
                       : a == Kiv::NboAttrLog::syncModeAttrId ? "syncMode"
                       : attr                                 ? attr->name().stdString()
                       : deleted                              ? deleted->name().stdString()
                                                              : "";
    std::string const shownName = deleted ? name + " deletion" : name;

    line.text("entity " + std::to_string(entityId) + "  ");
    line.json("entity", std::to_string(entityId));
    line.json("kind", kind == 0 ? "\"marker\"" : "\"record\"");
    line.json("attribute", attrText(a));
    if (!name.empty()) line.json("name", jsonString(name));
    if (kind == 0) {
      char const* typeName = transactionName(type);
      if (!typeName) Kiv::throwRangeException(Kiv::format("bad transaction type %u", type));
      line.text(std::string("marker ") + typeName + " " + attrText(a) + (name.empty() ? "" : " ") + shownName +
                "  ack " + std::to_string(ack));
      line.json("marker", jsonString(typeName, std::strlen(typeName)));
      line.json("ack", std::to_string(ack));
    } else {
      // A change of the sender, and how many frames it had received, when
      // it had received any.
      line.text("record " + attrText(a) + (name.empty() ? "" : " ") + shownName + (reassert ? " reassert" : "") +
                (change ? " change" : "") + (ack != 0 ? " ack " + std::to_string(ack) : std::string()));
      line.json("reassert", reassert ? "true" : "false");
      line.json("change", change ? "true" : "false");
      line.json("ack", std::to_string(ack));
      if (deleted) line.json("deletion", "true");
    }
    context = line.text();
    if (kind == 1) {
      line.text("  ");
      if (orphan) {
        // Payload sections 1, 3 and 4: the type's name, the entity's name
        // and the id the entity's records come under.
        auto section = [&](std::uint8_t expected) {
          std::uint8_t const s = in->nextU8();
          if (s != expected) {
            Kiv::throwRangeException(Kiv::format("orphan record: payload section %u where %u belongs", s, expected));
          }
        };
        section(1);
        Kiv::String8 const typeName = in->nextString();
        section(3);
        Kiv::String8 const entityName = in->nextString();
        section(4);
        Kiv::EntityId const id = in->nextU64();
        if (!(id & 1u) || id == Kiv::NboAttrLog::orphanEntityId) {
          Kiv::throwRangeException(Kiv::format("orphan record: entity id %llu is not an odd id above 1",
                                               static_cast<unsigned long long>(id)));
        }
        Kiv::Ptr<KivType> type = KivType::typeNode(typeName);
        if (type && !type->isEntity()) type = nullptr;
        entities_[id] = type;
        line.text("type " + Kiv::valueToStrep(typeName).stdString() + "  name " +
                  Kiv::valueToStrep(entityName).stdString() + "  id " + std::to_string(id) +
                  (type ? "" : "  (type not known here)"));
        line.json("type", jsonString(typeName.data(), typeName.size()));
        line.json("entityName", jsonString(entityName.data(), entityName.size()));
        line.json("id", std::to_string(id));
        line.json("typeKnown", type ? "true" : "false");
      } else if (a == Kiv::NboAttrLog::syncModeAttrId) {
        std::uint32_t const mode = in->nextU32();
        char const* modeName = syncModeName(Kiv::StreamAdapter::SyncModeInstance(mode));
        line.text(std::to_string(mode) + " " + modeName);
        line.json("syncMode", std::to_string(mode));
        line.json("syncModeName", jsonString(modeName, std::strlen(modeName)));
      } else if (attr && attr->isCollection() && attr->keyType() && Payload::readable(*attr->keyType()) &&
                 attr->type() && Payload::readable(*attr->type())) {
        line.both("key ", "key", payload.value(*attr->keyType()));
        line.both("  ", "value", payload.value(*attr->type()));
      } else if (deleted && deleted->keyType() && Payload::readable(*deleted->keyType())) {
        line.both("key ", "key", payload.value(*deleted->keyType()));
      } else if (attr && !attr->isCollection() && attr->type() && isBuiltin<Kiv::String8>(*attr->type())) {
        payload.chunk(line);
      } else if (attr && !attr->isCollection() && attr->type() && Payload::readable(*attr->type())) {
        line.both("", "value", payload.value(*attr->type()));
      } else {
        line.both("hex ", "hex", payload.rest());
      }
    }
    if (payload.remaining()) line.both("  unread ", "unread", payload.rest());
  } catch (Kiv::Exception const& e) {
    fail((context.empty() ? "" : context + ": ") + e.message().stdString(), frame, 4 + std::size_t{length}, at);
    return false;
  }
  ++records_;
  if (options_.json) {
    if (options_.hex) line.json("bytes", "\"" + hexOf(frame, 4 + std::size_t{length}) + "\"");
    out_ << line.object() << '\n';
    return true;
  }
  out_ << offsetColumn(at) << line.text() << '\n';
  if (options_.hex) hexLines(frame, 4 + std::size_t{length});
  return true;
}

void RecordDecoder::fail(std::string const& what, std::uint8_t const* frame, std::size_t available, std::uint64_t at) {
  failed_ = true;
  failure_ = what;
  failureOffset_ = at;
  std::size_t const shown = available < 256 ? available : 256;
  if (options_.json) {
    Line line;
    line.json("offset", std::to_string(at));
    line.json("malformed", jsonString(what));
    if (options_.hex) line.json("bytes", "\"" + hexOf(frame, shown) + "\"");
    out_ << line.object() << '\n';
    return;
  }
  out_ << offsetColumn(at) << "malformed frame: " << what << '\n';
  // The bytes of the frame as far as they go, a few lines at most.
  if (options_.hex) hexLines(frame, shown);
}

void RecordDecoder::hexLines(std::uint8_t const* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; i += 16) {
    out_ << "          " << hexOf(bytes + i, n - i < 16 ? n - i : 16) << '\n';
  }
}

}  // namespace KivLog

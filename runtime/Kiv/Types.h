#pragma once
#include <cstdint>

namespace Kiv {

// The number of an attribute within its type. Deletions of collection
// members travel under the negated id, so arithmetic on ids wraps modulo
// 2^32; the two highest values stand for "all attributes".
using AttributeId = std::uint32_t;

// The id under which an attribute-log connection knows an entity.
using EntityId = std::uint64_t;

// Attribute ids shared by every entity type.
namespace Attr {
constexpr AttributeId name = 1;
constexpr AttributeId parent = 2;
constexpr AttributeId zeroReferences = 5;
constexpr AttributeId isNondestructing = 6;
// A function attribute: whether the entity has an attribute-log side.
constexpr AttributeId kivHasAttrLogInterface = 154;
constexpr AttributeId allAttributes = 0xFFFFFFFFu;
constexpr AttributeId allAttributesReset = 0xFFFFFFFEu;
}  // namespace Attr

}  // namespace Kiv

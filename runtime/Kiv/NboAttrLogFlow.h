#pragma once
// Keeping and taking back the resumable state of flow-outs and flow-ins
// (StreamAdapter.h): the key at which a collection resync stopped, the
// position at which a string write stopped, and a string arriving in
// chunks. Each holds at most one of each; storing a second is a
// programming error and fails the assertion named below.
//
//   kivFlowOutBookmarkEnq<Kiv::String8>(flowOut, key);          // stopped here
//   Kiv::String8 key = kivFlowOutBookmarkDeq<Kiv::String8>(flowOut);  // resume
#include <memory>

#include "Kiv/Exception.h"
#include "Kiv/StreamAdapter.h"

namespace Kiv {

// The bookmark's key, taken out of the flow-out; an empty key when it has
// none.
template <class K>
K kivFlowOutBookmarkDeq(Ptr<NboAttrLog::FlowOut> const& flowOut) {
  NboAttrLog::FlowOut* rsc = flowOut.ptr();
  if (!rsc->bookmark()) return K();
  K key = *rsc->bookmark();
  rsc->bookmarkIs(nullptr);
  return key;
}

// Keeps a copy of `key` as the flow-out's bookmark.
template <class K>
void kivFlowOutBookmarkEnq(Ptr<NboAttrLog::FlowOut> const& flowOut, K const& key) {
  NboAttrLog::FlowOut* rsc = flowOut.ptr();
  if (!(!rsc->bookmark())) assertionFailed("!rsc->bookmark()", "Kiv/NboAttrLogFlow");
  rsc->bookmarkIs(std::make_unique<K>(key));
}

// Keeps a copy of `it` (string and position) in the flow-out.
template <class It>
void kivFlowOutValueEnq(Ptr<NboAttrLog::FlowOut> const& flowOut, It const& it) {
  NboAttrLog::FlowOut* rsc = flowOut.ptr();
  if (!(!rsc->valueIter())) assertionFailed("!rsc->valueIter()", "Kiv/NboAttrLogFlow");
  rsc->valueIterIs(std::make_unique<It>(it));
}

// The saved iterator, taken out of the flow-out; one at position 0 of an
// empty string when it has none.
template <class It>
It kivFlowOutValueDeq(Ptr<NboAttrLog::FlowOut> const& flowOut) {
  NboAttrLog::FlowOut* rsc = flowOut.ptr();
  if (!rsc->valueIter()) return It();
  It it = *rsc->valueIter();
  rsc->valueIterIs(nullptr);
  return it;
}

// The flow-in's iterator. Without one: null when `noCreate`, else a new
// empty one, stored in the flow-in for attribute `a`.
template <class It>
It* kivFlowInIterator(Ptr<NboAttrLog::FlowIn> const& flowIn, AttributeId a, bool noCreate) {
  NboAttrLog::FlowIn* rrc = flowIn.ptr();
  if (rrc->iter() || noCreate) return rrc->iter();
  if (!(!rrc->iter())) assertionFailed("!rrc->iter()", "Kiv/NboAttrLogFlow");
  rrc->aidIs(a);
  rrc->iterIs(std::make_unique<It>());
  return rrc->iter();
}

// Stores a copy of `it` in the flow-in, for attribute `a`.
template <class It>
void kivFlowInIteratorIs(Ptr<NboAttrLog::FlowIn> const& flowIn, AttributeId a, It const& it) {
  NboAttrLog::FlowIn* rrc = flowIn.ptr();
  auto copy = std::make_unique<It>(it);
  if (!(!rrc->iter())) assertionFailed("!rrc->iter()", "Kiv/NboAttrLogFlow");
  rrc->aidIs(a);
  rrc->iterIs(std::move(copy));
}

// Frees the flow-in's iterator, if it holds one.
inline void kivFlowInIteratorDel(Ptr<NboAttrLog::FlowIn> const& flowIn) {
  if (!flowIn->iter()) return;
  flowIn->iterIs(nullptr);
  flowIn->aidIs(0);
}

}  // namespace Kiv

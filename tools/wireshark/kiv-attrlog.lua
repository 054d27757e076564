-- Wireshark dissector for attribute-log connections over TCP: the framed
-- records through which two processes replicate entities (the frame layout
-- is the one runtime/Kiv/NboAttrLog.h describes byte by byte).
--
--   tshark -X lua_script:kiv-attrlog.lua -r capture.pcap -V
--   wireshark -X lua_script:kiv-attrlog.lua capture.pcap
--
-- or installed as a plugin. Connections on the port preference (default
-- 29710, bridge-sim's TCP port) are decoded; others through "Decode As"
-- (kivattrlog on tcp.port). Frames are reassembled across TCP segments.
-- Attribute names and payloads come from the type table the build writes
-- in below with `kiv-types --lua` (an orphan record tells which type an
-- entity id has, for both directions of its connection); what no type
-- explains is shown as bytes. A frame that the runtime's reader would
-- reject is marked malformed (expert info and kivattrlog.malformed, the
-- reason in the runtime's words), and nothing after it on that direction
-- is decoded: the reader closes the connection there.

local registry = --[[@REGISTRY@]] {}

local default_port = 29710
local max_frame = 16 * 1024 * 1024
local orphan_entity_id = 1
local orphan_attr_id = 136
local sync_mode_attr_id = 135
local token_begin, token_end = 1, 3
-- The one flag an attribute record carries in the marker-type byte.
local change_flag = 1

local kivlog = Proto("kivattrlog", "Kiv attribute log")

local kinds = { [0] = "transaction marker", [1] = "attribute record" }
local marker_types = { [0] = "begin", [1] = "abort", [2] = "end" }
local sync_modes = { [0] = "none", [1] = "synced", [2] = "resync" }

local f = {
  length = ProtoField.uint32("kivattrlog.length", "Frame length"),
  entity = ProtoField.uint64("kivattrlog.entity", "Entity id"),
  attr = ProtoField.int32("kivattrlog.attr", "Attribute id"),
  attr_name = ProtoField.string("kivattrlog.attr_name", "Attribute"),
  deletion = ProtoField.bool("kivattrlog.deletion", "Deletion of a member"),
  kind = ProtoField.uint8("kivattrlog.kind", "Record kind", base.DEC, kinds),
  marker = ProtoField.uint8("kivattrlog.marker", "Transaction marker", base.DEC, marker_types),
  ack = ProtoField.uint32("kivattrlog.ack", "Frames the sender had received"),
  change = ProtoField.bool("kivattrlog.change", "A change of the sender (not a value resent)"),
  reassert = ProtoField.uint8("kivattrlog.reassert", "Reassert", base.DEC, { [0] = "no", [1] = "yes" }),
  token = ProtoField.uint8("kivattrlog.token", "Token"),
  section = ProtoField.uint8("kivattrlog.section", "Payload section"),
  orphan_type = ProtoField.string("kivattrlog.orphan.type", "Orphan type"),
  orphan_name = ProtoField.string("kivattrlog.orphan.name", "Orphan entity name"),
  orphan_id = ProtoField.uint64("kivattrlog.orphan.id", "Orphan entity id"),
  sync_mode = ProtoField.uint32("kivattrlog.sync_mode", "Sync mode", base.DEC, sync_modes),
  key = ProtoField.string("kivattrlog.key", "Key"),
  value = ProtoField.string("kivattrlog.value", "Value"),
  chunk_total = ProtoField.uint32("kivattrlog.chunk.total", "String total length"),
  chunk_offset = ProtoField.uint32("kivattrlog.chunk.offset", "Chunk offset"),
  chunk_length = ProtoField.uint32("kivattrlog.chunk.length", "Chunk length"),
  chunk_data = ProtoField.string("kivattrlog.chunk.data", "Chunk"),
  payload = ProtoField.bytes("kivattrlog.payload", "Payload no known type explains"),
  unread = ProtoField.bytes("kivattrlog.unread", "Payload bytes left unread"),
  malformed = ProtoField.string("kivattrlog.malformed", "Malformed frame"),
  not_decoded = ProtoField.bytes("kivattrlog.not_decoded", "After a malformed frame"),
}

-- Built-in scalar types: their size on the wire (strings: a u32 length and
-- the bytes) and how a field of that type shows.
local scalars = {
  ["bool"] = { size = 1, field = ProtoField.bool },
  ["unsigned short"] = { size = 2, field = ProtoField.uint16 },
  ["unsigned int"] = { size = 4, field = ProtoField.uint32 },
  ["unsigned long long"] = { size = 8, field = ProtoField.uint64 },
  ["int"] = { size = 4, field = ProtoField.int32 },
  ["Kiv::String"] = { field = ProtoField.string },
}

-- A field per field of each value type: kivattrlog.tapdevice.name, ...
local value_fields = {}
for type_name, t in pairs(registry) do
  if t.kind == "value" then
    local short = type_name:match("([^:]+)$"):lower()
    value_fields[type_name] = {}
    for _, a in ipairs(t.attributes) do
      local s = scalars[a.type]
      if s and not a.func then
        local pf = s.field("kivattrlog." .. short .. "." .. a.name, a.name)
        value_fields[type_name][a.name] = pf
        f[short .. "." .. a.name] = pf
      end
    end
  end
end

local fields = {}
for _, pf in pairs(f) do fields[#fields + 1] = pf end
kivlog.fields = fields

local ef_malformed = ProtoExpert.new("kivattrlog.malformed.expert", "Malformed attribute-log frame",
  expert.group.MALFORMED, expert.severity.ERROR)
kivlog.experts = { ef_malformed }

kivlog.prefs.port = Pref.uint("TCP port", default_port, "TCP port of attribute-log connections")

-- Per connection (both directions): the type of each entity id that an
-- orphan record named. Per direction: the packet a malformed frame ended.
local connections = {}
local broken = {}

local function endpoint(address, port) return tostring(address) .. ":" .. tostring(port) end

local function connection_key(pinfo)
  local a, b = endpoint(pinfo.src, pinfo.src_port), endpoint(pinfo.dst, pinfo.dst_port)
  if a > b then a, b = b, a end
  return a .. " " .. b
end

local function direction_key(pinfo)
  return endpoint(pinfo.src, pinfo.src_port) .. " > " .. endpoint(pinfo.dst, pinfo.dst_port)
end

local function attribute(type_name, id)
  local t = type_name and registry[type_name]
  if not t then return nil end
  for _, a in ipairs(t.attributes) do
    if a.id == id then return a end
  end
  return nil
end

local function readable(type_name)
  if scalars[type_name] then return true end
  local t = registry[type_name]
  if not t or t.kind ~= "value" then return false end
  for _, a in ipairs(t.attributes) do
    if not a.func and not readable(a.type) then return false end
  end
  return true
end

-- Raised inside a frame's decoding: the reason it is malformed.
local Malformed = {}
local function malformed(reason) error(setmetatable({ reason = reason }, Malformed), 0) end

-- A reader over one frame's payload: every read that would go past the
-- payload's end is the "short record" the runtime's reader rejects.
local function reader(tvb, from, to)
  local r = { tvb = tvb, pos = from }
  function r.take(n, what)
    if r.pos + n > to then malformed("short record reading " .. what) end
    local range = tvb(r.pos, n)
    r.pos = r.pos + n
    return range
  end
  function r.remaining() return to - r.pos end
  return r
end

-- Reads one value of a readable type and adds it under `tree` as `pf`; a
-- value type gets a subtree with a field per field. Returns its text as
-- kiv-log shows it.
local function read_value(r, tree, type_name, pf)
  local start = r.pos
  local s = scalars[type_name]
  if s and s.size then
    local range = r.take(s.size, type_name)
    local text
    if type_name == "bool" then
      if range:uint() > 1 then malformed("bad bool byte " .. range:uint()) end
      text = range:uint() == 1 and "true" or "false"
    elseif type_name == "unsigned long long" then
      text = tostring(range:uint64())
    elseif type_name == "int" then
      text = tostring(range:int())
    else
      text = tostring(range:uint())
    end
    if pf == f.key or pf == f.value then tree:add(pf, range, text) else tree:add(pf, range) end
    return text
  end
  if type_name == "Kiv::String" then
    local n = r.take(4, "string length"):uint()
    local text = n > 0 and r.take(n, "string of " .. n .. " bytes"):string() or ""
    tree:add(pf, r.tvb(start, 4 + n), text)
    return "'" .. text .. "'"
  end
  -- A value type, field by field in the order its values are written.
  local sub = tree:add(r.tvb(start, 0), "")
  local parts = {}
  for _, a in ipairs(registry[type_name].attributes) do
    if not a.func then
      parts[#parts + 1] = a.name .. " " .. read_value(r, sub, a.type, value_fields[type_name][a.name] or f.value)
    end
  end
  local text = table.concat(parts, "  ")
  sub:set_len(r.pos - start)
  sub:set_text((pf == f.key and "Key: " or "Value: ") .. text)
  -- The field's own value, for filters and JSON.
  sub:add(pf, r.tvb(start, r.pos - start), text):set_generated()
  return text
end

-- The header after the length word, in its own function so that a header
-- field added later changes only this and header_size: the fields in
-- order, and where the payload's begin token is.
local header_size = 19
local function read_header(tvb, tree)
  local h = {}
  h.entity = tvb(4, 8):uint64()
  h.attr = tvb(12, 4):int()
  h.kind = tvb(16, 1):uint()
  h.marker = tvb(17, 1):uint()
  h.flags = tvb(17, 1):uint()
  h.ack = tvb(18, 4):uint()
  h.reassert = tvb(22, 1):uint()
  tree:add(f.length, tvb(0, 4))
  tree:add(f.entity, tvb(4, 8))
  tree:add(f.attr, tvb(12, 4))
  tree:add(f.kind, tvb(16, 1))
  if h.kind == 0 then
    tree:add(f.marker, tvb(17, 1))
  elseif h.flags <= change_flag then
    tree:add(f.change, tvb(17, 1), h.flags == change_flag)
  end
  tree:add(f.ack, tvb(18, 4))
  tree:add(f.reassert, tvb(22, 1))
  h.payload = 4 + header_size
  return h
end

local function decode_frame(tvb, tree, entities)
  local length = tvb(0, 4):uint()
  local ft = tree:add(kivlog, tvb(), "Attribute-log frame")
  local h = read_header(tvb, ft)
  local summary = "entity " .. tostring(h.entity)
  local ok, err = pcall(function()
    if h.kind > 1 then malformed("bad record kind " .. h.kind) end
    if h.reassert > 1 then malformed("bad reassert flag " .. h.reassert) end
    if h.kind == 1 and h.flags > change_flag then malformed("bad record flags " .. h.flags) end
    if tvb(h.payload, 1):uint() ~= token_begin then malformed("missing begin token") end
    ft:add(f.token, tvb(h.payload, 1)):append_text(" (begin)")
    local last = 4 + length - 1
    if tvb(last, 1):uint() ~= token_end then malformed("missing end token") end
    local orphan = h.entity == UInt64(orphan_entity_id)
    if orphan and (h.kind ~= 1 or h.attr ~= orphan_attr_id) then
      malformed("record for reserved entity id 1, attribute " .. (h.attr % 4294967296))
    end
    local type_name = entities[tostring(h.entity)]
    local a = attribute(type_name, h.attr)
    local deleted = not a and attribute(type_name, -h.attr) or nil
    if deleted and not deleted.key then deleted = nil end
    local name = orphan and "orphan" or h.attr == sync_mode_attr_id and "syncMode"
      or a and a.name or deleted and deleted.name or nil
    if name then ft:add(f.attr_name, tvb(12, 4), name) end
    if deleted then ft:add(f.deletion, tvb(12, 4), true) end
    local shown = tostring(h.attr) .. (name and " " .. name or "") .. (deleted and " deletion" or "")
    if h.kind == 0 then
      local t = marker_types[h.marker]
      if not t then malformed("bad transaction type " .. h.marker) end
      summary = summary .. " marker " .. t .. " " .. shown
    else
      summary = summary .. " record " .. shown
    end
    local r = reader(tvb, h.payload + 1, last)
    local pt = ft
    if h.kind == 1 and orphan then
      local function section(expected)
        local range = r.take(1, "payload section")
        pt:add(f.section, range)
        if range:uint() ~= expected then
          malformed("orphan record: payload section " .. range:uint() .. " where " .. expected .. " belongs")
        end
      end
      section(1)
      local n = r.take(4, "string length"):uint()
      local tn = n > 0 and r.take(n, "string of " .. n .. " bytes"):string() or ""
      pt:add(f.orphan_type, tvb(r.pos - n - 4, n + 4), tn)
      section(3)
      n = r.take(4, "string length"):uint()
      local en = n > 0 and r.take(n, "string of " .. n .. " bytes"):string() or ""
      pt:add(f.orphan_name, tvb(r.pos - n - 4, n + 4), en)
      section(4)
      local idr = r.take(8, "entity id")
      local id = idr:uint64()
      if id % 2 == UInt64(0) or id == UInt64(orphan_entity_id) then
        malformed("orphan record: entity id " .. tostring(id) .. " is not an odd id above 1")
      end
      pt:add(f.orphan_id, idr)
      local known = registry[tn] and registry[tn].kind == "entity"
      entities[tostring(id)] = known and tn or nil
      summary = summary .. " type '" .. tn .. "' name '" .. en .. "' id " .. tostring(id)
    elseif h.kind == 1 and h.attr == sync_mode_attr_id then
      local range = r.take(4, "sync mode")
      pt:add(f.sync_mode, range)
      summary = summary .. " " .. (sync_modes[range:uint()] or "resync")
    elseif h.kind == 1 and a and a.key and readable(a.key) and readable(a.type) then
      summary = summary .. " key " .. read_value(r, pt, a.key, f.key)
      summary = summary .. " " .. read_value(r, pt, a.type, f.value)
    elseif h.kind == 1 and deleted and readable(deleted.key) then
      summary = summary .. " key " .. read_value(r, pt, deleted.key, f.key)
    elseif h.kind == 1 and a and not a.key and a.type == "Kiv::String" then
      if r.remaining() > 0 then
        local total = r.take(4, "string chunk"):uint()
        local offset = r.take(4, "string chunk"):uint()
        local nr = r.take(4, "string chunk")
        local n = nr:uint()
        if n > r.remaining() then malformed("short record reading string chunk of " .. n .. " bytes") end
        pt:add(f.chunk_total, tvb(nr:offset() - 8, 4))
        pt:add(f.chunk_offset, tvb(nr:offset() - 4, 4))
        pt:add(f.chunk_length, nr)
        if n > 0 then pt:add(f.chunk_data, r.take(n, "string chunk")) end
        summary = summary .. " chunk offset " .. offset .. " of " .. total
      end
    elseif h.kind == 1 and a and not a.key and readable(a.type) then
      summary = summary .. " " .. read_value(r, pt, a.type, f.value)
    elseif h.kind == 1 and r.remaining() > 0 then
      pt:add(f.payload, r.take(r.remaining(), "payload"))
    end
    -- A payload longer than its reader needs is accepted, the rest skipped,
    -- so that a newer peer may append fields.
    if r.remaining() > 0 then pt:add(f.unread, r.take(r.remaining(), "payload")) end
    ft:add(f.token, tvb(last, 1)):append_text(" (end)")
  end)
  ft:set_text("Attribute-log frame: " .. summary)
  if ok then return summary, nil end
  if getmetatable(err) ~= Malformed then error(err, 0) end
  return summary, err.reason
end

local function mark_malformed(tvb, tree, reason)
  local item = tree:add(f.malformed, tvb, reason)
  item:add_proto_expert_info(ef_malformed, "malformed frame: " .. reason)
  return "malformed frame: " .. reason
end

function kivlog.dissector(tvb, pinfo, tree)
  pinfo.cols.protocol = "KIVATTRLOG"
  local direction = direction_key(pinfo)
  local root = tree:add(kivlog, tvb())
  if broken[direction] and pinfo.number > broken[direction] then
    root:add(f.not_decoded, tvb())
    pinfo.cols.info = "after a malformed frame"
    return tvb:len()
  end
  local key = connection_key(pinfo)
  connections[key] = connections[key] or {}
  local entities = connections[key]
  local offset, len = 0, tvb:len()
  local summaries = {}
  while offset < len do
    local remaining = len - offset
    if remaining < 4 then
      pinfo.desegment_offset = offset
      pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
      break
    end
    local length = tvb(offset, 4):uint()
    if length < header_size + 2 or length > max_frame then
      summaries[#summaries + 1] = mark_malformed(tvb(offset), root, "bad frame length " .. length)
      broken[direction] = pinfo.number
      break
    end
    if remaining < 4 + length then
      pinfo.desegment_offset = offset
      pinfo.desegment_len = 4 + length - remaining
      break
    end
    local frame = tvb(offset, 4 + length):tvb()
    local summary, reason = decode_frame(frame, root, entities)
    summaries[#summaries + 1] = summary
    if reason then
      summaries[#summaries] = summary .. ": " .. mark_malformed(tvb(offset, 4 + length), root, reason)
      broken[direction] = pinfo.number
      break
    end
    offset = offset + 4 + length
  end
  if #summaries > 0 then
    -- A segment may end one reassembled frame and hold others: one column.
    local before = tostring(pinfo.cols.info)
    local text = table.concat(summaries, "; ")
    if before:find("^entity ") then pinfo.cols.info = before .. "; " .. text else pinfo.cols.info = text end
  end
  return len
end

function kivlog.init()
  connections = {}
  broken = {}
end

local tcp_port = DissectorTable.get("tcp.port")
local registered_port = kivlog.prefs.port
tcp_port:add(registered_port, kivlog)
tcp_port:add_for_decode_as(kivlog)

function kivlog.prefs_changed()
  if kivlog.prefs.port ~= registered_port then
    tcp_port:remove(registered_port, kivlog)
    registered_port = kivlog.prefs.port
    tcp_port:add(registered_port, kivlog)
  end
end

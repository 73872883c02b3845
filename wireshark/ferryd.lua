-- Wireshark dissector for ferryd's serial line, as "ferrycat decode --pcap" writes it: pcapng with
-- link type USER0 (147), one packet for each frame, each command or status line, each run of
-- bytes that belongs to neither and each gap in the daemon's trace. A packet is a kind byte, then
-- the bytes as they crossed the line; pcapng's direction flag says which way (inbound: module to
-- daemon '<', outbound: daemon to module '>'). This file unframes, checks the FCS and puts
-- messages together itself, following the daemon's rules, so that it can be compared with
-- ferrycat decode. Fields are named ferryd.*; drops are expert info named as the daemon counts
-- them (bad-fcs, oversize-frame, aborted-frame, invalid, stale, lost-start, out-of-order,
-- oversize).
-- Install: /usr/lib/<triplet>/wireshark/plugins/ (the ferryd package does) or, for one user,
-- ~/.local/lib/wireshark/plugins/.

local p = Proto("ferryd", "ferryd serial line")

local KIND = { [1] = "frame", [2] = "line", [3] = "skipped", [4] = "gap" }
local FLAG, ESCAPE = 0x7E, 0x7D
local MAX_COLLECTED = 1024 + 2 -- the unframer's payload bound and the FCS
local HEADER = 5 -- a segment's header
local MAX_MESSAGE = 65535
local LINE_MAX = 1023 -- the longest line the daemon's line builders keep

local f = {
  kind = ProtoField.uint8("ferryd.kind", "Kind", base.DEC, KIND),
  dir = ProtoField.string("ferryd.dir", "Direction ('<' module to daemon, '>' daemon to module)"),
  frame_length = ProtoField.uint16("ferryd.frame_length", "Frame length (payload; dropped: as collected)"),
  fcs = ProtoField.string("ferryd.fcs", "FCS"),
  fcs_ok = ProtoField.bool("ferryd.fcs_ok", "FCS good"),
  state = ProtoField.string("ferryd.state", "Frame dropped as"),
  id = ProtoField.uint8("ferryd.id", "Message id"),
  index = ProtoField.uint16("ferryd.index", "Segment index"),
  last = ProtoField.bool("ferryd.last", "Last segment"),
  seg_length = ProtoField.uint16("ferryd.seg_length", "Segment payload length"),
  payload = ProtoField.bytes("ferryd.payload", "Segment payload"),
  message_id = ProtoField.uint8("ferryd.message_id", "Whole message: id"),
  message_length = ProtoField.uint32("ferryd.message_length", "Whole message: length"),
  message = ProtoField.bytes("ferryd.message", "Whole message"),
  text = ProtoField.string("ferryd.text", "Line"),
  status = ProtoField.string("ferryd.status", "Status keyword"),
  command = ProtoField.string("ferryd.command", "Command"),
  skipped = ProtoField.uint32("ferryd.skipped", "Bytes in no line and no frame"),
  not_recorded = ProtoField.uint32("ferryd.not_recorded", "Bytes not recorded"),
  drop = ProtoField.string("ferryd.drop", "Dropped (the daemon's counter)"),
}
p.fields = {}
for _, field in pairs(f) do table.insert(p.fields, field) end

local DROPS = { "bad-fcs", "oversize-frame", "aborted-frame", "invalid", "stale", "lost-start",
                "out-of-order", "oversize" }
local experts = {}
for _, name in ipairs(DROPS) do
  experts[name] = ProtoExpert.new("ferryd.expert." .. name:gsub("-", "_"), name,
                                  expert.group.MALFORMED, expert.severity.WARN)
end
p.experts = {}
for _, e in pairs(experts) do table.insert(p.experts, e) end

-- The status keywords the daemon knows (a line "AT-AB <keyword> ...").
local STATUS = { BDAddress = true, ["-BypassMode-"] = true, ConnectionDown = true,
                 ["-CommandMode-"] = true, BondOk = true }

local band, bxor, rshift = bit.band, bit.bxor, bit.rshift

local FCS_TABLE = {}
for i = 0, 255 do
  local v = i
  for _ = 1, 8 do v = band(v, 1) ~= 0 and bxor(rshift(v, 1), 0x8408) or rshift(v, 1) end
  FCS_TABLE[i] = v
end

local function fcs16(bytes)
  local fcs = 0xFFFF
  for _, b in ipairs(bytes) do fcs = bxor(rshift(fcs, 8), FCS_TABLE[band(bxor(fcs, b), 0xFF)]) end
  return fcs
end

-- The frame in data (the packet's bytes after the kind): unescaped bytes and how it ended.
local function unframe(data)
  local n, i = data:len(), 0
  while i < n and data:get_index(i) == FLAG do i = i + 1 end
  local closed = n > i and data:get_index(n - 1) == FLAG
  local stop = closed and n - 1 or n
  local out, escaped = {}, false
  for k = i, stop - 1 do
    local b = data:get_index(k)
    if escaped then
      b, escaped = bxor(b, 0x20), false
    elseif b == ESCAPE then
      escaped = true
      b = nil
    end
    if b ~= nil then
      if #out >= MAX_COLLECTED then return out, "oversize" end
      out[#out + 1] = b
    end
  end
  if escaped then return out, "aborted" end
  if #out < 2 or fcs16(out) ~= 0xF0B8 then return out, "bad" end
  return out, "good"
end

local function hex(bytes, from, to)
  local t = {}
  for k = from, to do t[#t + 1] = string.format("%02x", bytes[k]) end
  return table.concat(t)
end

-- Per direction, the message being put together; per packet, what its first pass found.
local pending, results

function p.init()
  pending = { ["<"] = nil, [">"] = nil }
  results = {}
end

-- The daemon's reassembly of one frame's payload: what it drops and the message it completes.
local function reassemble(dir, payload)
  local r = { drops = {} }
  local len = #payload
  local n = len >= HEADER and payload[4] + payload[5] * 256 or -1
  if len < HEADER or len ~= HEADER + n then
    table.insert(r.drops, "invalid")
    return r
  end
  local seg = { id = band(payload[1], 0x7F), index = payload[2] + payload[3] * 256,
                last = band(payload[1], 0x80) ~= 0, n = n }
  r.seg = seg
  local body = len > HEADER and hex(payload, HEADER + 1, len) or ""
  local cur = pending[dir]
  if seg.index == 0 then
    if cur then table.insert(r.drops, "stale") end
    pending[dir] = nil
    if seg.last then
      r.message = { id = seg.id, hex = body }
    else
      pending[dir] = { id = seg.id, next = 1, parts = { body }, size = n }
    end
  elseif cur == nil or cur.id ~= seg.id then
    table.insert(r.drops, "lost-start")
  elseif seg.index ~= cur.next then
    table.insert(r.drops, "out-of-order")
    pending[dir] = nil
  elseif cur.size + n > MAX_MESSAGE then
    table.insert(r.drops, "oversize")
    pending[dir] = nil
  else
    table.insert(cur.parts, body)
    cur.size, cur.next = cur.size + n, cur.next + 1
    if seg.last then
      r.message = { id = cur.id, hex = table.concat(cur.parts) }
      pending[dir] = nil
    end
  end
  return r
end

local function first_pass(dir, kind, data)
  local r = { drops = {} }
  if kind ~= 1 then return r end
  local bytes, how = unframe(data)
  r.how = how
  r.collected = #bytes
  if how ~= "good" then
    r.drops = { how == "bad" and "bad-fcs" or how .. "-frame" }
    return r
  end
  local payload = {}
  for k = 1, #bytes - 2 do payload[k] = bytes[k] end
  local s = reassemble(dir, payload)
  s.how, s.collected = how, #bytes
  s.unframed = #payload > 0 and hex(payload, 1, #payload) or ""
  return s
end

-- A line's text as the daemon's line builders keep it: CRs left out, cut at LINE_MAX bytes.
local function line_text(data)
  local t = {}
  for k = 0, data:len() - 1 do
    local b = data:get_index(k)
    if b ~= 0x0D and b ~= 0x0A and #t < LINE_MAX then t[#t + 1] = string.char(b) end
  end
  return table.concat(t)
end

local function show_line(tree, pinfo, dir, body, data)
  local text = line_text(data)
  tree:add(f.text, body, text)
  local w1, w2 = text:match("^ *(%S+) +(%S+)")
  if dir == "<" and w1 == "AT-AB" and STATUS[w2] then
    tree:add(f.status, body, w2)
    pinfo.cols.info:set("status " .. w2)
  elseif dir == ">" then
    local word = text:match("^AT%+AB +(%S+)") or text:match("^(%S+)") or ""
    tree:add(f.command, body, word)
    pinfo.cols.info:set("command " .. text)
  else
    pinfo.cols.info:set("line " .. text)
  end
end

local function show_frame(tree, tvb, pinfo, dir, r)
  local body = tvb(1)
  if r.how == "good" then
    tree:add(f.frame_length, body, r.collected - 2)
  else
    tree:add(f.frame_length, body, r.collected)
  end
  if r.how == "good" or r.how == "bad" then
    tree:add(f.fcs, body, r.how)
    tree:add(f.fcs_ok, body, r.how == "good")
  else
    tree:add(f.state, body, r.how)
  end
  local info = "frame " .. r.how
  if r.seg then
    tree:add(f.id, body, r.seg.id)
    tree:add(f.index, body, r.seg.index)
    tree:add(f.last, body, r.seg.last)
    tree:add(f.seg_length, body, r.seg.n)
    if r.seg.n > 0 then
      local unframed = ByteArray.new(r.unframed):tvb("Unescaped frame")
      tree:add(f.payload, unframed(HEADER, r.seg.n))
    end
    info = string.format("segment id=%d index=%d%s", r.seg.id, r.seg.index,
                         r.seg.last and " last" or "")
  end
  for _, d in ipairs(r.drops) do
    tree:add(f.drop, body, d)
    tree:add_proto_expert_info(experts[d], "dropped: " .. d)
    info = info .. " [" .. d .. "]"
  end
  if r.message then
    local m = ByteArray.new(r.message.hex)
    local mtvb = m:tvb("Message " .. r.message.id)
    tree:add(f.message_id, body, r.message.id)
    tree:add(f.message_length, body, m:len())
    if m:len() > 0 then tree:add(f.message, mtvb()) end
    info = info .. string.format(" message %d: %d bytes", r.message.id, m:len())
  end
  pinfo.cols.info:set(info)
end

function p.dissector(tvb, pinfo, root)
  if tvb:len() < 1 then return 0 end
  pinfo.cols.protocol:set("ferryd")
  local dir = pinfo.p2p_dir == 0 and ">" or "<"
  pinfo.cols.src:set(dir == ">" and "daemon" or "module")
  pinfo.cols.dst:set(dir == ">" and "module" or "daemon")
  local kind = tvb(0, 1):uint()
  local tree = root:add(p, tvb())
  tree:add(f.kind, tvb(0, 1))
  tree:add(f.dir, tvb(0, 1), dir)
  local data = tvb:len() > 1 and tvb(1):bytes() or ByteArray.new()
  if not pinfo.visited then results[pinfo.number] = first_pass(dir, kind, data) end
  local r = results[pinfo.number] or first_pass(dir, kind, data)
  if kind == 1 then
    show_frame(tree, tvb, pinfo, dir, r)
  elseif kind == 2 then
    show_line(tree, pinfo, dir, tvb(1), data)
  elseif kind == 3 then
    tree:add(f.skipped, tvb(1), data:len())
    pinfo.cols.info:set(string.format("%d bytes in no line and no frame", data:len()))
  elseif kind == 4 and tvb:len() >= 5 then
    tree:add_le(f.not_recorded, tvb(1, 4))
    pinfo.cols.info:set(string.format("gap: %d bytes not recorded", tvb(1, 4):le_uint()))
  end
  return tvb:len()
end

DissectorTable.get("wtap_encap"):add((wtap_encaps or wtap).USER0, p)

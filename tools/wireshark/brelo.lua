-- Wireshark dissector for brelo packet traces (brelo -trace=FILE, or
-- brelo-ctl run FILE --trace TRACE): pcap files of link type DLT_USER0.
--
-- Each record is brelo's 8-byte trace header (which mote, which way, the
-- CRC verdict, collisions) followed by the packet record as it travelled:
-- address, type, group, length, the data bytes, one byte more, then the two
-- CRC bytes. The data is decoded by message type: operator messages (types
-- 8 and 9), channel messages with the stream message they carry (type 10)
-- and result records sent to the host (type 15). Every multi-byte field is
-- little-endian, except the two-byte fields of records, which are stored
-- high byte first.
--
-- Use: tshark -X lua_script:tools/wireshark/brelo.lua -r run.pcap
-- or copy this file to ~/.local/lib/wireshark/plugins/ (see docs/traces.md).

local brelo = Proto("brelo", "brelo mote packet")

-- Names ---------------------------------------------------------------------

local directions = {
  [0] = "radio sent",
  [1] = "radio received",
  [2] = "serial to host",
  [3] = "serial from host",
  [4] = "radio from host",
}
local direction_short = { [0] = "tx", [1] = "rx", [2] = "to host", [3] = "from host", [4] = "host->radio" }
local crc_states = { [0] = "failed", [1] = "passed", [2] = "not checked" }
local collisions = {
  [0] = "no (the frame had the air to itself)",
  [1] = "yes (another sender's frame overlapped)",
  [2] = "unknown (no sender's frame matched)",
  [3] = "not applicable",
}
local am_types = {
  [8] = "OperatorMsg",
  [9] = "RadioMsg (forwarded operator message)",
  [10] = "MsgNet (channel message)",
  [15] = "MsgUART (result to the host)",
}
local am_type_short = { [8] = "OperatorMsg", [9] = "RadioMsg", [10] = "MsgNet", [15] = "MsgUART" }
local channel_kinds = { [0] = "OPEN", [1] = "WRITE", [2] = "CLOSE" }
local stream_kinds = { [0] = "OPEN_SS", [1] = "WRITE_SS", [2] = "CLOSE_SS" }
-- Command codes of operator messages (src/protocol/operators.hpp).
local command_codes = {
  [0] = "nothing", [1] = "select_c", [2] = "select_f", [3] = "sync_join_o",
  [4] = "sync_join_i", [5] = "merge_join_o", [6] = "merge_join_i", [7] = "projection",
  [8] = "send", [9] = "open remote", [10] = "open local", [11] = "open sensor",
  [12] = "start", [13] = "stop", [14] = "mirror", [15] = "serial_send",
  [16] = "avg_1", [17] = "avg_2", [18] = "avg_p1", [19] = "avg_p2",
  [20] = "max_min_1", [21] = "max_min_2", [22] = "max_min_t", [23] = "avg_t",
}
local predicates = {
  [0] = "none", [1] = "EQUAL", [2] = "NOT_EQUAL", [3] = "GREATER", [4] = "GREATER_OR_EQUAL",
  [5] = "LESS", [6] = "LESS_OR_EQUAL",
}
-- Sensor ids (src/protocol/sensors.hpp).
local sensors = {
  [0] = "none", [1] = "light", [2] = "temperature", [3] = "voice", [4] = "magx",
  [5] = "magy", [6] = "accelx", [7] = "accely",
}
local sampling_kinds = { [0] = "none", [1] = "PERIODIC", [2] = "ON_DEMAND" }
local special_addresses = { [65535] = "broadcast", [126] = "serial port" }

-- Fields --------------------------------------------------------------------

local f = {
  header_length = ProtoField.uint8("brelo.header_length", "Header length", base.DEC),
  version = ProtoField.uint8("brelo.version", "Header version", base.DEC),
  mote = ProtoField.uint16("brelo.mote", "Mote", base.DEC),
  dir = ProtoField.uint8("brelo.dir", "Direction", base.DEC, directions),
  crc = ProtoField.uint8("brelo.crc", "CRC check", base.DEC, crc_states),
  crc_ok = ProtoField.bool("brelo.crc_ok", "CRC passed"),
  collision = ProtoField.uint8("brelo.collision", "Collision", base.DEC, collisions),
  senders = ProtoField.uint8("brelo.senders", "Senders on the air during the frame", base.DEC),

  am_addr = ProtoField.uint16("brelo.am.addr", "Address", base.DEC),
  am_type = ProtoField.uint8("brelo.am.type", "Type", base.DEC, am_types),
  am_group = ProtoField.uint8("brelo.am.group", "Group", base.DEC),
  am_length = ProtoField.uint8("brelo.am.length", "Length", base.DEC),
  am_data = ProtoField.bytes("brelo.am.data", "Data"),
  am_tail = ProtoField.uint8("brelo.am.tail", "Byte after the data (sent, not counted)", base.HEX),
  am_crc = ProtoField.uint16("brelo.am.crc", "CRC", base.HEX),

  op_query = ProtoField.uint8("brelo.op.query", "Query", base.DEC),
  op_code = ProtoField.uint8("brelo.op.code", "Code", base.DEC, command_codes),
  op_output = ProtoField.int8("brelo.op.stream_output", "Output stream (open-table index)", base.DEC),
  op_input1 = ProtoField.int8("brelo.op.stream_input1", "First input stream", base.DEC),
  op_input2 = ProtoField.int8("brelo.op.stream_input2", "Second input stream", base.DEC),
  op_predicate = ProtoField.uint8("brelo.op.predicate", "Predicate", base.DEC, predicates),
  op_field1 = ProtoField.uint8("brelo.op.field1", "Field 1", base.DEC),
  op_field2 = ProtoField.uint8("brelo.op.field2", "Field 2", base.DEC),
  op_constant = ProtoField.uint8("brelo.op.constant", "Constant", base.DEC),
  op_constant2 = ProtoField.uint8("brelo.op.constant2", "Constant 2", base.DEC),
  op_constant3 = ProtoField.uint8("brelo.op.constant3", "Constant 3", base.DEC),
  op_numfields = ProtoField.uint8("brelo.op.numfields", "Fields per record", base.DEC),
  op_name = ProtoField.uint8("brelo.op.symbolic_name", "Remote stream name", base.DEC),
  op_rate = ProtoField.uint32("brelo.op.stream_rate", "Stream rate", base.DEC),
  op_start = ProtoField.uint32("brelo.op.start_time", "Start time", base.DEC),
  op_reliability = ProtoField.uint8("brelo.op.reliability", "Reliability", base.DEC),
  op_buffer = ProtoField.uint8("brelo.op.buffer_size", "Buffer size", base.DEC),
  op_dest = ProtoField.uint16("brelo.op.remote_stream_dest", "Remote stream's other end", base.DEC),
  op_sensor = ProtoField.uint8("brelo.op.sensor", "Sensor", base.DEC, sensors),
  op_sampling = ProtoField.uint8("brelo.op.sampling", "Sampling", base.DEC, sampling_kinds),

  chan_kind = ProtoField.uint8("brelo.chan.kind", "Kind", base.DEC, channel_kinds),
  chan_src = ProtoField.uint16("brelo.chan.src", "Source", base.DEC),
  chan_dest = ProtoField.uint16("brelo.chan.dest", "Destination", base.DEC),
  chan_id = ProtoField.int32("brelo.chan.id", "Channel id", base.DEC),
  chan_rate = ProtoField.uint32("brelo.chan.stream_rate", "Stream rate", base.DEC),
  chan_start = ProtoField.uint64("brelo.chan.start_time", "Start time (ticks)", base.DEC),
  chan_data_size = ProtoField.uint8("brelo.chan.data_size", "Data size", base.DEC),

  ss_kind = ProtoField.uint8("brelo.ss.kind", "Kind", base.DEC, stream_kinds),
  ss_src = ProtoField.uint16("brelo.ss.src", "Source", base.DEC),
  ss_name = ProtoField.uint8("brelo.ss.symbolic_name", "Stream name", base.DEC),
  ss_rate = ProtoField.uint32("brelo.ss.stream_rate", "Stream rate", base.DEC),
  ss_start = ProtoField.uint64("brelo.ss.start_time", "Start time (ticks)", base.DEC),
  ss_reliability = ProtoField.uint8("brelo.ss.reliability", "Reliability", base.DEC),
  ss_data_size = ProtoField.uint8("brelo.ss.data_size", "Record bytes", base.DEC),
  ss_data = ProtoField.bytes("brelo.ss.data", "Record"),
  ss_field = ProtoField.uint16("brelo.ss.field", "Field", base.DEC),

  uart_data = ProtoField.bytes("brelo.uart.data", "Record"),
  uart_field = ProtoField.uint16("brelo.uart.field", "Field", base.DEC),
}
local field_list = {}
for _, field in pairs(f) do table.insert(field_list, field) end
brelo.fields = field_list

-- Layers --------------------------------------------------------------------

local function name_of(names, value)
  return names[value] or tostring(value)
end

-- Two-byte record fields, high byte first; `count` of them at `range`.
local function add_record_fields(tree, field, range, count)
  for i = 0, count - 1 do
    if (i + 1) * 2 > range:len() then return end
    tree:add(field, range(i * 2, 2)):prepend_text("[" .. i .. "] ")
  end
end

-- Adds a one-byte field index; 255 means none.
local function add_field_index(tree, field, range)
  local item = tree:add(field, range)
  if range:uint() == 255 then item:append_text(" (none)") end
end

local function dissect_operator(buf, tree)
  local t = tree:add(brelo, buf(0, 32), "Operator message")
  local code = buf(1, 1):uint()
  t:add(f.op_query, buf(0, 1))
  t:add(f.op_code, buf(1, 1))
  t:add(f.op_output, buf(2, 1))
  t:add(f.op_input1, buf(3, 1))
  t:add(f.op_input2, buf(4, 1))
  t:add(f.op_predicate, buf(5, 1))
  add_field_index(t, f.op_field1, buf(6, 1))
  add_field_index(t, f.op_field2, buf(7, 1))
  t:add(f.op_constant, buf(8, 1))
  t:add(f.op_constant2, buf(9, 1))
  t:add(f.op_constant3, buf(10, 1))
  t:add(f.op_numfields, buf(11, 1))
  t:add(f.op_name, buf(12, 1))
  t:add_le(f.op_rate, buf(16, 4))
  t:add_le(f.op_start, buf(20, 4))
  t:add(f.op_reliability, buf(24, 1))
  t:add(f.op_buffer, buf(25, 1))
  t:add_le(f.op_dest, buf(26, 2))
  t:add(f.op_sensor, buf(28, 1))
  t:add(f.op_sampling, buf(29, 1))
  return string.format("query %d %s", buf(0, 1):uint(), name_of(command_codes, code))
end

-- A 64-bit time as two little-endian 32-bit words, the high one first.
local function add_split_time(tree, field, range)
  local value = UInt64(range(4, 4):le_uint(), range(0, 4):le_uint())
  tree:add(field, range, value)
end

local function dissect_stream(buf, tree)
  local t = tree:add(brelo, buf(0, 44), "Stream message")
  local kind = buf(0, 1):uint()
  t:add(f.ss_kind, buf(0, 1))
  t:add_le(f.ss_src, buf(2, 2))
  t:add(f.ss_name, buf(4, 1))
  t:add_le(f.ss_rate, buf(8, 4))
  add_split_time(t, f.ss_start, buf(12, 8))
  t:add(f.ss_reliability, buf(20, 1))
  t:add(f.ss_data_size, buf(21, 1))
  local size = math.min(buf(21, 1):uint(), 20)
  if kind == 1 and size > 0 then
    local record = t:add(f.ss_data, buf(22, size))
    add_record_fields(record, f.ss_field, buf(22, size), math.floor(size / 2))
  end
  return string.format("%s stream %d", name_of(stream_kinds, kind), buf(4, 1):uint())
end

local function dissect_channel(buf, tree)
  local t = tree:add(brelo, buf(0, 84), "Channel message")
  local kind = buf(0, 1):uint()
  local id = buf(8, 4):le_int()
  t:add(f.chan_kind, buf(0, 1))
  t:add_le(f.chan_src, buf(2, 2))
  t:add_le(f.chan_dest, buf(4, 2))
  t:add_le(f.chan_id, buf(8, 4)):append_text(string.format(" (mote %d, entry %d)", math.floor(id / 256), id % 256))
  t:add_le(f.chan_rate, buf(12, 4))
  add_split_time(t, f.chan_start, buf(16, 8))
  t:add(f.chan_data_size, buf(24, 1))
  local inner = dissect_stream(buf(25, 44):tvb(), t)
  return string.format("%s %d->%d channel %d, %s", name_of(channel_kinds, kind),
                       buf(2, 2):le_uint(), buf(4, 2):le_uint(), id, inner)
end

local function dissect_result(buf, tree)
  local t = tree:add(f.uart_data, buf(0, 20))
  add_record_fields(t, f.uart_field, buf(0, 20), 10)
  return "result record"
end

-- Data layouts by message type: the bytes each needs, and its decoder.
local layouts = {
  [8] = { 32, dissect_operator },
  [9] = { 32, dissect_operator },
  [10] = { 84, dissect_channel },
  [15] = { 20, dissect_result },
}

-- The trace header and the packet ------------------------------------------

function brelo.dissector(buf, pinfo, tree)
  if buf:len() < 8 then return 0 end
  local header_length = buf(0, 1):uint()
  if header_length < 8 or buf:len() < header_length + 5 then return 0 end
  pinfo.cols.protocol = "brelo"
  local mote = buf(2, 2):le_uint()
  local dir = buf(4, 1):uint()
  local crc = buf(5, 1):uint()
  local root = tree:add(brelo, buf(), string.format("brelo packet, mote %d, %s", mote,
                                                     name_of(directions, dir)))
  local h = root:add(brelo, buf(0, header_length), "Trace header")
  h:add(f.header_length, buf(0, 1))
  h:add(f.version, buf(1, 1))
  h:add_le(f.mote, buf(2, 2))
  h:add(f.dir, buf(4, 1))
  h:add(f.crc, buf(5, 1))
  if crc <= 1 then h:add(f.crc_ok, buf(5, 1), crc == 1) end
  h:add(f.collision, buf(6, 1))
  if dir == 1 then h:add(f.senders, buf(7, 1)) end

  local frame = buf(header_length):tvb()
  local addr = frame(0, 2):le_uint()
  local am_type = frame(2, 1):uint()
  local length = frame(4, 1):uint()
  local data_length = math.min(length, 96, frame:len() - 8)
  local m = root:add(brelo, frame(), "Radio message")
  local addr_item = m:add_le(f.am_addr, frame(0, 2))
  if special_addresses[addr] then addr_item:append_text(" (" .. special_addresses[addr] .. ")") end
  m:add(f.am_type, frame(2, 1))
  m:add(f.am_group, frame(3, 1))
  m:add(f.am_length, frame(4, 1))
  local summary = name_of(am_type_short, am_type)
  if data_length > 0 then
    local data = frame(5, data_length)
    m:add(f.am_data, data)
    local layout = layouts[am_type]
    if layout ~= nil and data_length >= layout[1] then
      summary = summary .. " " .. layout[2](data:tvb(), m)
    end
  end
  if frame:len() >= 5 + data_length + 3 then
    m:add(f.am_tail, frame(5 + data_length, 1))
    local crc_item = m:add_le(f.am_crc, frame(5 + data_length + 1, 2))
    if dir >= 2 then crc_item:append_text(" (the record's crc field: no CRC on this path)") end
  end

  local to = special_addresses[addr] or tostring(addr)
  if dir == 1 then
    pinfo.cols.src = "air"
    pinfo.cols.dst = "mote " .. mote
  elseif dir == 3 or dir == 4 then
    pinfo.cols.src = "host"
    pinfo.cols.dst = "mote " .. mote
  else
    pinfo.cols.src = "mote " .. mote
    pinfo.cols.dst = dir == 2 and "host" or to
  end
  local verdict = ""
  if crc == 0 then verdict = " [CRC failed]" end
  if buf(6, 1):uint() == 1 then verdict = verdict .. " [collision]" end
  pinfo.cols.info = string.format("%s %s%s", name_of(direction_short, dir), summary, verdict)
  return buf:len()
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, brelo)

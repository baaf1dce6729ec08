-- wrk's requests for the load runs of sdvoice-web (see README.md). SDVOICE_WEB_MIX picks the run:
--   mixed     (the default) pages 1 to 20 of three searches, and 64 KiB audio ranges of the hour-long
--             recording and of random recordings of the archive, half and half;
--   ranges    64 KiB audio ranges only, of the hour and of random recordings, half and half;
--   searches  pages 1 to 10 of 60 distinct searches over every known folder (days, phone digits,
--             modes, sort orders), and 64 KiB audio ranges as in "ranges", half and half.
-- The session and the ids come from the environment:
--   SDVOICE_WEB_TOKEN   the session cookie's value after a login
--   SDVOICE_WEB_FOLDER  the key of the folder of 100,000 recordings (as /api/search-form lists it)
--   SDVOICE_WEB_HOUR    the id of the hour-long recording
--   SDVOICE_WEB_COUNT   the number of recordings in that folder (100000 when not set)
local token = os.getenv("SDVOICE_WEB_TOKEN")
local folder = os.getenv("SDVOICE_WEB_FOLDER")
local hourId = os.getenv("SDVOICE_WEB_HOUR")
local count = tonumber(os.getenv("SDVOICE_WEB_COUNT") or "100000")
local mix = os.getenv("SDVOICE_WEB_MIX") or "mixed"
local hourBytes = 25000000 -- within the hour's 49 MB of sound
local searches = {
  "/api/search?from=2023-01-01&to=2030-12-31&sort=4&order=desc&pageSize=100&page=",
  "/api/search?from=2023-01-01&to=2030-12-31&mode=%E8%A2%AB%E5%8F%AB&phone=138&pageSize=100&page=",
  "/api/search?folder=" .. folder .. "&from=2024-01-01&to=2026-12-31&sort=2&order=asc&pageSize=100&page=",
}

local function escaped(text)
  return (text:gsub("[^%w%-]", function(c) return string.format("%%%02X", c:byte()) end))
end

-- 6 day ranges x 5 phone digits x 5 modes x 4 orders make 600 searches; every seventh of them in turn
-- (7 and 600 share no factor) gives 60 distinct ones that vary in every criterion. The sample
-- archive's calls start on 2 January 2023, about 15 a day.
local function variedSearches()
  local days = { { "2023-03-15", "2023-03-15" }, { "2023-06-05", "2023-06-11" }, { "2024-02-01", "2024-02-29" },
    { "2025-04-01", "2025-06-30" }, { "2026-01-01", "2026-12-31" }, { "2023-01-01", "2041-12-31" } }
  local phones = { "", "138", "1234", "0755", "8820" }
  local modes = { "", "被叫", "主叫", "留言", "现场" }
  local orders = { "", "&sort=4&order=asc", "&sort=4&order=desc", "&sort=5&order=desc" }
  local list = {}
  for i = 0, 59 do
    local n = (i * 7) % 600
    local day = days[n % 6 + 1]
    local phone = phones[math.floor(n / 6) % 5 + 1]
    local mode = modes[math.floor(n / 30) % 5 + 1]
    local order = orders[math.floor(n / 150) + 1]
    list[#list + 1] = "/api/search?from=" .. day[1] .. "&to=" .. day[2] .. "&phone=" .. phone .. "&mode="
      .. escaped(mode) .. order .. "&pageSize=100&page="
  end
  return list
end

if mix == "searches" then
  searches = variedSearches()
elseif mix ~= "mixed" and mix ~= "ranges" then
  error("SDVOICE_WEB_MIX is mixed, ranges or searches, not " .. mix)
end
local lastPage = mix == "searches" and 10 or 20

local function hex(text)
  return (text:gsub(".", function(c) return string.format("%02x", c:byte()) end))
end

local function range(headers)
  local id, first
  if math.random(2) == 1 then
    id, first = hourId, math.random(0, hourBytes - 65536)
  else
    id, first = folder .. "-" .. hex(string.format("VOC%05d.WAV", math.random(count))), math.random(1, 1000)
  end
  headers["Range"] = "bytes=" .. first .. "-" .. (first + 65535)
  return wrk.format("GET", "/api/audio?id=" .. id, headers)
end

request = function()
  local headers = { Cookie = "sdvoice_session=" .. token }
  if mix ~= "ranges" and math.random(2) == 1 then
    return wrk.format("GET", searches[math.random(#searches)] .. math.random(lastPage), headers)
  end
  return range(headers)
end

done = function(summary, latency)
  io.write(string.format("p50 %.1f ms, p99 %.1f ms, max %.1f ms; %d errors of %d requests\n",
    latency:percentile(50) / 1000, latency:percentile(99) / 1000, latency.max / 1000,
    summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.status
      + summary.errors.timeout, summary.requests))
end

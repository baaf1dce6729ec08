-- wrk's requests for the load run of sdvoice-web (see README.md): pages 1 to 20 of three searches,
-- and 64 KiB audio ranges of the hour-long recording and of random recordings of the archive.
-- The session and the ids come from the environment:
--   SDVOICE_WEB_TOKEN   the session cookie's value after a login
--   SDVOICE_WEB_FOLDER  the key of the folder of 100,000 recordings (as /api/search-form lists it)
--   SDVOICE_WEB_HOUR    the id of the hour-long recording
local token = os.getenv("SDVOICE_WEB_TOKEN")
local folder = os.getenv("SDVOICE_WEB_FOLDER")
local hourId = os.getenv("SDVOICE_WEB_HOUR")
local hourBytes = 25000000 -- within the hour's 49 MB of sound
local searches = {
  "/api/search?from=2023-01-01&to=2030-12-31&sort=4&order=desc&pageSize=100&page=",
  "/api/search?from=2023-01-01&to=2030-12-31&mode=%E8%A2%AB%E5%8F%AB&phone=138&pageSize=100&page=",
  "/api/search?folder=" .. folder .. "&from=2024-01-01&to=2026-12-31&sort=2&order=asc&pageSize=100&page=",
}

local function hex(text)
  return (text:gsub(".", function(c) return string.format("%02x", c:byte()) end))
end

request = function()
  local headers = { Cookie = "sdvoice_session=" .. token }
  local pick = math.random(4)
  if pick <= 2 then
    return wrk.format("GET", searches[math.random(#searches)] .. math.random(20), headers)
  end
  local id, first
  if pick == 3 then
    id, first = hourId, math.random(0, hourBytes - 65536)
  else
    id, first = folder .. "-" .. hex(string.format("VOC%05d.WAV", math.random(100000))), math.random(1, 1000)
  end
  headers["Range"] = "bytes=" .. first .. "-" .. (first + 65535)
  return wrk.format("GET", "/api/audio?id=" .. id, headers)
end

done = function(summary, latency)
  io.write(string.format("p50 %.1f ms, p99 %.1f ms, max %.1f ms; %d errors of %d requests\n",
    latency:percentile(50) / 1000, latency:percentile(99) / 1000, latency.max / 1000,
    summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.status
      + summary.errors.timeout, summary.requests))
end

-- wrk script: posts the body in the file BODY with the content type CONTENT_TYPE, and counts the
-- answers that lack EXPECT (for apply.cgi, "Thank You!"), printed at the end as "unexpected N".
-- With RENAME set to a text of the body (the applicant's name), each request replaces it with
-- the text and a number of its own, so that every post is a new applicant, as on a real site.
local f = assert(io.open(os.getenv("BODY"), "rb"))
local body = f:read("*a")
f:close()
wrk.method = "POST"
wrk.body = body
wrk.headers["Content-Type"] = os.getenv("CONTENT_TYPE")
local expect = os.getenv("EXPECT") or ""
local rename = os.getenv("RENAME") or ""
local threads = {}

function setup(thread)
  table.insert(threads, thread)
  thread:set("id", #threads)
end

function init(args)
  unexpected = 0
  sent = 0
  if rename ~= "" then
    local at = assert(string.find(body, rename, 1, true), "RENAME not in the body")
    before, after = string.sub(body, 1, at + #rename - 1), string.sub(body, at + #rename)
  end
end

function request()
  if rename == "" then return wrk.format() end
  sent = sent + 1
  return wrk.format(nil, nil, nil, before .. " " .. id .. " " .. sent .. after)
end

function response(status, headers, body)
  if status ~= 200 or (expect ~= "" and not string.find(body, expect, 1, true)) then
    unexpected = unexpected + 1
  end
end

function done(summary, latency, requests)
  local n = 0
  for _, t in ipairs(threads) do n = n + t:get("unexpected") end
  io.write(string.format("unexpected %d\n", n))
end

-- wrk script: posts the body in the file BODY with the content type CONTENT_TYPE, and counts the
-- answers that lack EXPECT (for apply.cgi, "Thank You!"), printed at the end as "unexpected N".
local f = assert(io.open(os.getenv("BODY"), "rb"))
wrk.method = "POST"
wrk.body = f:read("*a")
f:close()
wrk.headers["Content-Type"] = os.getenv("CONTENT_TYPE")
local expect = os.getenv("EXPECT") or ""
local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  unexpected = 0
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

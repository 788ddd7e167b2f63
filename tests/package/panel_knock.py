#!/usr/bin/env python3
# What a browser does with the panel's launch file, without a browser: the
# address from its refresh line, /open for the cookie, the page, then Quit
# through the API as the page's button does. For the installer rows that
# start the panel from the menu entry or the Start-menu shortcut.
#   panel_knock.py LAUNCH_HTML
import http.client
import re
import sys

text = open(sys.argv[1], encoding="utf-8").read()
match = re.search(r'http-equiv="refresh" content="0;url=(http://127\.0\.0\.1:(\d+)(/open\?key=[0-9a-f]+))"', text)
if not match:
    sys.exit("panel_knock: no panel address in " + sys.argv[1])
port, open_path = int(match[2]), match[3]


def ask(method, path, headers=None, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    connection.request(method, path, body=body, headers=headers or {})
    reply = connection.getresponse()
    data = reply.read().decode("utf-8", "replace")
    connection.close()
    return reply, data


reply, _ = ask("GET", open_path)
cookie = (reply.getheader("Set-Cookie") or "").split(";")[0]
if reply.status != 200 or not cookie:
    sys.exit("panel_knock: /open gave %d and cookie '%s'" % (reply.status, cookie))
reply, page = ask("GET", "/", {"Cookie": cookie})
if reply.status != 200 or not (reply.getheader("Content-Type") or "").startswith("text/html") or not page:
    sys.exit("panel_knock: / gave %d, %s" % (reply.status, reply.getheader("Content-Type")))
origin = "http://127.0.0.1:%d" % port
reply, said = ask("POST", "/api/quit", {"Cookie": cookie, "Origin": origin, "Content-Type": "application/json"}, "{}")
if reply.status != 200:
    sys.exit("panel_knock: Quit gave %d: %s" % (reply.status, said.strip()))
print("served / and quit")

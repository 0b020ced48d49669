# A mail server for the e-mail tests: aiosmtpd on 127.0.0.1, the port given
# as the first argument. Its HELO/EHLO replies name the client's address in
# square brackets; AUTH PLAIN is accepted without TLS. Prints "ready", then
# one JSON line per AUTH and per message received.
import asyncio, json, sys
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

def out(obj):
    print(json.dumps(obj), flush=True)

class Handler:
    async def handle_HELO(self, server, session, envelope, hostname):
        session.host_name = hostname
        return "250 mail Hello [%s]" % session.peer[0]

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        responses[0] = responses[0] + " Hello [%s]" % session.peer[0]
        return responses

    async def handle_DATA(self, server, session, envelope):
        out({"helo": session.host_name, "from": envelope.mail_from, "to": envelope.rcpt_tos,
             "data": envelope.content.decode("latin-1")})
        return "250 OK"

def auth(server, session, envelope, mechanism, auth_data):
    out({"auth": mechanism, "login": auth_data.login.decode("latin-1"),
         "password": auth_data.password.decode("latin-1")})
    return AuthResult(success=True)

c = Controller(Handler(), hostname="127.0.0.1", port=int(sys.argv[1]), authenticator=auth,
               auth_require_tls=False)
c.start()
print("ready", flush=True)
try:
    sys.stdin.read()
finally:
    c.stop()

"""A local OAuth 2.0 authorization server for the mail tests (HTTPS with the
test CA on loopback): a token endpoint with the refresh_token,
client_credentials, authorization_code (PKCE S256) and device_code grants,
a device authorization endpoint and an authorization endpoint the test
"browser" follows; and an SMTP sink that takes XOAUTH2 and OAUTHBEARER only
with an access token this server issued and has not revoked."""
import base64
import hashlib
import http.server
import json
import secrets
import ssl
import threading
import time
import urllib.parse

from aiosmtpd.smtp import AuthResult

from smtp_tls_util import server_context
from smtp_util import Keeper, SmtpSink

CLIENT_ID = "postrunner-test-client"
CLIENT_SECRET = "client-Secret-9q8w7e"
MAIL_USER = "mailer@src.test"


def _new(prefix):
    return prefix + secrets.token_urlsafe(18)


class AuthServer:
    """The authorization server. .requests lists the grant_type of every
    token request and .scopes its scope; .issued every access token ever issued, .valid those the
    SMTP sink takes; .refresh the refresh tokens it takes. Set .rotate to
    issue a new refresh token with every refresh; .override = (status,
    body) to answer the next token request so; .device_script lists the
    errors the device_code grant answers before it issues tokens."""

    def __init__(self, certs, expires_in=3600):
        self.lock = threading.Lock()
        self.requests = []
        self.scopes = []
        self.poll_times = []
        self.issued, self.valid = [], set()
        self.refresh = {_new("rt-")}
        self.codes = {}
        self.rotate = False
        self.override = None
        self.expires_in = expires_in
        self.device_script = []
        self.device_code = _new("dc-")
        self.user_code = "WDJB-MJHT"
        self.secrets_seen = set(self.refresh) | {CLIENT_SECRET, self.device_code}
        handler = self._handler_class()
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.httpd.socket = server_context(certs, "good").wrap_socket(
            self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.base = "https://127.0.0.1:%d" % self.port
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    @property
    def refresh_token(self):
        return next(iter(self.refresh))

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()

    def all_secrets(self):
        with self.lock:
            return set(self.secrets_seen) | set(self.issued) | set(self.codes)

    def _issue(self, with_refresh):
        token = _new("at-")
        self.issued.append(token)
        self.valid.add(token)
        answer = {"access_token": token, "token_type": "Bearer", "expires_in": self.expires_in}
        if with_refresh:
            refresh = _new("rt-")
            self.refresh.add(refresh)
            self.secrets_seen.add(refresh)
            answer["refresh_token"] = refresh
        return 200, answer

    def _client_ok(self, form):
        return (form.get("client_id") == CLIENT_ID
                and form.get("client_secret", CLIENT_SECRET) == CLIENT_SECRET)

    def token(self, form):
        grant = form.get("grant_type")
        with self.lock:
            self.requests.append(grant)
            self.scopes.append(form.get("scope"))
            if self.override:
                answer, self.override = self.override, None
                return answer
            if not self._client_ok(form):
                return 401, {"error": "invalid_client", "error_description": "unknown client"}
            if grant == "refresh_token":
                if form.get("refresh_token") not in self.refresh:
                    return 400, {"error": "invalid_grant", "error_description": "token revoked"}
                if self.rotate:
                    self.refresh.discard(form["refresh_token"])
                return self._issue(self.rotate)
            if grant == "client_credentials":
                if form.get("client_secret") != CLIENT_SECRET:
                    return 401, {"error": "invalid_client"}
                return self._issue(False)
            if grant == "authorization_code":
                return self._code_grant(form)
            if grant == "urn:ietf:params:oauth:grant-type:device_code":
                self.poll_times.append(time.monotonic())
                if form.get("device_code") != self.device_code:
                    return 400, {"error": "invalid_grant"}
                if self.device_script:
                    return 400, {"error": self.device_script.pop(0)}
                return self._issue(True)
            return 400, {"error": "unsupported_grant_type"}

    def _code_grant(self, form):
        entry = self.codes.pop(form.get("code"), None)
        verifier = form.get("code_verifier", "")
        digest = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest())
        if (entry is None or entry["redirect_uri"] != form.get("redirect_uri")
                or digest.rstrip(b"=").decode() != entry["challenge"]):
            return 400, {"error": "invalid_grant", "error_description": "bad code or verifier"}
        self.secrets_seen.add(verifier)
        return self._issue(True)

    def authorize(self, query):
        """The authorization endpoint: a 302 to the redirect URI with a new
        code (or, for an unknown client, an error)."""
        q = dict(urllib.parse.parse_qsl(query))
        target = q.get("redirect_uri", "")
        if (q.get("client_id") != CLIENT_ID or q.get("code_challenge_method") != "S256"
                or q.get("response_type") != "code"):
            fields = {"error": "access_denied", "state": q.get("state", "")}
        else:
            code = _new("code-")
            with self.lock:
                self.codes[code] = {"challenge": q["code_challenge"], "redirect_uri": target}
            fields = {"code": code, "state": q.get("state", "")}
        return target + "?" + urllib.parse.urlencode(fields)

    def _handler_class(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def _answer(self, status, body, headers=()):
                data = body if isinstance(body, bytes) else json.dumps(body).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                for name, value in headers:
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
                if self.path == "/token":
                    self._answer(*server.token(form))
                elif self.path == "/device" and form.get("client_id") == CLIENT_ID:
                    self._answer(200, {
                        "device_code": server.device_code, "user_code": server.user_code,
                        "verification_uri": server.base + "/verify",
                        "verification_uri_complete": server.base + "/verify?c=1",
                        "expires_in": 600, "interval": 1})
                else:
                    self._answer(400, {"error": "invalid_request"})

            def do_GET(self):
                path, _, query = self.path.partition("?")
                if path == "/authorize":
                    self._answer(302, b"", [("Location", server.authorize(query))])
                else:
                    self._answer(404, {"error": "not_found"})

        return Handler


class TokenKeeper(Keeper):
    """Takes XOAUTH2 and OAUTHBEARER for MAIL_USER with a token the
    AuthServer `auth` (set on the sink as .auth) holds valid, unless the
    sink's .refuse_all is set; otherwise
    sends the JSON error challenge and records the client's answer in
    sink.challenge_answers, then refuses with 535."""

    async def _judge(self, server, token):
        sink = self.sink
        sink.auth_tries.append(token)
        if token in sink.auth.valid and not sink.refuse_all:
            return AuthResult(success=True, handled=False)
        answer = await server.challenge_auth(
            '{"status":"invalid_token","schemes":"bearer"}', encode_to_b64=True)
        sink.challenge_answers.append(answer)
        return AuthResult(success=False, handled=False, message="535 5.7.8 token refused")

    async def auth_XOAUTH2(self, server, args):
        text = base64.b64decode(args[1]).decode() if len(args) == 2 else ""
        prefix, suffix = "user=%s\x01auth=Bearer " % MAIL_USER, "\x01\x01"
        token = text[len(prefix):-len(suffix)] if text.startswith(prefix) and text.endswith(suffix) else ""
        self.sink.mechanisms.append("XOAUTH2")
        return await self._judge(server, token)

    async def auth_OAUTHBEARER(self, server, args):
        text = base64.b64decode(args[1]).decode() if len(args) == 2 else ""
        head, _, rest = text.partition("\x01")
        pairs = dict(p.split("=", 1) for p in rest.split("\x01") if "=" in p)
        token = ""
        if head == "n,a=%s," % MAIL_USER and pairs.get("auth", "").startswith("Bearer "):
            token = pairs["auth"][len("Bearer "):]
        self.sink.mechanisms.append("OAUTHBEARER:" + pairs.get("host", "") + ":" +
                                     pairs.get("port", ""))
        return await self._judge(server, token)


def token_sink(certs, auth):
    """An SMTP sink speaking TLS from the first byte that takes tokens of
    `auth`."""
    sink = SmtpSink(keeper=TokenKeeper, ssl=server_context(certs, "good"),
                    auth_require_tls=False, auth_required=True)
    sink.auth = auth
    sink.auth_tries, sink.challenge_answers, sink.mechanisms = [], [], []
    sink.refuse_all = False
    return sink

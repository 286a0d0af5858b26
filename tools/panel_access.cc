// The panel's access checks and field reading.
#include "tools/panel_access.h"

#include <random>

namespace rvxctl {
namespace {

// Compares without stopping at the first difference, so that the time taken
// tells nothing about how much of a guess was right.
bool SameSecret(const std::string &a, const std::string &b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) diff |= a[i] ^ (i < b.size() ? b[i] : 0);
  return diff == 0;
}

// The value of cookie `name` in a Cookie header.
std::string CookieValue(const std::string &header, const std::string &name) {
  size_t at = 0;
  while (at < header.size()) {
    while (at < header.size() && (header[at] == ' ' || header[at] == ';')) ++at;
    const size_t end = header.find(';', at);
    const std::string pair = header.substr(at, end == std::string::npos ? end : end - at);
    if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return "";
}

bool HasToken(const AccessRules &rules, const RequestFacts &r) {
  const std::string bearer = "Bearer ";
  return (r.authorization.compare(0, bearer.size(), bearer) == 0 &&
          SameSecret(r.authorization.substr(bearer.size()), rules.token)) ||
         SameSecret(CookieValue(r.cookie, "rvx_token"), rules.token) ||
         SameSecret(r.query_token, rules.token);
}

std::string Lower(std::string text) {
  for (char &c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

}  // namespace

bool IsLoopback(const std::string &address) {
  return address == "localhost" || address == "::1" || address == "[::1]" ||
         address.compare(0, 4, "127.") == 0;
}

std::string Refusal(const AccessRules &rules, const RequestFacts &r, int *status) {
  *status = 403;
  const std::string port = ":" + std::to_string(rules.port);
  const std::string host = Lower(r.host);
  if (IsLoopback(rules.bind)) {
    // Only names that cannot be made to point elsewhere.
    const size_t colon = host.rfind(':');
    const std::string name = colon == std::string::npos ? host : host.substr(0, colon);
    if (!IsLoopback(name) || colon == std::string::npos || host.substr(colon) != port) {
      return "Host '" + r.host + "' is not this server's";
    }
  } else if (host.empty()) {
    return "no Host";
  }
  if (!r.origin.empty() && Lower(r.origin) != "http://" + host) {
    return "cross-origin request from '" + r.origin + "'";
  }
  if (r.fetch_site == "cross-site" || r.fetch_site == "same-site") {
    return "cross-origin request (" + r.fetch_site + ")";
  }
  if (!rules.token.empty() && !HasToken(rules, r)) {
    *status = 401;
    return "no valid token: open the address rvxctl serve printed, with its ?token=";
  }
  if (r.method != "GET" && r.method != "HEAD" &&
      Lower(r.content_type).compare(0, 16, "application/json") != 0) {
    *status = 415;
    return "an action is sent as application/json";
  }
  return "";
}

bool TokenInQuery(const AccessRules &rules, const RequestFacts &r) {
  return !rules.token.empty() && SameSecret(r.query_token, rules.token);
}

std::string NewToken() {
  std::random_device random;
  std::string token;
  const char *digits = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    const unsigned v = random();
    for (int n = 0; n < 4; ++n) token += digits[(v >> (4 * n)) & 15];
  }
  return token;
}

bool Field(const nlohmann::json &body, const char *name, long long lo, long long hi, long long *out,
           std::string *why) {
  const auto f = body.is_object() ? body.find(name) : body.end();
  if (!body.is_object() || f == body.end()) {
    *why = std::string("'") + name + "' is missing";
    return false;
  }
  if (!f->is_number_integer()) {
    *why = std::string("'") + name + "' is not a whole number";
    return false;
  }
  const long long v = f->is_number_unsigned() && f->get<unsigned long long>() > 1ull << 62
                          ? hi + 1
                          : f->get<long long>();
  if (v < lo || v > hi) {
    *why = std::string("'") + name + "' is out of range: " + std::to_string(lo) + ".." +
           std::to_string(hi);
    return false;
  }
  *out = v;
  return true;
}

}  // namespace rvxctl

// Who may use the panel: the checks every request passes before it reaches
// the boards, and the reading of an action's JSON fields. Kept apart from
// the HTTP library so that they can be checked on their own.
#ifndef RVX_TOOLS_PANEL_ACCESS_H_
#define RVX_TOOLS_PANEL_ACCESS_H_

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace rvxctl {

struct AccessRules {
  std::string bind;   // the address listened on
  uint16_t port = 0;  // the port listened on
  std::string token;  // empty: none asked for
};

// What a request says about where it comes from and who sends it.
struct RequestFacts {
  std::string method, host, origin, fetch_site, authorization, cookie, query_token, content_type;
};

// Whether `address` reaches this machine only (127.0.0.0/8, ::1, localhost).
bool IsLoopback(const std::string &address);

// Why a request is refused ("" when it is not) and with which HTTP status.
// A page of another site can make a browser send a request here: the Host
// must be one this server answers to (against DNS rebinding), an Origin must
// be this server's own, and an action must be JSON, which a page of another
// origin cannot send without the browser asking first. With a token, the
// request carries it: "Authorization: Bearer T", the cookie rvx_token=T or
// ?token=T.
std::string Refusal(const AccessRules &rules, const RequestFacts &request, int *status);

// Whether the token came in the query (the page then gets it as a cookie).
bool TokenInQuery(const AccessRules &rules, const RequestFacts &request);

// A fresh token: 128 random bits in hex.
std::string NewToken();

// Reads the whole number `name` of an action's body into `out` when it is
// present and within lo..hi; otherwise false with `why` set.
bool Field(const nlohmann::json &body, const char *name, long long lo, long long hi, long long *out,
           std::string *why);

}  // namespace rvxctl

#endif  // RVX_TOOLS_PANEL_ACCESS_H_

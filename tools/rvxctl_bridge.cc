// The bridge's place in the command table. Its work is in bridge_run.cc
// where libmosquitto was found at build time, else in bridge_absent.cc,
// which says so: the command and its help are the same in every build.
#include "tools/rvxctl_common.h"

namespace rvxctl {

std::vector<Command> BridgeCommands() {
  return {
      {"bridge",
       "bridge --mqtt HOST[:PORT] [--prefix TOPIC] [--machine NAME] [--period MS] "
       "[--allow-commands LIST] [--tls] [--cafile FILE] [--cert FILE --key FILE] [--user NAME "
       "--password-file FILE]",
       "publish axis state, I/O and events of every board on an MQTT broker and take the "
       "commands allowed from it, until Ctrl-C",
       {},
       {{"--mqtt", "HOST[:PORT]", "the broker (port 1883, 8883 with TLS)"},
        {"--prefix", "TOPIC", "first topic levels (default rvx)"},
        {"--machine", "NAME", "this machine's topic level (default the host name)"},
        {"--period", "MS",
         "publish a changed state at most every MS milliseconds, 10..60000 "
         "(default 100)"},
        {"--allow-commands", "LIST",
         "commands taken from the broker, comma-separated: stop, servo, output, move, jog, "
         "home, compare (default none)"},
        {"--tls", nullptr, "connect with TLS, trusting the system's certificates"},
        {"--cafile", "FILE", "connect with TLS, trusting the certificates in FILE"},
        {"--cert", "FILE", "client certificate for TLS (with --key)"},
        {"--key", "FILE", "client key for TLS (with --cert)"},
        {"--user", "NAME", "user name for the broker"},
        {"--password-file", "FILE", "the user's password, the first line of FILE"}},
       Bridge},
  };
}

}  // namespace rvxctl

// The command line parsed by CLI11 from the commands' declarations. Words
// are taken as text here; what they may be is checked by the command, once
// the boards are loaded, so that a refusal can say what this run found.
#include "tools/rvxctl_cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "platform/platform.h"

namespace rvxctl {
namespace {

// A malformed global option, with what is wrong with it.
struct BadOption {
  std::string why;
};

// Each option of every command and the global options, with what they say.
struct GlobalOption {
  const char *name;
  const char *value;  // nullptr: a switch; "[N]": an optional value
  const char *help;
};
const GlobalOption kGlobalOptions[] = {
    {"--sim", "[N]", "use N simulated boards (default 1) instead of the driver"},
    {"--modules", "BITS", "simulated identity bits 0..15 (extra expansion modules)"},
    {"--type", "CODE", "simulated board type code (1 or 3)"},
    {"--swap", nullptr, "simulated module byte swap"},
    {"--sim-inputs", "B:A:HEX",
     "active-high inputs of axis A: 02 home, 04 Z, 10 +limit, 20 -limit, 40 in-position, "
     "80 alarm"},
    {"--sim-di", "B:M:HEX", "DI register word of module M (a 0 bit is an active input)"},
    {"--sim-errors", "B:A:HEX", "error register RR2 of axis A (the stop cause)"},
    {"--sim-position", "B:A:N", "logical and real position of axis A"},
    {"--sim-drive", "POLLS",
     "simulated drives end after POLLS status reads instead of running by their speed profile"},
    {"--sim-limits", "B:A:MINUS:PLUS", "hardware limit switches of axis A at these positions"},
    {"--sim-home", "B:A:FROM:TO", "home sensor on between these positions"},
    {"--sim-near", "B:A:FROM:TO",
     "near-home sensor on between these positions (each also B:A:none). Unless told otherwise "
     "every axis has limits at -1000000 and +1000000, near-home on from -12000 to -8000 and "
     "home from -9000 to -8900, so that a home search with the default settings (mode 2, "
     "toward -) ends on home; --sim-config=machine=bare takes them all off"},
    {"--sim-z", "B:A:N", "encoder Z every N pulses"},
    {"--sim-alarm", "B:A", "a servo drive whose alarm output is on"},
    {"--sim-emergency", "B", "the emergency input of board B is on"},
    {"--sim-config", "TEXT",
     "simulator configuration as RVX_SIM takes it, e.g. "
     "\"clock=stepped;axis0.1.limits=-5000:5000\"; its keys: boards=N clock=real|stepped "
     "machine=default|bare board<B>.type|modules|swap|id|absent|emergency=N "
     "axis<B>.<A>.limits|home|near=FROM:TO|none axis<B>.<A>.z=PERIOD "
     "axis<B>.<A>.servo|alarm=0|1"},
    {"--version", nullptr, "versions of rvxctl and of the library file beside it"},
};

std::string Footer() {
  char text[1400];
  snprintf(text, sizeof text,
           "A command's own help: rvxctl COMMAND --help, or rvxctl help COMMAND.\n"
           "environment:\n"
           "  RVX_DRIVER            unset: the kernel driver (%s, ...); sim: the\n"
           "                        simulated board; a path: a driver module\n"
           "  RVX_INSTALL_DIR       folder of Parameter/, DbgLevel.ini and Debug/ (the log);\n"
           "                        default %s\n"
           "  RVX_IPC_NAMESPACE     prefix of the shared objects' names: programs meet only\n"
           "                        within one namespace\n"
           "  RVX_SIM               the simulated boards and machine, as --sim-config takes it\n"
           "exit status: 0 done; 1 refused by the library, or a move, home search or path\n"
           "stopped by a cause (limit, alarm, emergency, stop); 2 a bad command line;\n"
           "130 stopped by Ctrl-C, 129 by a closed terminal (SIGHUP), 143 by SIGTERM (the axes\n"
           "get a decelerating stop first)",
           rvx::os::DevicePath(0).c_str(), rvx::os::DefaultInstallDir());
  return text;
}

// The declaration of the command named `name`, or nullptr.
const Command *Declared(const std::string &name) {
  for (const Command &c : Commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

// Where the parse keeps the words of a command's positional or option.
std::string Key(const Command &c, const char *name) { return std::string(c.name) + " " + name; }

// The help lists each command by its synopsis, and a command's usage line is
// its synopsis.
class Formatter : public CLI::Formatter {
 public:
  std::string make_subcommand(const CLI::App *sub) const override {
    const Command *c = Declared(sub->get_name());
    return "  " + (c != nullptr ? std::string(c->synopsis) : sub->get_name() + " [COMMAND]") +
           "\n      " + sub->get_description() + "\n";
  }
  std::string make_usage(const CLI::App *app, std::string) const override {
    const Command *c = app->get_parent() != nullptr ? Declared(app->get_name()) : nullptr;
    return "usage: rvxctl " +
           std::string(c != nullptr ? c->synopsis : "[OPTIONS] COMMAND [ARGS...]") + "\n";
  }
};

// What a parse found: the command, the words of its positionals and the
// values of its options.
struct Parse {
  std::unique_ptr<CLI::App> app;
  std::map<std::string, std::vector<std::string>> positionals;  // by command
  std::map<std::string, std::string> values;                    // "move --abs" -> value
  std::string help_topic;
  bool version = false;
};

// The whole command line as declared; global options go into `options`.
void Declare(Parse *parse, Options *options) {
  parse->app = std::make_unique<CLI::App>(
      "rvxctl: command-line access to the boards, on real hardware or the simulated board",
      "rvxctl");
  CLI::App &app = *parse->app;
  app.formatter(std::make_shared<Formatter>());
  app.allow_extras();
  // A path like /tmp/path.txt is a word, on Windows too.
  app.allow_windows_style_options(false);
  app.require_subcommand(0, 1);
  app.footer(Footer());
  for (const GlobalOption &g : kGlobalOptions) {
    const std::string name = g.name;
    if (name == "--version") {
      app.add_flag(name, parse->version, g.help);
      continue;
    }
    auto take = [name, options](const CLI::results_t &results) {
      const std::string value = results.empty() ? "" : results.back();
      std::string bad;
      const bool flag = name == "--swap" || (name == "--sim" && value.empty());
      if (!TakeOption(flag ? name : name + "=" + value, options, &bad)) throw BadOption{bad};
      return true;
    };
    CLI::Option *o = name == "--swap" ? app.add_flag_callback(
                                            name, [take] { take({}); }, g.help)
                                      : app.add_option(name, CLI::callback_t(take), g.help);
    if (g.value != nullptr && g.value[0] == '[') o->expected(0, 1);
    if (g.value != nullptr) o->type_name(g.value)->trigger_on_parse();
  }
  for (const Command &c : Commands()) {
    CLI::App *sub = app.add_subcommand(c.name, c.summary);
    sub->formatter(app.get_formatter());
    sub->footer("The global options are in rvxctl --help.");
    for (const Positional &p : c.positionals) {
      const std::string key = Key(c, p.name);
      CLI::Option *o = p.max == 1
                           ? sub->add_option(p.name, parse->values[key], p.help)
                           : sub->add_option(p.name, parse->positionals[key], p.help)
                                 ->expected(static_cast<int>(p.min), static_cast<int>(p.max));
      o->type_name("");
      if (p.min > 0) o->required();
    }
    for (const Option &o : c.options) {
      std::string &value = parse->values[Key(c, o.name)];
      if (o.value == nullptr) {
        sub->add_flag_callback(
            o.name, [&value] { value = "set"; }, o.help);
      } else {
        sub->add_option(o.name, value, o.help)->type_name(o.value);
      }
    }
    if (c.runs_a_command) {
      sub->prefix_command();  // the first word that is not its own starts the command
    } else {
      sub->fallthrough();  // global options after the command's words
    }
  }
  CLI::App *help = app.add_subcommand("help", "a command's help, or this one");
  help->add_option("COMMAND", parse->help_topic, "the command");
  help->fallthrough();
}

// The command found, its words and its options as Args.
const Command *Collect(const Parse &parse, Args *args) {
  for (const Command &c : Commands()) {
    const CLI::App *sub = parse.app->get_subcommand(c.name);
    if (sub->count() == 0) continue;
    for (const Positional &p : c.positionals) {
      const std::string key = Key(c, p.name);
      if (p.max == 1 && sub->get_option(p.name)->count() != 0) {
        args->positional.push_back(parse.values.at(key));
      } else if (p.max > 1) {
        const auto &words = parse.positionals.at(key);
        args->positional.insert(args->positional.end(), words.begin(), words.end());
      }
    }
    for (const Option &o : c.options) {
      if (sub->get_option(o.name)->count() == 0) continue;
      args->flags[o.name] = o.value == nullptr ? "" : parse.values.at(Key(c, o.name));
    }
    if (c.runs_a_command) {
      for (const std::string &w : sub->remaining()) args->positional.push_back(w);
    }
    return &c;
  }
  return nullptr;
}

// What is wrong with a command's words (after its name), as a person would
// say it; empty when nothing is. Global options among them are not its.
std::string WhyRefused(const Command &c, const std::vector<std::string> &words) {
  size_t given = 0, least = 0, most = 0;
  for (const Positional &p : c.positionals) least += p.min, most += p.max;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string &w = words[i];
    if (w.rfind("--", 0) != 0) {
      ++given;
      continue;
    }
    const std::string name = w.substr(0, w.find('='));
    bool global = name == "--help";
    for (const GlobalOption &g : kGlobalOptions) global |= name == g.name;
    if (global) continue;
    const Option *option = nullptr;
    std::string all;
    for (const Option &o : c.options) {
      if (name == o.name) option = &o;
      all += (all.empty() ? "" : ", ") + std::string(o.name);
    }
    if (option == nullptr) {
      return "unknown flag " + name +
             (all.empty() ? " (it takes none)" : " (it takes " + all + ")");
    }
    if (option->value == nullptr && w.find('=') != std::string::npos) {
      return name + " takes no value";
    }
    if (option->value != nullptr && w.find('=') == std::string::npos && ++i == words.size()) {
      return name + " needs a value";
    }
  }
  if (given >= least && given <= most) return "";
  return std::to_string(given) + " argument" + (given == 1 ? "" : "s") + " given, it takes " +
         std::to_string(least) + (most == least ? "" : " to " + std::to_string(most));
}

const CLI::App *ParsedCommand(const CLI::App &app) {
  for (const CLI::App *sub : app.get_subcommands()) {
    if (sub->count() != 0) return sub;
  }
  return nullptr;
}

// Refuses the words of command `sub` (`words` reversed, as CLI11 takes
// them) with what is wrong with them and the usage; -1 when nothing is,
// unless `always`.
int RefuseWords(const CLI::App &sub, std::vector<std::string> words, bool always = false) {
  std::reverse(words.begin(), words.end());
  const auto at = std::find(words.begin(), words.end(), sub.get_name());
  const Command *c = Declared(sub.get_name());
  std::string why;
  if (c != nullptr && !c->runs_a_command && at != words.end()) {
    why = WhyRefused(*c, std::vector<std::string>(at + 1, words.end()));
  }
  if (why.empty() && !always) return -1;
  fflush(stdout);
  if (!why.empty()) fprintf(stderr, "rvxctl: %s: %s\n", sub.get_name().c_str(), why.c_str());
  fprintf(stderr, "%s", Formatter().make_usage(&sub, "").c_str());
  return 2;
}

// Parses `words` (words[0] the tool); -1 to go on, else the exit status.
int Run(Parse *parse, std::vector<std::string> words, Options *options, const Command **command,
        Args *args) {
  Declare(parse, options);
  CLI::App &app = *parse->app;
  std::reverse(words.begin(), words.end());
  words.pop_back();
  const std::vector<std::string> given = words;  // the parse takes them
  try {
    app.parse(words);
  } catch (const BadOption &bad) {
    fprintf(stderr, "rvxctl: bad option: %s (see rvxctl --help)\n", bad.why.c_str());
    return 2;
  } catch (const CLI::CallForHelp &) {
    printf("%s", app.help().c_str());
    return 0;
  } catch (const CLI::ParseError &e) {
    const CLI::App *sub = ParsedCommand(app);
    if (sub == nullptr || sub->get_name() == "help") {
      fprintf(stderr, "rvxctl: %s (see rvxctl --help)\n", e.what());
      return 2;
    }
    return RefuseWords(*sub, given, true);
  }
  const CLI::App *sub = ParsedCommand(app);
  const std::vector<std::string> extra = app.remaining();
  if (sub != nullptr && sub->get_name() == "help") {
    const CLI::App *topic =
        Declared(parse->help_topic) != nullptr ? app.get_subcommand(parse->help_topic) : nullptr;
    if (!parse->help_topic.empty() && topic == nullptr) {
      fprintf(stderr, "rvxctl: unknown command '%s' (see rvxctl --help)\n",
              parse->help_topic.c_str());
      return 2;
    }
    printf("%s", topic != nullptr ? topic->help().c_str() : app.help().c_str());
    return 0;
  }
  if (sub == nullptr && !extra.empty()) {
    fprintf(stderr, "rvxctl: unknown %s '%s' (see rvxctl --help)\n",
            extra[0].rfind("-", 0) == 0 ? "option" : "command", extra[0].c_str());
    return 2;
  }
  if (sub != nullptr && !extra.empty()) return RefuseWords(*sub, given, true);
  if (sub != nullptr && RefuseWords(*sub, given) >= 0) return 2;
  *command = Collect(*parse, args);
  return -1;
}

}  // namespace

const std::vector<Command> &Commands() {
  static const std::vector<Command> commands = [] {
    std::vector<Command> all;
    for (auto family : {BoardCommands, MotionCommands, SetupCommands, PathCommands, EventCommands,
                        BridgeCommands, SimCommands, ServeCommands}) {
      for (Command &c : family()) all.push_back(std::move(c));
    }
    return all;
  }();
  return commands;
}

int ParseCommandLine(int argc, char **argv, Options *options, const Command **command, Args *args,
                     bool *version) {
  Parse parse;
  const int status =
      Run(&parse, std::vector<std::string>(argv, argv + argc), options, command, args);
  *version = parse.version;
  if (status >= 0) return status;
  if (*command != nullptr) {
    options->words.assign(1, (*command)->name);
    options->words.insert(options->words.end(), args->positional.begin(), args->positional.end());
  }
  return -1;
}

int ParseCommandWords(const std::vector<std::string> &words, const Command **command, Args *args) {
  Parse parse;
  Options ignored;
  std::vector<std::string> line = {"rvxctl"};
  line.insert(line.end(), words.begin(), words.end());
  const int status = Run(&parse, line, &ignored, command, args);
  return status >= 0 ? status : *command == nullptr ? 2 : -1;
}

void PrintCompletions(size_t index, const std::vector<std::string> &words) {
  const std::string current = index < words.size() ? words[index] : "";
  const Command *command = nullptr;
  bool help = false;
  for (size_t i = 1; i < index && i < words.size() && command == nullptr && !help; ++i) {
    command = Declared(words[i]);
    help = words[i] == "help";
  }
  std::vector<std::string> candidates;
  if (current.rfind("-", 0) == 0) {
    if (command != nullptr) {
      for (const Option &o : command->options) candidates.push_back(o.name);
    }
    for (const GlobalOption &g : kGlobalOptions) candidates.push_back(g.name);
    candidates.push_back("--help");
  } else if (command == nullptr) {
    for (const Command &c : Commands()) candidates.push_back(c.name);
    if (!help) candidates.push_back("help");
  } else if (std::string(command->name) == "sim") {
    candidates = {"start", "status", "step", "stop"};
  }
  for (const std::string &c : candidates) {
    if (c.rfind(current, 0) == 0) printf("%s\n", c.c_str());
  }
}

}  // namespace rvxctl

// rvxctl's help and bash completion, both made from its command table: every
// command has --help, the completion script completes commands and options,
// and the README lists the commands as the tool's --help does.
#include <sstream>
#include <tuple>

#include "tests/support.h"

namespace rvx::test {
namespace {

// What the completion script offers for `line` (the words typed, the last
// one being completed).
std::string Complete(const std::string& line) {
  const std::string script = std::string(RVX_SOURCE_DIR) + "/tools/rvxctl-completion.bash";
  std::string output;
  const int status = RunCommand(
      "bash -c 'source " + script + "; COMP_WORDS=(" RVX_CTL_PATH " " + line +
          "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _rvxctl; printf \"%s \" \"${COMPREPLY[@]}\"'",
      &output);
  EXPECT_EQ(status, 0) << output;
  return output;
}

TEST(RvxctlHelpTest, CompletionOffersCommandsAndTheirOptions) {
  // Words typed, what the completion offers.
  const std::pair<const char*, const char*> cases[] = {
      {"mo", "move "},
      {"--sim home 0 1 --ti", "--timeout "},
      {"help al", "alarm-reset "},
      {"sim st", "start status step stop "},
      {"move 0 1 100 --a", "--abs "},
  };
  for (const auto& [line, offered] : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Complete(line), offered);
  }
}

// The commands as the completion lists them, each with its own help.
TEST(RvxctlHelpTest, EveryCommandHasItsHelp) {
  std::string names;
  ASSERT_EQ(RunCommand(std::string(RVX_CTL_PATH) + " --complete 1 rvxctl ''", &names), 0);
  std::istringstream list(names);
  int count = 0;
  for (std::string name; std::getline(list, name); ++count) {
    SCOPED_TRACE(name);
    std::string help, again;
    EXPECT_EQ(RunCommand(std::string(RVX_CTL_PATH) + " " + name + " --help", &help), 0);
    if (name == "help") continue;
    EXPECT_NE(help.find("usage: rvxctl " + name), std::string::npos) << help;
    EXPECT_EQ(RunCommand(std::string(RVX_CTL_PATH) + " help " + name, &again), 0);
    EXPECT_EQ(help, again);
  }
  EXPECT_GE(count, 24);
  std::string output;
  EXPECT_EQ(RunCommand(std::string(RVX_CTL_PATH) + " help frob", &output), 2);
  EXPECT_NE(output.find("rvxctl: unknown command 'frob' (see rvxctl --help)"), std::string::npos);
}

// --version and --help stand anywhere, the command's words given or not.
TEST(RvxctlHelpTest, VersionAndHelpStandAnywhere) {
  const std::string tool = "RVX_IPC_NAMESPACE=rvxctl-help-test- " RVX_CTL_PATH;
  // Arguments, exit status, a part of the output.
  const std::tuple<const char*, int, const char*> cases[] = {
      {"--sim --version", 0, " built in)\n"},
      {"--sim move 0 1 100 --version", 0, " built in)\n"},
      {"move 0 1 --help", 0, "usage: rvxctl move BOARD"},
      {"--sim io 0 set --help", 0, "usage: rvxctl io BOARD"},
  };
  for (const auto& [args, status, expected] : cases) {
    SCOPED_TRACE(args);
    std::string output;
    EXPECT_EQ(RunCommand(tool + " " + args, &output), status) << output;
    EXPECT_NE(output.find(expected), std::string::npos) << output;
  }
}

TEST(RvxctlHelpTest, ReadmeListsTheCommandsAsTheToolDoes) {
  std::string help;
  ASSERT_EQ(RunCommand(std::string(RVX_CTL_PATH) + " --help", &help), 0);
  const std::string commands = help.substr(help.find("Subcommands:"));
  const std::string readme = ReadFile(std::string(RVX_SOURCE_DIR) + "/README.md");
  EXPECT_NE(readme.find(commands.substr(0, commands.find("\n\n"))), std::string::npos)
      << "the README's command list is not rvxctl --help's:\n"
      << commands;
}

}  // namespace
}  // namespace rvx::test

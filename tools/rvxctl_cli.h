// rvxctl's command line, parsed from the commands' declarations: the same
// declarations give the help and the shell's completion.
#ifndef RVX_TOOLS_RVXCTL_CLI_H_
#define RVX_TOOLS_RVXCTL_CLI_H_

#include <string>
#include <vector>

#include "tools/rvxctl_common.h"
#include "tools/rvxctl_sim.h"

namespace rvxctl {

// Every command, in the order of the help.
const std::vector<Command> &Commands();

// The global options into `options`, the command and its words into
// `command` and `args` (options.words: the command and its positionals).
// -1 to go on; otherwise the exit status, the help or the refusal printed.
int ParseCommandLine(int argc, char **argv, Options *options, const Command **command, Args *args,
                     bool *version);

// The words of a command run by another (scope), as the command line gives
// them; -1 to go on, or 2 with the refusal printed.
int ParseCommandWords(const std::vector<std::string> &words, const Command **command, Args *args);

// The completions of word `index` of `words` (words[0] the tool), one a
// line: commands, their options and the global options.
void PrintCompletions(size_t index, const std::vector<std::string> &words);

}  // namespace rvxctl

#endif  // RVX_TOOLS_RVXCTL_CLI_H_

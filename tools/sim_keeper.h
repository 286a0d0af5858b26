// The keeper of a simulated board that outlives single runs of rvxctl: a
// background rvxctl process that holds the simulator and the loaded library
// until told to stop. Keeper and tool meet in a small named section of the
// IPC namespace.
#ifndef RVX_TOOLS_SIM_KEEPER_H_
#define RVX_TOOLS_SIM_KEEPER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace rvxctl {

// The section's name within the namespace (RVX_IPC_NAMESPACE is put before it).
inline constexpr char kKeeperSectionName[] = "RVXCTL-KEEPER-3B9E";

// The process id of the live keeper of this namespace, or 0.
uint32_t KeeperProcess();
// While a keeper is being started: its process id (the starter's until it
// has one), and in `starter` the rvxctl that starts it; otherwise 0.
uint32_t StartingKeeper(uint32_t* starter);
// Starts `args` (an rvxctl command line that ends in "sim keep") detached and
// waits until it holds the board; 0, or 1 with the reason on stderr.
int StartKeeper(const std::vector<std::string>& args);
// In the keeper, once the board is loaded: tells the starter so, then waits
// for StopKeeper.
void ServeUntilStopped();
// In the keeper when the board could not be loaded: lets the starter go.
void KeeperFailed();
// In the keeper once the boards are unloaded: lets StopKeeper return.
void KeeperStopped();
// Tells the keeper to unload and waits until it has; false when none runs.
bool StopKeeper();

}  // namespace rvxctl

#endif  // RVX_TOOLS_SIM_KEEPER_H_

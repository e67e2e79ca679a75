// Who may use the control socket: root, the server's own user, and members of
// the operators' group, told by the kernel's credentials of the peer
// (SO_PEERCRED, SO_PEERGROUPS), not by anything the peer says.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace paxelle {

inline constexpr char kOperatorGroupName[] = "paxelle-operator";

struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups at connect time
};

// The credentials of the peer of connected Unix socket `fd`; nullopt when the
// kernel does not tell them.
std::optional<PeerCredentials> PeerOf(int fd);

// Whether `peer` may use a server running as `serverUid`, with `operatorGroup`
// the operators' group id when that group exists.
bool PeerAllowed(const PeerCredentials& peer, uid_t serverUid, std::optional<gid_t> operatorGroup);

// The id of group `name`, when it exists.
std::optional<gid_t> GroupId(const std::string& name);

}  // namespace paxelle

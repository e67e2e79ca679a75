#include "app/control/PeerAccess.h"

#include <grp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace paxelle {

std::optional<PeerCredentials> PeerOf(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
  PeerCredentials peer{credentials.pid, credentials.uid, credentials.gid, {}};
  // The groups the peer held when it connected; without them only the primary
  // group counts.
  std::vector<gid_t> groups(64);
  length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) != 0 && errno == ERANGE) {
    groups.resize(length / sizeof(gid_t) + 1);
    length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) != 0) length = 0;
  } else if (length > groups.size() * sizeof(gid_t)) {
    length = 0;
  }
  groups.resize(length / sizeof(gid_t));
  peer.groups = std::move(groups);
  return peer;
}

bool PeerAllowed(const PeerCredentials& peer, uid_t serverUid, std::optional<gid_t> operatorGroup) {
  if (peer.uid == 0 || peer.uid == serverUid) return true;
  if (!operatorGroup) return false;
  return peer.gid == *operatorGroup ||
         std::find(peer.groups.begin(), peer.groups.end(), *operatorGroup) != peer.groups.end();
}

std::optional<gid_t> GroupId(const std::string& name) {
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return found->gr_gid;
}

}  // namespace paxelle

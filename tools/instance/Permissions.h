// Who may open a device: the user and the groups, and the advice when the user may not.
#pragma once

#include <string>
#include <vector>

namespace instance {

struct UserInfo {
    unsigned uid = 0;
    std::string name;
    std::vector<unsigned> processGroups; // the groups this login has now
    std::vector<unsigned> memberGroups;  // the groups the group database lists the user in
};

struct DeviceOwner {
    unsigned mode = 0; // permission bits
    unsigned uid = 0, gid = 0;
    std::string ownerName, groupName;
};

// What grants the user a device it may not open: the group that owns the device, whether the
// user is in it (in the group database, and in this login), or a rule when no group may.
std::string PermissionAdvice(const DeviceOwner& device, const UserInfo& user);

// "0660"
std::string OctalMode(unsigned mode);

} // namespace instance

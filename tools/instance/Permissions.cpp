#include "Permissions.h"

#include <algorithm>
#include <cstdio>

namespace instance {
namespace {

bool Contains(const std::vector<unsigned>& list, unsigned value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

std::string OctalMode(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

std::string PermissionAdvice(const DeviceOwner& device, const UserInfo& user) {
    const std::string& group = device.groupName;
    if ((device.mode & 060) != 060) {
        return "its mode " + OctalMode(device.mode) + " lets only " + device.ownerName +
               " use it; give it to a group with a udev rule (GROUP=\"dialout\", MODE=\"0660\")";
    }
    if (Contains(user.processGroups, device.gid)) {
        return "you are in its group " + group +
               " and still refused: look for an access control list (getfacl) or a security "
               "module";
    }
    if (Contains(user.memberGroups, device.gid)) {
        return user.name + " was added to group " + group +
               " after this login began: log out and back in (or start a shell with: newgrp " +
               group + ")";
    }
    return "the device belongs to group " + group + ": sudo usermod -aG " + group + " " +
           user.name + ", then log out and back in";
}

} // namespace instance

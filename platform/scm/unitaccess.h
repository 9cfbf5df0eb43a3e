// The access rights asked for when a service is opened, and the check that this process holds
// them on this PC: a handle is refused at once, before anything is changed, rather than a call
// failing half way (a service stopped and then not reconfigured for want of rights).
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t SERVICE_QUERY_CONFIG = 0x0001;
constexpr uint32_t SERVICE_CHANGE_CONFIG = 0x0002;
constexpr uint32_t SERVICE_QUERY_STATUS = 0x0004;
constexpr uint32_t SERVICE_START = 0x0010;
constexpr uint32_t SERVICE_STOP = 0x0020;

namespace ferrix {

// The text every refusal starts with.
extern const char* const AccessDeniedText;

// Raises EOSError (EACCES) "Access is denied. ..." saying what is missing when this process lacks
// one of the rights for the unit: SERVICE_CHANGE_CONFIG needs write access to the place of the
// unit's drop-ins; SERVICE_START and SERVICE_STOP need, from a user other than root on the
// system manager, polkit's leave to manage units. The other rights need nothing more than a
// unit the manager knows.
void CheckUnitAccess(const std::string& unit, uint32_t access);

// Raises the same refusal when a handle opened with granted is used for a call that needs
// wanted.
void CheckHandleAccess(uint32_t granted, uint32_t wanted);

// The directory, or its nearest existing parent, that writing the unit's drop-ins needs; and
// whether this process may write there with its effective (file-system) ids.
std::string DropInPlace(const std::string& unit);
bool MayWriteTo(const std::string& dir, int& error);

}  // namespace ferrix

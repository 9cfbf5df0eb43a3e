#include "platform/scm/managerbus.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "base/sysutils.h"

namespace ferrix {

namespace {

constexpr const char* ManagerService = "org.freedesktop.systemd1";
constexpr const char* ManagerPath = "/org/freedesktop/systemd1";
constexpr const char* ManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* UnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* JobInterface = "org.freedesktop.systemd1.Job";
constexpr const char* ServiceInterface = "org.freedesktop.systemd1.Service";

// Frees a bus error, message or text at the end of a scope.
struct TBusError {
    sd_bus_error Error = SD_BUS_ERROR_NULL;
    ~TBusError() { sd_bus_error_free(&Error); }
};

struct TBusMessage {
    sd_bus_message* Message = nullptr;
    ~TBusMessage() { sd_bus_message_unref(Message); }
};

struct TBusText {
    char* Text = nullptr;
    ~TBusText() { std::free(Text); }
};

[[noreturn]] void RaiseBusError(int r, const sd_bus_error& error, const std::string& context)
{
    const int code = r < 0 ? -r : EIO;
    std::string message = error.message != nullptr ? error.message : std::strerror(code);
    if (!context.empty())
        message = context + ": " + message;
    throw EOSError(message, code);
}

void Check(int r, const TBusError& error, const std::string& context = std::string())
{
    if (r < 0)
        RaiseBusError(r, error.Error, context);
}

}  // namespace

bool UseUserManager()
{
    const char* manager = std::getenv("FERRIX_SERVICE_MANAGER");
    return manager != nullptr && SameText(manager, "user");
}

namespace {

std::string PrivateSocketAddress()
{
    if (!UseUserManager())
        return "unix:path=/run/systemd/private";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::string("unix:path=") + (runtime != nullptr ? runtime : "") + "/systemd/private";
}

int OpenPrivate(sd_bus** bus)
{
    int r = sd_bus_new(bus);
    if (r < 0)
        return r;
    const std::string address = PrivateSocketAddress();
    if ((r = sd_bus_set_address(*bus, address.c_str())) < 0 || (r = sd_bus_start(*bus)) < 0) {
        *bus = sd_bus_unref(*bus);
        return r;
    }
    return 0;
}

}  // namespace

namespace {

// This process's start time in clock ticks since boot (field 22 of /proc/self/stat), which with
// the pid names the process to polkit.
uint64_t ProcessStartTime()
{
    std::ifstream file("/proc/self/stat");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string field;
    for (int number = 3; number <= 22 && (fields >> field); ++number) {
    }
    return std::strtoull(field.c_str(), nullptr, 10);
}

}  // namespace

bool PolkitAllowsManagingUnits()
{
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return false;
    TBusError error;
    TBusMessage reply;
    // Subject unix-process (pid, start-time), no details, flags 0: no interaction.
    const int r = sd_bus_call_method(bus, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                                     "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization", &error.Error,
                                     &reply.Message, "(sa{sv})sa{ss}us", "unix-process", 2, "pid", "u",
                                     static_cast<uint32_t>(::getpid()), "start-time", "t", ProcessStartTime(),
                                     "org.freedesktop.systemd1.manage-units", 0, 0u, "");
    int authorized = 0;
    int challenge = 0;
    const bool answered = r >= 0 && sd_bus_message_enter_container(reply.Message, 'r', "bba{ss}") >= 0 &&
                          sd_bus_message_read(reply.Message, "bb", &authorized, &challenge) >= 0;
    sd_bus_flush_close_unref(bus);
    return answered && authorized != 0;
}

TManagerBus::TManagerBus(TRoute route)
{
    int r;
    if (route == TRoute::Private)
        r = OpenPrivate(&Bus);
    else
        r = UseUserManager() ? sd_bus_open_user(&Bus) : sd_bus_open_system(&Bus);
    if (r < 0) {
        Bus = nullptr;
        const char* which = UseUserManager() ? "the user's service manager" : "the system's service manager";
        throw EOSError(std::string("Cannot connect to ") + which + ": " + std::strerror(-r), -r);
    }
}

TManagerBus::~TManagerBus()
{
    sd_bus_flush_close_unref(Bus);
}

std::string TManagerBus::ManagerProperty(const char* name)
{
    TBusError error;
    TBusText text;
    Check(sd_bus_get_property_string(Bus, ManagerService, ManagerPath, ManagerInterface, name, &error.Error, &text.Text),
          error);
    return text.Text;
}

std::string TManagerBus::LoadUnit(const std::string& unit)
{
    TBusError error;
    TBusMessage reply;
    Check(sd_bus_call_method(Bus, ManagerService, ManagerPath, ManagerInterface, "LoadUnit", &error.Error,
                             &reply.Message, "s", unit.c_str()),
          error);
    const char* path = nullptr;
    Check(sd_bus_message_read(reply.Message, "o", &path), error);
    const std::string result = path;
    if (UnitProperty(result, "LoadState") == "not-found") {
        // The manager keeps why it could not load the unit.
        TBusMessage loadError;
        Check(sd_bus_get_property(Bus, ManagerService, result.c_str(), UnitInterface, "LoadError", &error.Error,
                                  &loadError.Message, "(ss)"),
              error);
        const char* name = nullptr;
        const char* message = nullptr;
        Check(sd_bus_message_read(loadError.Message, "(ss)", &name, &message), error);
        throw EOSError(message != nullptr && *message != '\0' ? message : "Unit " + unit + " not found.", ENOENT);
    }
    return result;
}

std::string TManagerBus::UnitProperty(const std::string& path, const char* name)
{
    TBusError error;
    TBusText text;
    Check(sd_bus_get_property_string(Bus, ManagerService, path.c_str(), UnitInterface, name, &error.Error, &text.Text),
          error);
    return text.Text;
}

TUnitState TManagerBus::QueryUnit(const std::string& unitPath)
{
    TUnitState state;
    state.ActiveState = UnitProperty(unitPath, "ActiveState");
    TBusError error;
    TBusMessage job;
    Check(sd_bus_get_property(Bus, ManagerService, unitPath.c_str(), UnitInterface, "Job", &error.Error, &job.Message,
                              "(uo)"),
          error);
    uint32_t jobId = 0;
    const char* jobPath = nullptr;
    Check(sd_bus_message_read(job.Message, "(uo)", &jobId, &jobPath), error);
    if (jobId != 0) {
        TBusText type;
        // The job may end between the two reads; it then has no type any more.
        if (sd_bus_get_property_string(Bus, ManagerService, jobPath, JobInterface, "JobType", &error.Error,
                                       &type.Text) >= 0)
            state.JobType = type.Text;
    }
    return state;
}

std::string TManagerBus::ServiceProgram(const std::string& unitPath)
{
    TBusError error;
    TBusMessage reply;
    // ExecStart: per command its path, arguments, whether a failure is ignored, and its last run.
    Check(sd_bus_get_property(Bus, ManagerService, unitPath.c_str(), ServiceInterface, "ExecStart", &error.Error,
                              &reply.Message, "a(sasbttttuii)"),
          error);
    Check(sd_bus_message_enter_container(reply.Message, 'a', "(sasbttttuii)"), error);
    const int r = sd_bus_message_enter_container(reply.Message, 'r', "sasbttttuii");
    Check(r, error);
    if (r == 0)
        throw EOSError("The unit " + unitPath + " starts no program", ENOENT);
    const char* path = nullptr;
    Check(sd_bus_message_read(reply.Message, "s", &path), error);
    return path;
}

void TManagerBus::CallUnitMethod(const char* method, const std::string& unit, const char* mode)
{
    TBusError error;
    TBusMessage reply;
    const int r = mode != nullptr
                      ? sd_bus_call_method(Bus, ManagerService, ManagerPath, ManagerInterface, method, &error.Error,
                                           &reply.Message, "ss", unit.c_str(), mode)
                      : sd_bus_call_method(Bus, ManagerService, ManagerPath, ManagerInterface, method, &error.Error,
                                           &reply.Message, "s", unit.c_str());
    Check(r, error);
}

void TManagerBus::StartUnit(const std::string& unit)
{
    CallUnitMethod("StartUnit", unit, "replace");
}

void TManagerBus::StopUnit(const std::string& unit)
{
    CallUnitMethod("StopUnit", unit, "replace");
}

void TManagerBus::ResetFailedUnit(const std::string& unit)
{
    CallUnitMethod("ResetFailedUnit", unit, nullptr);
}

void TManagerBus::Reload()
{
    TBusError error;
    TBusMessage reply;
    Check(sd_bus_call_method(Bus, ManagerService, ManagerPath, ManagerInterface, "Reload", &error.Error,
                             &reply.Message, ""),
          error);
}

void TManagerBus::CallUnitFilesMethod(const char* method, const std::string& unit, bool withForce)
{
    TBusError error;
    TBusMessage call;
    TBusMessage reply;
    Check(sd_bus_message_new_method_call(Bus, &call.Message, ManagerService, ManagerPath, ManagerInterface, method),
          error);
    char* files[] = {const_cast<char*>(unit.c_str()), nullptr};
    Check(sd_bus_message_append_strv(call.Message, files), error);
    // runtime = false: the link lives in the unit directory, not under /run
    const int r = withForce ? sd_bus_message_append(call.Message, "bb", 0, 1)
                            : sd_bus_message_append(call.Message, "b", 0);
    Check(r, error);
    Check(sd_bus_call(Bus, call.Message, 0, &error.Error, &reply.Message), error);
}

void TManagerBus::EnableUnitFile(const std::string& unit)
{
    CallUnitFilesMethod("EnableUnitFiles", unit, true);
}

void TManagerBus::DisableUnitFile(const std::string& unit)
{
    CallUnitFilesMethod("DisableUnitFiles", unit, false);
}

}  // namespace ferrix

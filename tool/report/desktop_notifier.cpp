#include "report/desktop_notifier.hpp"

#include <filesystem>
#include <system_error>

namespace mp {
namespace fs = std::filesystem;

std::optional<std::string> session_bus_address(const char* bus_address_variable, const char* runtime_dir)
{
    if (bus_address_variable && *bus_address_variable)
        return std::string(bus_address_variable);
    if (runtime_dir && *runtime_dir && fs::path(runtime_dir).is_absolute()) {
        const fs::path socket = fs::path(runtime_dir) / "bus";
        std::error_code ec;
        if (fs::is_socket(socket, ec))
            return "unix:path=" + socket.string();
    }
    return std::nullopt;
}

}  // namespace mp

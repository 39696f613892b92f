// Linked into every test program: before main() runs, the program gets a
// home of its own. HOME and the XDG base folders (settings, data, state,
// caches, runtime) point into a fresh temporary folder, removed when the
// program ends, and the session bus is cut off. So neither the test program
// nor anything it starts (the window, mp.exe, ffmpeg, the validators) reads
// the settings of the person running the tests, writes into their home, or
// shows anything on their desktop: not under CTest, and not when a test
// program is run by hand either.
//
// A test that wants a bus starts one of its own (tests/bus_support) and hands
// its address to its children. TCDEMUX_NOTIFY is removed too, so that only a
// test that asks for mp.exe's reports gets them, whatever the caller's shell
// has set.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {
namespace fs = std::filesystem;

[[noreturn]] void give_up(const std::string& what)
{
    // Better no test at all than one that runs on the user's own home.
    std::fprintf(stderr, "test program: cannot set up a private home: %s\n", what.c_str());
    std::_Exit(1);
}

fs::path make_folder(const fs::path& path)
{
    std::error_code error;
    fs::create_directories(path, error);
    if (error)
        give_up(path.string() + ": " + error.message());
    return path;
}

void set_variable(const char* name, const fs::path& value)
{
    if (setenv(name, value.c_str(), 1) != 0)
        give_up(std::string("setenv ") + name);
}

class PrivateEnvironment {
public:
    PrivateEnvironment()
    {
        std::error_code error;
        const fs::path temp = fs::temp_directory_path(error);
        if (error)
            give_up("no temporary folder: " + error.message());
        std::string pattern = (temp / "tcdemux-test-home-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            give_up("mkdtemp in " + temp.string());
        root_ = pattern;

        const fs::path home = make_folder(root_ / "home");
        set_variable("HOME", home);
        set_variable("XDG_CONFIG_HOME", make_folder(home / ".config"));
        set_variable("XDG_DATA_HOME", make_folder(home / ".local" / "share"));
        set_variable("XDG_STATE_HOME", make_folder(home / ".local" / "state"));
        set_variable("XDG_CACHE_HOME", make_folder(home / ".cache"));
        // A runtime folder without a bus socket, private as the XDG rules
        // (and Qt's check of them) want it: the user's own bus socket lives
        // in the user's runtime folder.
        const fs::path runtime = make_folder(root_ / "runtime");
        if (chmod(runtime.c_str(), 0700) != 0)
            give_up("chmod " + runtime.string());
        set_variable("XDG_RUNTIME_DIR", runtime);
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE",
                                 "TCDEMUX_NOTIFY"})
            unsetenv(name);
    }

    ~PrivateEnvironment()
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    PrivateEnvironment(const PrivateEnvironment&) = delete;
    PrivateEnvironment& operator=(const PrivateEnvironment&) = delete;

private:
    fs::path root_;
};

// Ahead of every other static object, so none of them sees the user's
// environment.
__attribute__((init_priority(101))) const PrivateEnvironment private_environment;

}  // namespace
